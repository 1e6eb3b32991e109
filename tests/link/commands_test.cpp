#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "core/jobs/job_host.h"
#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "scripted_line.h"

namespace {

// Collects completions as the worker delivers them.
class Results {
  public:
    struct Entry {
        int result;
        FrameHeader reply;
        FrameData replyData;
    };

    TCommands::Completion Sink() {
        return [this](int result, const FrameHeader& reply, const FrameData& data) {
            Add({result, reply, data});
        };
    }
    void Add(Entry e) {
        std::lock_guard lock(mutex_);
        entries_.push_back(e);
        changed_.notify_all();
    }
    std::vector<Entry> WaitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        const bool done = changed_.wait_for(lock, std::chrono::seconds(10),
                                            [&] { return entries_.size() >= count; });
        EXPECT_TRUE(done) << "completions missing";
        return entries_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Entry> entries_;
};

ScriptedReply BadHeaderCrc() {
    ByteVector frame = ReplyFrame(0x02);
    frame[5] ^= 0x10;
    return {frame};
}

// One request through a fresh worker on `line`, run to its completion.
Results::Entry RunOne(ScriptedLine& line, const RequestFrame& request) {
    Results results;
    TCommands worker(line);
    worker.Load(request.header, request.data, results.Sink());
    const std::vector<Results::Entry> got = results.WaitFor(1);
    return got.empty() ? Results::Entry{NotRun, {}, {}} : got[0];
}

int Attempts(const ScriptedLine& line) {
    const auto names = line.OpNames();
    return static_cast<int>(std::count(names.begin(), names.end(), "parity mark"));
}

TEST(TCommands, SecondAttemptSucceeds) {
    ScriptedLine line;
    line.QueueSilence();
    line.QueueReply({ReplyFrame(0x61, {0x12, 0x34, 0x56})});
    const Results::Entry got = RunOne(line, MakeReadKey(3));
    EXPECT_EQ(got.result, Ok);
    EXPECT_EQ(DecodeKey(got.replyData), 0x123456u);
    EXPECT_EQ(Attempts(line), 2);
}

TEST(TCommands, LastAttemptDecides) {
    ScriptedLine line;
    line.QueueReply(BadHeaderCrc());
    line.QueueSilence();
    line.QueueReply(BadHeaderCrc());
    EXPECT_EQ(RunOne(line, MakeCheckLink()).result, ReadFailed);
    EXPECT_EQ(Attempts(line), 3);
}

TEST(TCommands, SilenceTimesOutAfterThreeAttempts) {
    ScriptedLine line;
    EXPECT_EQ(RunOne(line, MakeCheckLink()).result, TimedOut);
    EXPECT_EQ(Attempts(line), 3);
    // About 3.4 s of line time, then the wait for the line to fall quiet.
    EXPECT_EQ(line.NowMs(), 3 * (18 + 116 + 1000) + TCommands::QuietMs());
}

// A controller that answers the first attempt of a key read only after the worker has
// given up on it (and had the second attempt answered): that late reply arrives while
// the next request is on its way, and must not be taken for that request's answer.
TEST(TCommands, LateReplyIsNotTakenForTheNextRequest) {
    // The worker's clock for a 0x61 request: its bytes and waits on the line (4 + 4 + 10
    // + 5 ms), the reply wait, the time-out.
    const int send = 23, wait = 116, timeout = 1000;
    const int firstDone = send + wait + timeout;     // the first attempt timed out
    const int secondRead = firstDone + send + wait;  // the second attempt's reply is read
    for (const bool quiet : {true, false}) {
        SCOPED_TRACE(quiet ? "quiet after a time-out" : "quiet wait turned off");
        ScriptedLine line;
        // Attempt 1: answered 52 ms after the second attempt was read, that is just after
        // the next request was sent.
        line.QueueReply({ReplyFrame(0x61, {0x11, 0x11, 0x11}), secondRead + 52 - send});
        line.QueueReply({ReplyFrame(0x61, {0x11, 0x11, 0x11}), 2});    // attempt 2: at once
        line.QueueReply({ReplyFrame(0x61, {0x22, 0x22, 0x22}), 100});  // the next request
        Results results;
        TCommands worker(line);
        const RequestFrame first = MakeReadKey(1), next = MakeReadKey(2);
        RequestOptions options;
        options.quietAfterTimeOut = quiet;
        worker.LoadWith(first.header, first.data, options,
                        [&](int result, const FrameHeader& reply, const FrameData& data) {
                            results.Add({result, reply, data});
                            worker.Load(next.header, next.data, results.Sink());
                        });
        const auto got = results.WaitFor(2);
        ASSERT_EQ(got.size(), 2u);
        EXPECT_EQ(got[0].result, Ok);
        EXPECT_EQ(DecodeKey(got[0].replyData), 0x111111u);
        EXPECT_EQ(got[1].result, Ok);
        // Taken for the next request's without the quiet wait: the fault it closes.
        EXPECT_EQ(DecodeKey(got[1].replyData), quiet ? 0x222222u : 0x111111u);
        if (quiet) {
            // Two windows: the late reply in the first, silence in the second; then a
            // purge, and only then the next request.
            const auto names = line.OpNames();
            const std::string window = "read 64 within " + std::to_string(TCommands::QuietMs());
            EXPECT_EQ(std::count(names.begin(), names.end(), window), 2);
        }
    }
}

// A request without a timed-out attempt adds no wait.
TEST(TCommands, NoQuietWaitWithoutATimeOut) {
    ScriptedLine line;
    line.QueueReply(BadHeaderCrc());
    line.QueueReply({ReplyFrame(0x02)});
    EXPECT_EQ(RunOne(line, MakeCheckLink()).result, Ok);
    EXPECT_EQ(line.NowMs(), 2 * (18 + 116));
}

TEST(TCommands, UnexpectedFailuresBecomeTimeOut) {
    ScriptedLine line;
    line.responder = [](const ByteVector&) -> ScriptedReply {
        throw std::runtime_error("line went away");
    };
    EXPECT_EQ(RunOne(line, MakeCheckLink()).result, TimedOut);
    EXPECT_EQ(Attempts(line), 3);
}

// The second request is loaded from inside the first one's completion, as a dialog
// that goes on at once would; its reply must not carry the first one's payload.
TEST(TCommands, NextRequestLoadedFromCompletion) {
    ScriptedLine line;
    line.QueueReply({ReplyFrame(0x42, {0x0A, 0x01})});
    line.QueueReply({ReplyFrame(0x02)});
    Results results;
    TCommands worker(line);
    const RequestFrame count = MakeReadKeyCount();
    const RequestFrame check = MakeCheckLink();
    worker.Load(count.header, count.data,
                [&](int result, const FrameHeader& reply, const FrameData& data) {
                    results.Add({result, reply, data});
                    worker.Load(check.header, check.data, results.Sink());
                });
    const auto got = results.WaitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].result, Ok);
    EXPECT_EQ(got[0].reply[1], 0x42);
    EXPECT_EQ(DecodeKeyCount(got[0].replyData), 266);
    EXPECT_EQ(got[1].result, Ok);
    EXPECT_EQ(got[1].reply[1], 0x02);
    EXPECT_EQ(got[1].replyData, FrameData{});
    const ByteVector sent = line.Written();
    ASSERT_EQ(sent.size(), 12u);
    EXPECT_EQ(sent[1], 0x42);
    EXPECT_EQ(sent[7], 0x02);
}

