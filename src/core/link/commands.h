// The one worker thread that carries requests to the controller, up to three
// attempts each, and hands the result back to whoever loaded the request.
#pragma once

#include <functional>
#include <memory>

#include "core/link/frame.h"
#include "core/link/line.h"
#include "core/link/requester.h"

class TAttemptObserver;

class TCommands : public TRequester {
  public:
    // The completion is called on the worker thread once the worker is idle again (a
    // Load made from inside it, or right after it, is never lost). It gets copies of the
    // reply buffers, so a requester that has gone away meanwhile costs nothing.

    // Starts the thread. `observer` (optional, e.g. a TLineTrace) hears of every attempt.
    explicit TCommands(TLine& link, TAttemptObserver* observer = nullptr);
    ~TCommands();  // stops and joins the thread; not to be called from a completion

    // Only while idle: at the start of a dialog or after the previous completion.
    void Load(const FrameHeader& request, const FrameData& requestData, Completion done) override;
    void LoadWith(const FrameHeader& request, const FrameData& requestData,
                  const RequestOptions& options, Completion done) override;

    // Up to three transactions (the request's attempts) on the loaded request; the last
    // attempt's code.
    int RunAttempts();

    // How long the line must stay silent after a timed-out attempt before the next
    // request: the reply wait (116 ms) plus three character times.
    static int QuietMs();

    // No request waiting or in flight.
    bool Idle() const;

  private:
    void Execute();       // the thread body
    void WaitForQuiet();  // reads until the line is quiet for QuietMs, then purges

    struct Impl;
    std::unique_ptr<Impl> d;
};
