#include "core/jobs/job_host.h"

#include <algorithm>

namespace {

class TSteadyJobClock : public TJobClock {
  public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    void WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                   TimePoint deadline) override {
        wake.wait_until(lock, deadline);
    }
};

}  // namespace

TJobClock& SteadyJobClock() {
    static TSteadyJobClock clock;
    return clock;
}

void TVirtualJobClock::WaitUntil(std::unique_lock<std::mutex>& lock, std::condition_variable& wake,
                                 TimePoint deadline) {
    (void)lock;
    (void)wake;
    if (deadline > now_)
        now_ = deadline;
}

// ---------------------------------------------------------------------------------------

TJobLoop::TJobLoop(TJobClock& clock) : clock_(clock) {}

TJobLoop::~TJobLoop() {
    Drain();
}

void TJobLoop::Post(std::function<void()> call) {
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(call));
}

void TJobLoop::PostAfter(int ms, std::function<void()> call) {
    std::lock_guard lock(mutex_);
    timers_.push_back(
        {clock_.Now() + std::chrono::milliseconds(ms), timerOrder_++, std::move(call)});
}

void TJobLoop::Expect() {
    std::lock_guard lock(mutex_);
    ++expected_;
}

void TJobLoop::Fulfil(std::function<void()> call) {
    // Notified under the lock: once the loop sees the call it may finish and destroy
    // itself, and the notification must not reach a condition variable that is gone.
    std::lock_guard lock(mutex_);
    queue_.push_back(std::move(call));
    --expected_;
    wake_.notify_all();
}

bool TJobLoop::RunOne(bool waitForExpected) {
    std::function<void()> call;
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            if (!queue_.empty()) {
                call = std::move(queue_.front());
                queue_.pop_front();
                break;
            }
            if (!timers_.empty()) {
                auto next = std::min_element(
                    timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
                        return a.due != b.due ? a.due < b.due : a.order < b.order;
                    });
                if (clock_.Now() >= next->due) {
                    call = std::move(next->call);
                    timers_.erase(next);
                    break;
                }
                clock_.WaitUntil(lock, wake_, next->due);
                continue;
            }
            if (waitForExpected && expected_ > 0) {
                wake_.wait(lock);
                continue;
            }
            return false;
        }
    }
    call();
    return true;
}

bool TJobLoop::Run(const std::function<bool()>& done) {
    while (!done()) {
        if (!RunOne(true))
            return done();
    }
    return true;
}

void TJobLoop::Drain() {
    std::deque<std::function<void()>> rest;
    {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return expected_ <= 0; });
        rest.swap(queue_);
        timers_.clear();
    }
    for (auto& call : rest)
        call();
}

// ---------------------------------------------------------------------------------------

TLoopJobHost::TLoopJobHost(TJobLoop& loop, TRequester& worker) : loop_(loop), worker_(worker) {}

TLoopJobHost::~TLoopJobHost() {
    job_ = nullptr;
    loop_.Drain();
}

bool TLoopJobHost::RunJob() {
    if (!job_)
        return false;
    job_->Start();
    return loop_.Run([this] { return Ended() && outstanding == 0; });
}

bool TLoopJobHost::TryClose(JobEnd end) {
    if (job_ && !job_->CanClose)
        return false;
    closed = end;
    return true;
}

void TLoopJobHost::SendRequest(const RequestFrame& request) {
    ++outstanding;
    loop_.Expect();
    worker_.LoadWith(request.header, request.data, request.options,
                     [this](int result, const FrameHeader& reply, const FrameData& replyData) {
                         loop_.Fulfil([this, result, reply, replyData] {
                             --outstanding;
                             if (job_)
                                 job_->Deliver(result, reply, replyData);
                         });
                     });
}

void TLoopJobHost::PostStep(int step) {
    loop_.Post([this, step] {
        if (TJobBase* job = Job())
            job->OnStep(step);
    });
}

void TLoopJobHost::ContinueAfterPause(int step) {
    loop_.PostAfter(JobPauseMs, [this, step] {
        if (TJobBase* job = Job())
            job->OnStep(step);
    });
}

// A stop goes in before a step only: the completion of a request under way is taken as
// it came, so that what the job reports done was done.
TJobBase* TLoopJobHost::Job() {
    if (job_ && !job_->CancelRequested && stopRequested && stopRequested())
        job_->RequestCancel();
    return job_;
}