// A host that went away while its request was in flight: its destructor waits for the
// completion, which then reaches no job; the worker goes idle and serves the next
// requester. This is the guard every loop host (the command line's) relies on.
TEST(TCommands, RequesterGoneMeanwhile) {
    ScriptedLine line;
    std::promise<void> requesterGone;
    std::shared_future<void> gone = requesterGone.get_future().share();
    line.responder = [gone](const ByteVector&) {
        gone.wait();
        return ScriptedReply{ReplyFrame(0x43)};
    };
    struct CountingJob : TJobBase {
        int completions = 0;
        void Start() override {}
        void OnStep(int) override {}
        void OnCompletion(int, const FrameHeader&, const FrameData&) override { ++completions; }
    } job;
    TCommands worker(line);
    TJobLoop loop;
    {
        auto host = std::make_unique<TLoopJobHost>(loop, worker);
        host->Attach(job);
        host->SendRequest(MakeReadPresentedKey());
        std::thread answer([&requesterGone] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            requesterGone.set_value();
        });
        host.reset();
        answer.join();
    }
    EXPECT_EQ(job.completions, 0);
    EXPECT_TRUE(worker.Idle());

    line.responder = nullptr;
    line.QueueReply({ReplyFrame(0x02)});
    Results next;
    const RequestFrame check = MakeCheckLink();
    worker.Load(check.header, check.data, next.Sink());
    EXPECT_EQ(next.WaitFor(1)[0].result, Ok);
}

// The worker stopped with one request on the line and one waiting: the first runs to its
// end, the second is answered as never sent. Every requester hears once; a loop host
// waiting for its completion would otherwise wait for ever.
TEST(TCommands, StopsWithRequestInFlight) {
    ScriptedLine line;
    std::promise<void> release, onLine;
    std::shared_future<void> released = release.get_future().share();
    std::future<void> sent = onLine.get_future();
    bool first = true;
    line.responder = [released, &onLine, &first](const ByteVector&) {
        if (first)
            onLine.set_value();
        first = false;
        released.wait();
        return ScriptedReply{ReplyFrame(0x01)};
    };
    Results results;
    std::thread later([&release] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        release.set_value();
    });
    {
        TCommands worker(line);
        const RequestFrame f = MakeClearAll();
        worker.Load(f.header, f.data, results.Sink());
        worker.Load(f.header, f.data, results.Sink());
        sent.wait();  // the first is on the line
    }
    later.join();
    const auto got = results.WaitFor(2);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].result, Ok);
    EXPECT_EQ(got[1].result, WriteFailed);
}

}  // namespace
