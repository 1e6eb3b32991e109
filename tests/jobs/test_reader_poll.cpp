// The reader poll on a virtual clock with a scripted worker: when requests go out, what
// a key, an empty reply and a failure do, that a stopped poll ignores what comes, and
// the link check that opens a capture (check, pause, poll; a failed check polls nothing).
#include <gtest/gtest.h>

#include <chrono>
#include <deque>

#include "core/jobs/reader_poll_job.h"
#include "support/recording_job_host.h"

namespace {

using namespace std::chrono_literals;

// One scripted answer of the controller to 0x43.
struct PollAnswer {
    int result = Ok;
    bool key = false;
    KeyCode code = 0;
};

PollAnswer Empty() {
    return {};
}
PollAnswer Key(KeyCode code) {
    return {Ok, true, code};
}
PollAnswer Failure(int result) {
    return {result, false, 0};
}

// Answers each request from the script at once, or holds it when asked to, so a test
// can act while the request is "in flight".
class ScriptedPollWorker : public TRequester {
  public:
    void Load(const FrameHeader& request, const FrameData& requestData,
              TCommands::Completion done) override {
        requests.push_back(request);
        (void)requestData;
        if (hold) {
            held = std::move(done);
            return;
        }
        if (request[1] == CheckLink) {
            done(checkResult, FrameHeader{0x00, CheckLink, 0, 0, 0, 0}, FrameData{});
            return;
        }
        Answer(std::move(done));
    }

    void ReleaseHeld() {
        auto done = std::move(held);
        held = nullptr;
        if (requests.back()[1] == CheckLink) {
            done(checkResult, FrameHeader{0x00, CheckLink, 0, 0, 0, 0}, FrameData{});
            return;
        }
        Answer(std::move(done));
    }

    int checkResult = Ok;  // the answer to the link check
    std::deque<PollAnswer> script;
    std::vector<FrameHeader> requests;
    bool hold = false;
    TCommands::Completion held;

  private:
    void Answer(TCommands::Completion done) {
        PollAnswer answer = script.empty() ? Empty() : script.front();
        if (!script.empty())
            script.pop_front();
        FrameHeader reply{0x00, ReadPresentedKey, 0, 0, 0, 0};
        FrameData data{};
        if (answer.key) {
            // p[0] is not used; the code travels in p[1..3], most significant first.
            reply[4] = 4;
            data[0] = 4;
            data[1] = 0x01;
            data[2] = static_cast<std::uint8_t>(answer.code >> 16);
            data[3] = static_cast<std::uint8_t>(answer.code >> 8);
            data[4] = static_cast<std::uint8_t>(answer.code);
        }
        done(answer.result, reply, data);
    }
};

class ReaderPollTest : public ::testing::Test {
  protected:
    ReaderPollTest() : loop(clock), host(loop, worker), job(host) {
        host.Attach(job);
        job.KeyRead = [this](KeyCode code) {
            keys.push_back(code);
            host.CloseJob(JobEnd::Ok);
        };
    }

    // Runs until the job has closed or nothing more can happen.
    void Run() {
        job.Start();
        loop.Run([this] { return host.closed.has_value() && host.outstanding == 0; });
    }

    std::int64_t SentAtMs(size_t i) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(host.requests[i].at -
                                                                     host.requests[0].at)
            .count();
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    ScriptedPollWorker worker;
    TRecordingJobHost host;
    TReaderPollJob job;
    std::vector<KeyCode> keys;
};

TEST_F(ReaderPollTest, KeyOnTheFirstReplyEndsThePollAtOnce) {
    worker.script = {Key(0x123456)};
    Run();
    ASSERT_EQ(host.requests.size(), 1u);
    const FrameHeader expected{0x00, 0x43, 0x00, 0x00, 0x00, 0x00};
    EXPECT_EQ(worker.requests[0], expected);
    EXPECT_EQ(host.requests[0].frame.data, FrameData{});
    EXPECT_EQ(keys, std::vector<KeyCode>{0x123456});
    EXPECT_FALSE(job.Waiting());
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.closed, JobEnd::Ok);
}

TEST_F(ReaderPollTest, EmptyRepliesAreAskedAgainAfterThePause) {
    // -1 (no transaction run) counts as success, like 0.
    worker.script = {Empty(), Failure(NotRun), Empty(), Empty(), Key(0xFFFFFF)};
    Run();
    ASSERT_EQ(host.requests.size(), 5u);
    for (size_t i = 0; i < host.requests.size(); ++i) {
        EXPECT_EQ(SentAtMs(i), static_cast<std::int64_t>(i) * JobPauseMs) << "request " << i;
        EXPECT_EQ(host.requests[i].frame.header, host.requests[0].frame.header);
    }
    EXPECT_EQ(keys, std::vector<KeyCode>{0xFFFFFF});
    EXPECT_EQ(job.Reply[4], 4);
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(ReaderPollTest, AFailureShowsOneBoxAndClosesWithCancel) {
    worker.script = {Empty(), Empty(), Failure(TimedOut), Key(0x000001)};
    Run();
    EXPECT_EQ(host.requests.size(), 3u);  // no poll after the failure
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].caption, "Ошибка связи с контроллером");
    EXPECT_EQ(host.boxes[0].text, ResultText(TimedOut));
    EXPECT_EQ(host.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_TRUE(keys.empty());
    EXPECT_FALSE(job.Waiting());
}

