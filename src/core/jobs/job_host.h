// What a controller job asks of whoever runs it (a dialog, the command line, a test).
//
// A job is a state machine: it receives "step n" and "completion(result)" and answers
// through TJobHost (send this request, log this line, move the progress bar, continue
// with step n after the pause, finish, fail, ask). The Qt dialogs implement the host with
// widgets and single-shot timers; the command line and the tests use TLoopJobHost below,
// which runs the same messages on a small event loop of the calling thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/keys/key_code.h"
#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "core/link/frame.h"

// The pause after every successful completion before the next step or request.
constexpr int JobPauseMs = 100;

enum class BoxIcon { Information, Warning, Question, Error };

// A message box as a job asks for it. An empty caption means the application's title.
struct JobBox {
    std::string caption;
    std::string text;  // UTF-8; "\r" marks a line break
    BoxIcon icon = BoxIcon::Information;
};

// The result a job dialog closes with.
enum class JobEnd { Ok, Cancel };

class TJob;

// The roles a host plays for a job. A job takes the roles it needs, so no host has to
// stand in for what its job never asks (the reader poll only needs the link and one box).

// The link and the job's clock.
class TJobLink {
  public:
    virtual ~TJobLink() = default;
    // Loads the request into the worker. Later, on the requester's side, the host calls
    // the job's OnCompletion with the result and copies of the reply buffers. Only one
    // request is ever outstanding.
    virtual void SendRequest(const RequestFrame& request) = 0;
    // Calls the job's OnStep(step) as soon as the host's loop runs again (the dialog
    // posting to itself when it is shown).
    virtual void PostStep(int step) = 0;
    // Calls the job's OnStep(step) after the pause of JobPauseMs.
    virtual void ContinueAfterPause(int step) = 0;
};

// The job log (the dialog's mInfo) and its progress bar.
class TJobLog {
  public:
    virtual ~TJobLog() = default;
    // A new line, or text appended to the last line.
    virtual void AddLine(const std::string& line) = 0;
    virtual void AppendToLastLine(const std::string& text) = 0;
    virtual void SetProgressMax(int maximum) = 0;
    virtual void SetProgressPosition(int position) = 0;
};

// How a job ends, and the questions it asks on the way.
class TJobEnd {
  public:
    virtual ~TJobEnd() = default;
    // The job is done with the controller link (the host closes the port).
    virtual void ClosePort() = 0;
    // The job has ended well / badly; the host shows the box (after any changes of its
    // own controls that go with the end, e.g. relabelling Cancel).
    virtual void Finished(const JobBox& box) = 0;
    virtual void Failed(const JobBox& box) = 0;
    // Closes the dialog with the given result. The host honours it only when the job's
    // CanClose allows it (a dialog's close query).
    virtual void CloseJob(JobEnd end) = 0;
    // A Yes/No question; true for Yes.
    virtual bool AskYesNo(const JobBox& question) = 0;
};

// Everything a dialog-like host offers: what the load, export, check and new-file jobs use.
class TJobHost : public virtual TJobLink, public TJobLog, public TJobEnd {};

// What the reader poll (TReaderPollJob) asks of its host: the link, and one way to end.
class TReaderPollHost : public virtual TJobLink {
  public:
    // The poll failed: show the box, then close the capture with Cancel.
    virtual void PollFailed(const JobBox& box) = 0;
};

// What every host delivers to a job: the start, its steps and the completions. The
// host's Cancel button and close query work on the flags here.
class TJobBase {
  public:
    TJobBase() = default;
    virtual ~TJobBase() = default;
    TJobBase(const TJobBase&) = delete;
    TJobBase& operator=(const TJobBase&) = delete;

    // The dialog is on screen: post the first step.
    virtual void Start() = 0;
    virtual void OnStep(int step) = 0;
    virtual void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) = 0;

    // What every host calls with a request's completion: the reply's status is examined
    // here, once for every job, so that a refusal reaches OnCompletion as the failure it
    // is (RequestOutcome) and never as a success with an empty reply.
    void Deliver(int result, const FrameHeader& reply, const FrameData& replyData) {
        OnCompletion(RequestOutcome(result, reply), reply, replyData);
    }

    // The Cancel button: remembered, acted on at the next step or completion (a request in
    // flight always runs to its end). Once the job is over, Cancel closes at once.
    void RequestCancel() { CancelRequested = true; }

    // Set by the Cancel button; examined when the next message of the job arrives.
    bool CancelRequested = false;
    // The answer to the close query: false while the job runs.
    bool CanClose = false;

  protected:
    static bool IsSuccess(int result) { return result == NotRun || result == Ok; }
};

// Base of every multi-step job with a log. The host delivers the two messages; the job
// never blocks and never touches the worker except through SendRequest.
class TJob : public TJobBase {
  public:
    explicit TJob(TJobHost& host) : host_(host) {}

