// Brings the command worker's completions back to the user-interface thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "core/link/commands.h"
#include "core/link/frame.h"

// What a dialog needs of the worker: load one request, hear about its end on the
// user-interface thread. The real one is TCommands; tests give a scripted one.
class CommandRunner {
  public:
    using Done =
        std::function<void(int result, const FrameHeader& reply, const FrameData& replyData)>;
    virtual ~CommandRunner() = default;
    // `done` runs later on the user-interface thread, and never once `receiver` is gone.
    virtual void Load(const FrameHeader& request, const FrameData& requestData, QObject* receiver,
                      Done done) = 0;
};

// Wraps a TCommands completion (which runs on the worker thread) so that `done` runs
// on the user-interface thread, and only while `receiver` still exists.
TCommands::Completion PostToUi(QObject* receiver, CommandRunner::Done done);

// The real runner over the one worker.
class TCommandsRunner : public CommandRunner {
  public:
    explicit TCommandsRunner(TCommands& worker) : worker_(worker) {}
    void Load(const FrameHeader& request, const FrameData& requestData, QObject* receiver,
              Done done) override;
    TCommands& Worker() { return worker_; }

  private:
    TCommands& worker_;
};

// The process-wide runner every dialog uses (set by the main window when it creates the
// worker; tests set a scripted one). Without one, requests fail as unsent.
CommandRunner& AppRunner();
void SetAppRunner(CommandRunner* runner);

// The pause between two dialogs or two steps: the event loop keeps running, so the
// windows stay alive; never a sleep on the user-interface thread.
void PauseMs(int ms);