TEST_F(ReaderPollTest, StoppedWithARequestInFlightDropsTheLateCompletion) {
    worker.script = {Key(0x0A0B0C)};
    worker.hold = true;
    job.Start();
    ASSERT_EQ(host.outstanding, 1);
    job.Stop();  // Cancel: the dialog is gone before the controller answers
    host.CloseJob(JobEnd::Cancel);
    worker.ReleaseHeld();
    loop.Run([this] { return host.outstanding == 0; });
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(host.requests.size(), 1u);
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_EQ(host.closed, JobEnd::Cancel);
}

TEST_F(ReaderPollTest, StoppedDuringThePauseSendsNothingMore) {
    worker.script = {Empty(), Key(0x0A0B0C)};
    job.Start();
    loop.Run([this] { return host.outstanding == 0; });
    job.Stop();                      // "Сбросить" between two polls
    loop.Run([] { return false; });  // the pause runs out
    EXPECT_EQ(host.requests.size(), 1u);
    EXPECT_TRUE(keys.empty());
}

TEST_F(ReaderPollTest, AFailureAfterStopIsNotReported) {
    worker.script = {Failure(ReadFailed)};
    worker.hold = true;
    job.Start();
    job.Stop();
    worker.ReleaseHeld();
    loop.Run([this] { return host.outstanding == 0; });
    EXPECT_TRUE(host.boxes.empty());
    EXPECT_FALSE(host.closed.has_value());
}

// The capture the operator starts: the check, the pause, then the polls at the poll's
// own pace; the field's switch to the prompt comes with the check's answer.
TEST_F(ReaderPollTest, TheLinkCheckGoesFirstAndThePollFollowsAfterThePause) {
    job.CheckLinkFirst = true;
    size_t sentWhenChecked = 0;
    job.LinkChecked = [this, &sentWhenChecked] {
        sentWhenChecked = host.requests.size();
        EXPECT_FALSE(job.Checking());
    };
    worker.script = {Empty(), Key(0x0A0B0C)};
    job.Start();
    EXPECT_TRUE(job.Checking());
    loop.Run([this] { return host.closed.has_value() && host.outstanding == 0; });
    ASSERT_EQ(host.requests.size(), 3u);
    EXPECT_EQ(host.requests[0].frame.header, MakeCheckLink().header);
    EXPECT_EQ(host.requests[0].frame.data, MakeCheckLink().data);
    EXPECT_EQ(host.requests[1].frame.header, MakeReadPresentedKey().header);
    EXPECT_EQ(SentAtMs(1), JobPauseMs);
    EXPECT_EQ(SentAtMs(2), 2 * JobPauseMs);
    EXPECT_EQ(sentWhenChecked, 1u);
    EXPECT_EQ(job.Polls, 2);
    EXPECT_EQ(keys, std::vector<KeyCode>{0x0A0B0C});
    EXPECT_TRUE(host.boxes.empty());
}

TEST_F(ReaderPollTest, AFailedLinkCheckPollsNothing) {
    job.CheckLinkFirst = true;
    bool checked = false;
    job.LinkChecked = [&checked] { checked = true; };
    worker.checkResult = TimedOut;
    worker.script = {Key(0x000001)};
    Run();
    loop.Run([] { return false; });  // no pause is left to run out
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(worker.requests[0][1], CheckLink);
    EXPECT_EQ(job.Polls, 0);
    EXPECT_FALSE(checked);
    ASSERT_EQ(host.boxes.size(), 1u);
    EXPECT_EQ(host.boxes[0].caption, "Ошибка связи с контроллером");
    EXPECT_EQ(host.boxes[0].text, ResultText(TimedOut));
    EXPECT_EQ(host.boxes[0].icon, BoxIcon::Error);
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_EQ(job.Result, TimedOut);
    EXPECT_TRUE(keys.empty());
}

TEST_F(ReaderPollTest, CancelDuringTheLinkCheckPollsNothing) {
    job.CheckLinkFirst = true;
    worker.hold = true;
    job.Start();
    ASSERT_EQ(host.outstanding, 1);
    job.Stop();
    host.CloseJob(JobEnd::Cancel);
    worker.ReleaseHeld();
    loop.Run([] { return false; });
    EXPECT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(job.Polls, 0);
    EXPECT_TRUE(host.boxes.empty());
}

}  // namespace