  protected:
    // The common start of both messages: a pending cancel allows the close and closes
    // with Cancel; true when the message is consumed by it.
    bool TakeCancel() {
        if (!CancelRequested)
            return false;
        CanClose = true;
        host_.CloseJob(JobEnd::Cancel);
        return true;
    }

    TJobHost& host_;
};

// ---------------------------------------------------------------------------------------
// The plain C++ driver: an event loop on the calling thread (command line, tests).

// The loop's time source: the steady clock, or a virtual one on which the pauses take no
// real time (tests, the benchmark of the file write).
class TJobClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;
    virtual ~TJobClock() = default;
    virtual TimePoint Now() = 0;
    // Blocks until `deadline` or until `wake` is notified; may return early.
    virtual void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                           TimePoint deadline) = 0;
};

// The process's steady clock.
TJobClock& SteadyJobClock();

// A clock that jumps to the next deadline when the loop has nothing else to do.
class TVirtualJobClock : public TJobClock {
  public:
    TimePoint Now() override { return now_; }
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                   TimePoint deadline) override;
    void Advance(std::chrono::milliseconds by) { now_ += by; }

  private:
    TimePoint now_{};
};

// Runs posted calls and timers on the thread that calls Run. Other threads (the worker's
// completion) hand calls in with Fulfil after the loop was told to Expect them.
class TJobLoop {
  public:
    explicit TJobLoop(TJobClock& clock = SteadyJobClock());
    ~TJobLoop();

    TJobClock& Clock() { return clock_; }

    // Loop thread: run `call` on the next turn / after `ms` milliseconds.
    void Post(std::function<void()> call);
    void PostAfter(int ms, std::function<void()> call);
    // Loop thread: a call will arrive from another thread; the loop waits for it.
    void Expect();
    // Any thread: the expected call.
    void Fulfil(std::function<void()> call);

    // Runs calls until `done` holds or nothing more can arrive (no call queued, no timer,
    // nothing expected). Returns done().
    bool Run(const std::function<bool()>& done);
    // Waits for everything expected to arrive and runs it (before tearing down a host).
    void Drain();

  private:
    struct Timer {
        TJobClock::TimePoint due;
        std::uint64_t order;
        std::function<void()> call;
    };
    bool RunOne(bool waitForExpected);

    TJobClock& clock_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::vector<Timer> timers_;
    std::uint64_t timerOrder_ = 0;
    int expected_ = 0;
};

// A host on a TJobLoop: it runs the job's messages and keeps how the job ended. The
// command line derives from it to print as it goes; the tests' recording host (under
// tests/) keeps everything the job asked for.
class TLoopJobHost : public TJobHost, public TReaderPollHost {
  public:
    TLoopJobHost(TJobLoop& loop, TRequester& worker);
    ~TLoopJobHost() override;  // drains the loop, so no completion outlives the host

    void Attach(TJobBase& job) { job_ = &job; }
    TJobLoop& Loop() { return loop_; }

    // Starts the attached job and runs the loop until it has ended (finished, failed or
    // closed) and no request is outstanding. Returns false when the loop ran dry first.
    bool RunJob();
    // Runs the loop until `done` holds (see TJobLoop::Run).
    bool RunUntil(const std::function<bool()>& done) { return loop_.Run(done); }
    // The operator closing the dialog: honoured only when the job's CanClose allows it.
    bool TryClose(JobEnd end);

    void SendRequest(const RequestFrame& request) override;
    void PostStep(int step) override;
    void ContinueAfterPause(int step) override;
    void AddLine(const std::string&) override {}
    void AppendToLastLine(const std::string&) override {}
    void SetProgressMax(int maximum) override { progressMax = maximum; }
    void SetProgressPosition(int position) override { progressPosition = position; }
    void ClosePort() override {}
    void Finished(const JobBox& box) override { finished = box; }
    void Failed(const JobBox& box) override { failed = box; }
    void CloseJob(JobEnd end) override { TryClose(end); }
    // Nobody to ask: No.
    bool AskYesNo(const JobBox&) override { return false; }
    void PollFailed(const JobBox& box) override {
        Failed(box);
        CloseJob(JobEnd::Cancel);
    }

    int progressMax = 0;
    int progressPosition = 0;
    std::optional<JobBox> finished;
    std::optional<JobBox> failed;
    std::optional<JobEnd> closed;  // the close the job asked for and the host honoured
    int outstanding = 0;           // requests loaded and not yet completed
    // Asked before each step is delivered: true stops the job as its Cancel button would
    // (the command line's Ctrl+C), between two requests. progressPosition then counts the
    // requests done.
    std::function<bool()> stopRequested;

    bool Ended() const { return finished || failed || closed; }

  protected:
    // The job, with a stop asked for handed on as its Cancel; null once it has gone.
    TJobBase* Job();

    TJobLoop& loop_;
    TRequester& worker_;
    TJobBase* job_ = nullptr;
};
