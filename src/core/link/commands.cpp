#include "core/link/commands.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "core/link/line_trace.h"
#include "core/link/transact.h"

namespace {

constexpr int Attempts = 3;
// A line that never falls quiet (noise without end) is purged after this many windows.
constexpr int MaxQuietWindows = 25;

struct Loaded {
    FrameHeader request;
    FrameData requestData;
    TCommands::Completion done;
    std::uint64_t generation = 0;  // of the line when the request was loaded
    RequestOptions options;
};

}  // namespace

struct TCommands::Impl {
    Impl(TLine& line, TAttemptObserver* observer) : Link(line), Observer(observer) {}

    TLine& Link;
    TAttemptObserver* const Observer;

    // Handed over by Load. Normally at most one waits here; should a request be loaded
    // while the previous one is still in flight it waits its turn instead of being lost.
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Loaded> queue;
    bool terminated = false;
    bool busy = false;

    // The request in flight: touched by the worker alone.
    TCommands::Completion Requester;
    bool AttemptTimedOut = false;  // an attempt of it ended with TimedOut
    FrameHeader Request{};
    FrameData RequestData{};
    RequestOptions Options;
    FrameHeader Reply{};
    FrameData ReplyData{};

    std::thread thread;

    bool Terminated() {
        std::lock_guard lock(mutex);
        return terminated;
    }
};

TCommands::TCommands(TLine& link, TAttemptObserver* observer)
    : d(std::make_unique<Impl>(link, observer)) {
    d->thread = std::thread([this] { Execute(); });
}

TCommands::~TCommands() {
    {
        std::lock_guard lock(d->mutex);
        d->terminated = true;
    }
    d->wake.notify_all();
    d->thread.join();
}

void TCommands::Load(const FrameHeader& request, const FrameData& requestData, Completion done) {
    LoadWith(request, requestData, RequestOptions{}, std::move(done));
}

void TCommands::LoadWith(const FrameHeader& request, const FrameData& requestData,
                         const RequestOptions& options, Completion done) {
    {
        std::lock_guard lock(d->mutex);
        d->queue.push_back({request, requestData, std::move(done), d->Link.Generation(), options});
    }
    d->wake.notify_one();
}

int TCommands::QuietMs() {
    // Three character times of 11 bits at 9600 baud, rounded up.
    return WaitCharsMs(100) + (3 * 11 * 1000 + 9599) / 9600;
}

void TCommands::Execute() {
    for (;;) {
        {
            std::unique_lock lock(d->mutex);
            d->wake.wait(lock, [this] { return d->terminated || !d->queue.empty(); });
            if (d->terminated) {
                // A request still waiting never goes out; its requester hears so, rather
                // than waiting for an answer that cannot come.
                std::deque<Loaded> dropped;
                dropped.swap(d->queue);
                lock.unlock();
                for (Loaded& left : dropped) {
                    if (left.done) {
                        left.done(WriteFailed, FrameHeader{}, FrameData{});
                    }
                }
                return;
            }
            Loaded next = std::move(d->queue.front());
            d->queue.pop_front();
            d->Request = next.request;
            d->RequestData = next.requestData;
            d->Options = next.options;
            d->Reply.fill(0);
            d->ReplyData.fill(0);
            d->Requester = std::move(next.done);
            d->busy = true;
            d->Link.Bind(next.generation);
        }

        int result = NotRun;
        try {
            result = RunAttempts();
        } catch (...) {
            result = NotRun;
        }
        if (d->AttemptTimedOut && d->Options.quietAfterTimeOut) {
            // The controller may still answer an attempt that timed out: let that reply
            // arrive and go now, before the next request could take it for its own.
            try {
                WaitForQuiet();
            } catch (...) {
            }
        }
        d->Link.Bind(0);

        // Finish with this request before anyone hears of it: the requester may load
        // the next one from inside its completion, and that must find the worker ready.
        Completion done = std::move(d->Requester);
        d->Requester = nullptr;
        const FrameHeader reply = d->Reply;
        const FrameData replyData = d->ReplyData;
        {
            std::lock_guard lock(d->mutex);
            d->busy = false;
        }
        if (done) {
            try {
                done(result, reply, replyData);
            } catch (...) {
                // A requester's failure must not take the worker down.
            }
        }
    }
}

void TCommands::WaitForQuiet() {
    std::uint8_t sink[64];
    for (int window = 0; window < MaxQuietWindows && !d->Terminated(); ++window) {
        int read = 0;
        const int r = d->Link.ReadBytes(sink, static_cast<int>(sizeof sink), QuietMs(), read);
        if (read == 0 || (r != Ok && r != TimedOut))
            break;  // a whole window without a byte, or a line that cannot be read
    }
    d->Link.Purge(true, true);
}

int TCommands::RunAttempts() {
    d->AttemptTimedOut = false;
    int result = NotRun;
    int made = 0;
    const int attempts = d->Options.attempts > 0 ? d->Options.attempts : Attempts;
    while (made < attempts && !d->Terminated()) {
        if (d->Observer)
            d->Observer->AttemptStarted(made + 1, attempts);
        result = Transact(d->Link, d->Request, d->RequestData, d->ReplyData, d->Reply,
                          d->Options.replyTimeoutMs, d->Options.reportStrayBytes);
        if (result == TimedOut)
            d->AttemptTimedOut = true;
        if (d->Observer)
            d->Observer->AttemptEnded(result);
        ++made;
        if (result == Ok || result == StrayBytes) {
            return result;  // stray bytes are told, not tried again
        }
    }
    if (made == attempts && result == NotRun) {
        result = TimedOut;
    }
    return result;
}

bool TCommands::Idle() const {
    std::lock_guard lock(d->mutex);
    return d->queue.empty() && !d->busy;
}
