// The reader poll shared by the key capture dialogs and the command line: asks the
// controller for the key at its reader (0x43), and while the reply carries none asks
// again after the pause, until a key arrives, the link fails, or the poll is stopped.
// A capture that the operator starts checks the link first (CheckLinkFirst), so that a
// controller that does not answer is reported before anybody is asked for a key.
#pragma once

#include <functional>

#include "core/jobs/job_host.h"
#include "core/keys/key_code.h"
#include "core/link/command_set.h"

// The caption of the box that a failing poll shows.
extern const char* const ReaderPollErrorCaption;  // "Ошибка связи с контроллером"

class TReaderPollJob : public TJobBase {
  public:
    explicit TReaderPollJob(TReaderPollHost& host);

    // The dialog is on screen: the link check, or the first poll, goes out at once.
    void Start() override;
    // The pause after an empty reply is over: poll again (unless stopped meanwhile).
    void OnStep(int step) override;
    // A key ends the poll and is reported through KeyRead; a failure shows one box and
    // closes the job with Cancel; an empty reply asks again after the pause. Ignored
    // once the poll has stopped.
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    // Cancel, close, "Сбросить": no further request, and the completion of one still in
    // flight is dropped.
    void Stop();
    // The dialog's waiting flag (its blinking timer runs exactly while this holds).
    bool Waiting() const { return waiting_; }

    // Runs on the host's side when a key has been read (the poll has stopped then).
    std::function<void(KeyCode code)> KeyRead;
    // Runs when the link check has been answered; the first poll follows after the pause.
    std::function<void()> LinkChecked;

    // Set before Start: the link check (0x02) goes first, and only its success, after the
    // pause, starts the polling. A failed check ends the job like a failed poll.
    bool CheckLinkFirst = false;
    // The link check is on the line.
    bool Checking() const { return checking_; }

    // The request as it is sent every time, and copies of the last successful reply.
    FrameHeader Request{};
    FrameData RequestData{};
    FrameHeader Reply{};
    FrameData ReplyData{};
    // Polls sent so far, the link check not counted (the poll has no limit of its own).
    int Polls = 0;
    // The result of the last completion acted on (the failing one after a failure).
    int Result = NotRun;

  private:
    void Poll();

    TReaderPollHost& host_;
    bool waiting_ = true;
    bool checking_ = false;
};
