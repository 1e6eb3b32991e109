// The check for new keys: what is listed (once per code, in the open format), the two end
// boxes, adding after the question, failures, cancel, and no key added twice.
#include <gtest/gtest.h>

#include "core/jobs/check_job.h"

#include <filesystem>

#include "core/keys/database.h"
#include "fake_controller.h"
#include "support/recording_job_host.h"

namespace {

class CheckJobTest : public ::testing::Test {
  protected:
    CheckJobTest() : loop(clock), host(loop, controller) {}

    void Make(int typeFormat, std::vector<KeyCode> known) {
        job = std::make_unique<TCheckJob>(host, host, typeFormat, known);
        host.Attach(*job);
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    FakeController controller;
    TRecordingJobHost host;
    std::unique_ptr<TCheckJob> job;
};

TEST_F(CheckJobTest, NothingMissingShowsTheBoxAndClosesWithCancel) {
    controller.keys = {1, 2};
    Make(0, {2, 1, 3});
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.requests.size(), 3u);
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(host.finished->text,
              "В контроллере не обнаружены карты(ключи), отсутствующие в базе данных!");
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_TRUE(host.offered.empty());
    EXPECT_EQ(host.progressMax, 2);
    EXPECT_EQ(host.progressPosition, 2);
    EXPECT_FALSE(job->AnyToAdd());
}

TEST_F(CheckJobTest, EmptyControllerFindsNothing) {
    Make(0, {});
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.closed, JobEnd::Cancel);
}

TEST_F(CheckJobTest, ListsEachMissingCodeOnceInTheOpenFormat) {
    // 0x12ABCD twice, a slot without payload (code 0), one key already in the database.
    controller.keys = {0x12ABCD, 0x000005, 0x12ABCD, 0x777777, 0x020001};
    controller.emptySlots = {3};
    Make(1, {5});
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.requests.size(), 6u);
    EXPECT_EQ(
        host.offered,
        (std::vector<std::pair<KeyCode, std::string>>{
            {0x12ABCD, Format(1, 0x12ABCD)}, {0, Format(1, 0)}, {0x020001, Format(1, 0x020001)}}));
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(host.finished->text,
              "В контроллере обнаружены карты(ключи), отсутствующие в базе данных!");
    EXPECT_FALSE(host.closed);
    EXPECT_TRUE(job->CanClose);

    // Unticking every row leaves nothing to add; ticking one enables it again.
    for (const auto& key : job->Missing())
        job->SetTicked(key.code, false);
    EXPECT_FALSE(job->AnyToAdd());
    job->SetTicked(0x020001, true);
    job->SetTicked(0, true);
    EXPECT_TRUE(job->AnyToAdd());

    // No: nothing is written and the dialog stays.
    host.answers = {false};
    EXPECT_EQ(job->Add(), 0);
    EXPECT_TRUE(host.added.empty());
    EXPECT_FALSE(host.closed);
    ASSERT_EQ(host.boxes.size(), 2u);
    EXPECT_EQ(host.boxes[1].caption, "Добавление карт(ключей)");
    EXPECT_EQ(host.boxes[1].text,
              "Вы действительно хотите добавить в базу данных отсутствующие карты(ключи)?");
    EXPECT_EQ(host.boxes[1].icon, BoxIcon::Question);

    // Yes: the ticked rows in caption order, each with its number in decimal as
    // description, as the load gives it; then OK.
    host.answers = {true};
    EXPECT_EQ(job->Add(), 2);
    EXPECT_EQ(host.added,
              (std::vector<std::pair<KeyCode, std::string>>{{0, "0"}, {0x020001, "131073"}}));
    // One write of the file for the whole batch, not one (with its flushes) per key.
    EXPECT_EQ(host.addWrites, 1);
    EXPECT_EQ(host.closed, JobEnd::Ok);
}

TEST_F(CheckJobTest, AddDuringTheScanAndAgainAfterAddsEachKeyOnce) {
    controller.keys = {0x11, 0x22, 0x11, 0x33};
    Make(0, {});
    job->Start();
    host.RunUntil([&] { return host.offered.size() == 2; });
    host.answers = {true, true};
    EXPECT_EQ(job->Add(), 2);
    EXPECT_FALSE(host.closed);  // the scan still runs: the close is refused
    host.RunUntil([&] { return host.Ended(); });
    ASSERT_TRUE(host.finished);
    EXPECT_FALSE(host.closed);
    EXPECT_TRUE(job->AnyToAdd());  // 0x33, found after the first add
    EXPECT_EQ(job->Add(), 1);
    EXPECT_EQ(host.added, (std::vector<std::pair<KeyCode, std::string>>{
                              {0x11, "17"}, {0x22, "34"}, {0x33, "51"}}));
    EXPECT_EQ(host.closed, JobEnd::Ok);
}

TEST_F(CheckJobTest, FailureAtASlotKeepsTheRowsFoundAndTheyCanBeAdded) {
    controller.keys = {0x10, 0x20, 0x30};
    controller.failAt = 3;  // slot 2
    controller.failResult = ReadFailed;
    Make(0, {0x20});
    ASSERT_TRUE(host.RunJob());
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка");
    EXPECT_EQ(host.failed->text, "Ошибка получения карт(ключей)\r" + ResultText(ReadFailed));
    EXPECT_EQ(host.failed->icon, BoxIcon::Error);
    EXPECT_EQ(host.offered.size(), 1u);
    EXPECT_TRUE(job->CanClose);
    EXPECT_TRUE(job->AnyToAdd());

    // A failing database write stops the add; the dialog stays; the retry adds the rest.
    controller.keys.clear();
    host.answers = {true, true};
    host.addFailsAt = 0;
    EXPECT_EQ(job->Add(), 0);
    EXPECT_FALSE(host.closed);
    host.addFailsAt = -1;
    EXPECT_EQ(job->Add(), 1);
    EXPECT_EQ(host.closed, JobEnd::Ok);
}

TEST_F(CheckJobTest, CancelInFlightAddsNothing) {
    controller.keys = {0x10, 0x20};
    Make(0, {});
    job->Start();
    host.RunUntil([&] { return host.requests.size() == 2; });
    controller.hold = true;
    host.RunUntil([&] { return controller.Holding(); });
    job->RequestCancel();
    controller.Release();
    host.RunUntil([&] { return host.Ended(); });
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_EQ(host.requests.size(), 3u);
    EXPECT_EQ(host.offered.size(), 1u);  // the reply in flight was ignored
    EXPECT_TRUE(host.added.empty());
}

}  // namespace

namespace {

// The add reads the file again once the question is answered: a key another writer put
// there meanwhile is not written again (its description stays the one it was given).
TEST_F(CheckJobTest, AddSkipsAKeyTheFileGainedMeanwhile) {
    char folder[] = "/tmp/vx_check_add.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/db.vx2";
    ASSERT_TRUE(NewDbFile(path).ok);
    ASSERT_TRUE(SaveKey(path, 1, "").ok);
    controller.keys = {1, 0x777, 0x888};
    Make(0, {1});
    job->AddUnderLockOf(path);
    ASSERT_TRUE(host.RunJob());
    ASSERT_EQ(job->Missing().size(), 2u);
    ASSERT_TRUE(SaveKey(path, 0x777, "Склад").ok);  // while the question is on screen
    host.answers = {true};
    EXPECT_EQ(job->Add(), 1);
    ASSERT_EQ(host.added.size(), 1u);
    EXPECT_EQ(host.added[0].first, 0x888u);
    EXPECT_FALSE(job->AnyToAdd());
    std::filesystem::remove_all(folder);
}

}  // namespace
