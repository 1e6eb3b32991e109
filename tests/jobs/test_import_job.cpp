// The CSV import's job: the controller before the file, accepted keys in the file within
// a second in few writes, a failure or a cancel that keeps exactly the accepted keys,
// and descriptions written before any key is sent.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "core/jobs/import_job.h"
#include "core/keys/journal.h"
#include "fake_controller.h"
#include "support/journal_final.h"
#include "support/recording_job_host.h"

namespace {

using namespace std::chrono_literals;

class ImportJobTest : public ::testing::Test {
  protected:
    ImportJobTest() : loop(clock), host(loop, controller) {}
    void SetUp() override {
        char tmpl[] = "/tmp/vx_import_job.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/db.vx2";
        ASSERT_TRUE(NewDbFile(path).ok);
        ASSERT_TRUE(SaveKey(path, 0x12ABCD, "old").ok);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    ImportPlan Plan(int keys) {
        ImportPlan plan{path, 0, {}, {}};
        for (int i = 1; i <= keys; ++i)
            plan.newKeys.push_back({static_cast<KeyCode>(0x100 + i), "key " + std::to_string(i)});
        return plan;
    }
    void Run(ImportPlan plan) {
        job = std::make_unique<TImportJob>(host, std::move(plan), [this] { return clock.Now(); });
        job->Written = [this](const std::vector<DbKey>& added, const std::vector<DbKey>&) {
            ++writes;
            for (const DbKey& k : added)
                writtenAt[k.code] = clock.Now();
        };
        host.Attach(*job);
        host.RunJob();
    }
    DbModel File() {
        DbModel m;
        EXPECT_TRUE(LoadDbFile(path, m).ok);
        return m;
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    FakeController controller;
    TRecordingJobHost host;
    std::unique_ptr<TImportJob> job;
    std::string dir, path;
    int writes = 0;
    std::map<KeyCode, TJobClock::TimePoint> acceptedAt, writtenAt;
};

TEST_F(ImportJobTest, AcceptedKeysReachTheFileWithinASecondInFewWrites) {
    // The time each key is stored, as the controller sees it.
    controller.afterEach = [this] {
        const RequestFrame& r = controller.requests.back();
        acceptedAt[static_cast<KeyCode>(r.data[1] << 16 | r.data[2] << 8 | r.data[3])] =
            clock.Now();
    };
    Run(Plan(40));
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(host.finished->text, "Импорт завершён\rДобавлено карт(ключей): 40 из 40");
    ASSERT_EQ(controller.requests.size(), 40u);
    for (std::size_t i = 0; i < 40; ++i)
        EXPECT_EQ(controller.requests[i].data[2] << 8 | controller.requests[i].data[3],
                  static_cast<int>(0x100 + i + 1));  // in plan order
    for (const auto& [code, at] : acceptedAt) {
        ASSERT_TRUE(writtenAt.count(code)) << code;
        EXPECT_LE(writtenAt[code] - at, 1s) << code;
    }
    EXPECT_LT(writes, 10);  // batches, not one write per key
    DbModel m = File();
    ASSERT_EQ(m.keys.size(), 41u);
    EXPECT_EQ(m.keys[40].code, 0x100u + 40);
    EXPECT_EQ(m.keys[40].description, "key 40");
    EXPECT_EQ(job->Added, 40);
    // One journal line for the whole import, after its intent.
    const std::vector<journal::Line> lines = journal_final::FinalLines(path);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].entry.operation, journal::kImport);
    EXPECT_EQ(lines[0].entry.outcome, journal::kOk);
}

// A long import is journaled in batches of at most 50 keys, each begun before its first
// request and ended once its keys are in the file: a job killed half-way names only the
// batch under way. A failure ends the open batch with what the file missed.
TEST_F(ImportJobTest, EveryFiftyKeysHaveTheirIntentAndTheirOutcome) {
    controller.failAt = 110;
    Run(Plan(120));
    ASSERT_TRUE(host.failed);
    std::vector<journal::Line> all;
    ASSERT_EQ(journal::ReadJournal(path, all), "");
    std::vector<std::string> begun;
    for (const journal::Line& line : all)
        if (journal::IsIntent(line))
            begun.push_back(line.entry.key + " " + line.entry.newValue);
    EXPECT_EQ(begun, (std::vector<std::string>{"XX XX XXXXXX 000101 [000101] карт(ключей): 50",
                                               "XX XX XXXXXX 000133 [000133] карт(ключей): 50",
                                               "XX XX XXXXXX 000165 [000165] карт(ключей): 20"}));
    const std::vector<journal::Line> lines = journal_final::FinalLines(all);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].entry.newValue, "карт(ключей): 50");
    EXPECT_EQ(lines[0].entry.outcome, journal::kOk);
    EXPECT_EQ(lines[1].entry.outcome, journal::kOk);
    EXPECT_EQ(lines[2].entry.newValue, "карт(ключей): 110, описаний: 0");
    EXPECT_TRUE(lines[2].entry.outcome.starts_with("Описание ошибки: ")) << lines[2].entry.outcome;
    EXPECT_EQ(File().keys.size(), 1u + 110);
}

TEST_F(ImportJobTest, AFailureOrACancelKeepsExactlyTheAcceptedKeys) {
    controller.failAt = 3;
    Run(Plan(6));
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка при импорте");
    EXPECT_EQ(controller.requests.size(), 4u);
    EXPECT_EQ(File().keys.size(), 1u + 3);
    EXPECT_EQ(job->Stored, 3);
    EXPECT_EQ(job->Added, 3);
}

TEST_F(ImportJobTest, CancelBetweenKeysWritesWhatTheControllerAccepted) {
    controller.afterEach = [this] {
        if (controller.requests.size() == 2)
            job->RequestCancel();
    };
    Run(Plan(5));
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_EQ(controller.requests.size(), 2u);
    EXPECT_TRUE(job->Cancelled);
    EXPECT_EQ(File().keys.size(), 1u + 2);
}

TEST_F(ImportJobTest, DescriptionsGoFirstAndAFileThatRefusesThemStopsEverything) {
    ImportPlan plan = Plan(1);
    plan.updates = {{0x12ABCD, "new"}};
    Run(plan);
    ASSERT_TRUE(host.finished);
    DbModel m = File();
    EXPECT_EQ(m.keys[0].description, "new");
    EXPECT_EQ(job->Updated, 1);
    // The description replaced stays in the journal, a line per key, besides the summary.
    const std::vector<journal::Line> lines = journal_final::FinalLines(plan.path);
    ASSERT_GE(lines.size(), 2u);
    const journal::Entry& changed = lines[lines.size() - 2].entry;
    EXPECT_EQ(changed.operation, journal::kKeyDescription);
    EXPECT_EQ(journal::KeyHex(changed.key), "12ABCD");
    EXPECT_EQ(changed.oldValue, "old");
    EXPECT_EQ(changed.newValue, "new");
    EXPECT_EQ(lines.back().entry.operation, journal::kImport);

    // A file that cannot be written: the controller never hears of the import.
    controller.requests.clear();
    host.finished.reset();
    plan.path = dir + "/missing/db.vx2";
    Run(plan);
    ASSERT_TRUE(host.failed);
    EXPECT_TRUE(controller.requests.empty());
}

}  // namespace
