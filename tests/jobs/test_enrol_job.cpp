// Enrolment by presenting keys in a row: new keys stored in the controller then the
// file with the template's description, a listed key reported and not written, a key
// held at the reader counted once, a store in flight at Stop still reaching the file, and
// the link check made once, before the first poll only.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>

#include "core/jobs/enrol_job.h"
#include "core/keys/cp1251.h"
#include "support/recording_job_host.h"

namespace {

// The reader answers from a script (0 = nobody at the reader); stores are recorded.
class ReaderAndStore : public TRequester {
  public:
    std::deque<KeyCode> presented;
    std::vector<KeyCode> stored;
    std::function<void()> afterEach;
    bool holdStore = false;
    TCommands::Completion held;

    void Load(const FrameHeader& request, const FrameData& data,
              TCommands::Completion done) override {
        FrameHeader reply{0x00, request[1], 0, 0, 0, 0};
        FrameData replyData{};
        if (request[1] == WriteKey) {
            stored.push_back(static_cast<KeyCode>(data[1] << 16 | data[2] << 8 | data[3]));
            if (holdStore) {
                held = std::move(done);
                if (afterEach)
                    afterEach();
                return;
            }
        } else if (request[1] == ReadPresentedKey && !presented.empty()) {
            KeyCode code = presented.front();
            presented.pop_front();
            if (code != 0) {
                reply[4] = 4;
                replyData[0] = 4;
                replyData[2] = static_cast<std::uint8_t>(code >> 16);
                replyData[3] = static_cast<std::uint8_t>(code >> 8);
                replyData[4] = static_cast<std::uint8_t>(code);
            }
        }
        if (afterEach)
            afterEach();
        done(Ok, reply, replyData);
    }
};

std::string Cp(const std::string& utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

class EnrolJobTest : public ::testing::Test {
  protected:
    EnrolJobTest() : loop(clock), host(loop, worker) {}
    void SetUp() override {
        char tmpl[] = "/tmp/vx_enrol_job.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/db.vx2";
        ASSERT_TRUE(NewDbFile(path).ok);
        ASSERT_TRUE(SaveKey(path, 0x12ABCD, Cp("Дверь")).ok);
        job =
            std::make_unique<TEnrolJob>(host, path, 0, std::vector<DbKey>{{0x12ABCD, Cp("Дверь")}});
        job->Template = Cp("Сотрудник {n}");
        job->Reported = [this](const EnrolEvent& e) { events.push_back(e); };
        host.Attach(*job);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    // Runs until the script is used up, then stops the job as closing the dialog does.
    void RunScript() {
        worker.afterEach = [this] {
            if (worker.presented.empty() && !worker.holdStore)
                job->Stop();
        };
        job->Start();
        loop.Run([this] { return job->Stopped() && host.outstanding == 0; });
    }
    DbModel File() {
        DbModel m;
        EXPECT_TRUE(LoadDbFile(path, m).ok);
        return m;
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    ReaderAndStore worker;
    TRecordingJobHost host;
    std::unique_ptr<TEnrolJob> job;
    std::vector<EnrolEvent> events;
    std::string dir, path;
};

TEST_F(EnrolJobTest, NewKeysStoredOnceListedKeysReportedOnly) {
    // A, held (read again), nobody, the listed key, B, A again after another key.
    worker.presented = {0, 0x000001, 0x000001, 0, 0x12ABCD, 0x000002, 0x000001, 0};
    RunScript();
    EXPECT_EQ(worker.stored, (std::vector<KeyCode>{0x000001, 0x000002}));
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[0].kind, EnrolEvent::Added);
    EXPECT_EQ(events[0].description, "Сотрудник 1");
    EXPECT_EQ(events[0].n, 1);
    EXPECT_EQ(events[1].kind, EnrolEvent::Known);
    EXPECT_EQ(events[1].description, "Дверь");
    EXPECT_EQ(events[2].kind, EnrolEvent::Added);
    EXPECT_EQ(events[2].description, "Сотрудник 2");
    // Presented again after another key: it is in the list now.
    EXPECT_EQ(events[3].kind, EnrolEvent::Known);
    EXPECT_EQ(events[3].code, 0x000001u);
    DbModel m = File();
    ASSERT_EQ(m.keys.size(), 3u);
    EXPECT_EQ(m.keys[1].code, 1u);
    EXPECT_EQ(m.keys[1].description, Cp("Сотрудник 1"));
    EXPECT_EQ(m.keys[2].description, Cp("Сотрудник 2"));
}

TEST_F(EnrolJobTest, DescriptionAskedForEachKeyAndSkipped) {
    std::vector<KeyCode> asked;
    job->DescriptionFor = [&](KeyCode code, int n) -> std::optional<std::string> {
        asked.push_back(code);
        if (code == 0x000003 && asked.size() == 1)
            return std::nullopt;  // the operator skipped it
        return "typed " + std::to_string(n);
    };
    // Skipped, still at the reader (not asked again), another key, nobody, presented again.
    worker.presented = {0x000003, 0x000003, 0x000004, 0, 0x000003, 0};
    RunScript();
    EXPECT_EQ(asked, (std::vector<KeyCode>{0x000003, 0x000004, 0x000003}));
    EXPECT_EQ(worker.stored, (std::vector<KeyCode>{0x000004, 0x000003}));
    EXPECT_EQ(File().keys.back().description, "typed 2");
}

TEST_F(EnrolJobTest, AStoreInFlightAtStopStillReachesTheFile) {
    worker.presented = {0x000005};
    worker.holdStore = true;
    worker.afterEach = nullptr;
    job->Start();
    loop.Run([this] { return static_cast<bool>(worker.held); });
    job->Stop();  // the dialog closes while the store is under way
    auto done = std::move(worker.held);
    done(Ok, FrameHeader{}, FrameData{});
    loop.Run([this] { return host.outstanding == 0; });
    EXPECT_EQ(File().keys.back().code, 0x000005u);
    EXPECT_EQ(job->AddedCount, 1);
    EXPECT_EQ(TEnrolJob::Expand("Сотрудник {n} ({n})", 12), "Сотрудник 12 (12)");
    EXPECT_EQ(TEnrolJob::Expand("", 3), "");
}

// A file that cannot take a key stops the run at that key: no further key goes into the
// controller alone, and the count is of the keys in both.
TEST_F(EnrolJobTest, AFailedFileWriteEndsTheRun) {
    worker.presented = {0x000001, 0x000002, 0x000003};
    worker.afterEach = [this] {
        if (worker.stored.size() == 2 && std::filesystem::is_regular_file(path)) {
            // The second key's store: the file goes away, a folder takes its place.
            std::filesystem::remove(path);
            std::filesystem::create_directory(path);
        }
    };
    job->Start();
    loop.Run([this] { return job->Stopped() && host.outstanding == 0; });
    EXPECT_EQ(worker.stored, (std::vector<KeyCode>{0x000001, 0x000002}));
    EXPECT_EQ(job->AddedCount, 1);
    ASSERT_TRUE(host.failed);
    EXPECT_NE(host.failed->text.find("записана в контроллер, но не в файл"), std::string::npos)
        << host.failed->text;
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].kind, EnrolEvent::FileFailed);
    EXPECT_EQ(events[1].code, 0x000002u);
}

TEST_F(EnrolJobTest, TheLinkCheckOpensTheRunOnlyOnce) {
    job->CheckLinkFirst = true;
    worker.presented = {0x000001, 0, 0x000002, 0};
    RunScript();
    ASSERT_GE(host.requests.size(), 2u);
    EXPECT_EQ(host.requests[0].frame.header, MakeCheckLink().header);
    EXPECT_EQ(host.requests[1].frame.header, MakeReadPresentedKey().header);
    EXPECT_EQ(host.requests[1].at - host.requests[0].at, std::chrono::milliseconds(JobPauseMs));
    int checks = 0;
    for (const auto& r : host.requests)
        checks += r.frame.header[1] == CheckLink;
    EXPECT_EQ(checks, 1);  // each new poll after a store goes without one
    EXPECT_EQ(worker.stored, (std::vector<KeyCode>{0x000001, 0x000002}));
}

}  // namespace
