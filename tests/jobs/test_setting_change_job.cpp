// The vardex and the times as one job each: the controller's answer decides whether the
// file changes, and a file that cannot be written is told after the controller took it.
// The new file's three requests and its file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/jobs/new_file_job.h"
#include "core/jobs/setting_change_job.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "fake_controller.h"
#include "support/journal_final.h"
#include "support/recording_job_host.h"

namespace {

class SettingChangeJobTest : public ::testing::Test {
  protected:
    SettingChangeJobTest() : loop(clock) {
        dir = std::filesystem::temp_directory_path() /
              ("vx-setting-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        path = (dir / "db.vx2").string();
        EXPECT_TRUE(NewDbFile(path).ok);
        EXPECT_TRUE(SaveVardex(path, 0x0A0B0C).ok);
    }
    ~SettingChangeJobTest() override { std::filesystem::remove_all(dir); }

    TSettingChangeJob& Run(SettingChange change) {
        change.path = change.path.empty() ? path : change.path;
        // A host of its own for each run, as each dialog or command has.
        job.reset();
        host = std::make_unique<TRecordingJobHost>(loop, controller);
        job = std::make_unique<TSettingChangeJob>(*host, change);
        host->Attach(*job);
        EXPECT_TRUE(host->RunJob());
        return *job;
    }
    DbModel File() {
        DbModel model;
        EXPECT_TRUE(LoadDbFile(path, model).ok);
        return model;
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    FakeController controller;
    std::unique_ptr<TRecordingJobHost> host;
    std::unique_ptr<TSettingChangeJob> job;
    std::filesystem::path dir;
    std::string path;
};

TEST_F(SettingChangeJobTest, EachChangeSendsItsRequestThenWritesTheFile) {
    SettingChange set{SettingChange::Kind::SetVardex, "", 0x12ABCD};
    EXPECT_TRUE(Run(set).Complete());
    ASSERT_EQ(host->requests.size(), 1u);
    EXPECT_EQ(host->requests[0].frame.header,
              MakeWriteKey(0x12ABCD, true, true, KeyFiller::KeyDialog).header);
    EXPECT_EQ(host->requests[0].frame.data,
              MakeWriteKey(0x12ABCD, true, true, KeyFiller::KeyDialog).data);
    EXPECT_EQ(File().Vardex, 0x12ABCDu);
    EXPECT_EQ(host->log, std::vector<std::string>{"Установка вардекса ... OK!"});

    // A reset erases the vardex the controller holds, and the file keeps none.
    SettingChange reset{SettingChange::Kind::ResetVardex, "", 0x12ABCD};
    EXPECT_TRUE(Run(reset).Complete());
    EXPECT_EQ(host->requests[0].frame.data,
              MakeWriteKey(0x12ABCD, false, true, KeyFiller::KeyDialog).data);
    EXPECT_EQ(File().Vardex, 0u);

    SettingChange times;
    times.kind = SettingChange::Kind::Times;
    times.timeOpen = 7;
    times.retryRead = 0;
    times.typeFormat = 1;
    times.timeOpenChanged = false;
    EXPECT_TRUE(Run(times).Complete());
    EXPECT_EQ(host->requests[0].frame.data, MakeWriteSettings(7, 0).data);
    EXPECT_EQ(File().TimeOpen, 7);
    EXPECT_EQ(File().RetryRead, 0);
    EXPECT_EQ(File().TypeFormat, 1);
    EXPECT_EQ(host->log.back(), "Сохранение времени повторного считывания карты(ключа) ... OK!");
}

TEST_F(SettingChangeJobTest, ARefusedRequestLeavesTheFileAndAnUnwritableFileIsTold) {
    controller.failAt = 0;
    TSettingChangeJob& refused = Run({SettingChange::Kind::SetVardex, "", 0x12ABCD});
    EXPECT_FALSE(refused.InController);
    EXPECT_EQ(refused.Result, TimedOut);
    ASSERT_TRUE(host->failed);
    EXPECT_EQ(host->failed->caption, "Ошибка связи с контроллером");
    EXPECT_EQ(File().Vardex, 0x0A0B0Cu);
    // The refusal has its journal line, with the controller's answer as its outcome.
    const std::vector<journal::Line> lines = journal_final::FinalLines(path);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().entry.operation, journal::kVardex);
    EXPECT_EQ(lines.back().entry.outcome, ResultText(TimedOut));

    controller.failAt = -1;
    // A file that cannot be written (its folder is gone): no lock, no intent, no request.
    TSettingChangeJob& noFile =
        Run({SettingChange::Kind::SetVardex, (dir / "no" / "such.vx2").string(), 0x12ABCD});
    EXPECT_FALSE(noFile.InController);
    EXPECT_FALSE(noFile.InFile);
    EXPECT_TRUE(noFile.FileFailed);
    EXPECT_TRUE(host->requests.empty());
    ASSERT_TRUE(host->failed);
    EXPECT_EQ(host->failed->caption, "Ошибка");

    // A file that fails once the controller has taken the change: the controller has it.
    controller.afterEach = [this] {
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
    };
    TSettingChangeJob& unwritable = Run({SettingChange::Kind::SetVardex, "", 0x12ABCD});
    EXPECT_TRUE(unwritable.InController);
    EXPECT_FALSE(unwritable.InFile);
    EXPECT_TRUE(unwritable.FileFailed);
    ASSERT_TRUE(host->failed);
    EXPECT_EQ(host->failed->caption, "Ошибка");
}

TEST_F(SettingChangeJobTest, ANewFileHoldsTheVardexTheClearedControllerReports) {
    controller.keys = {1, 2};
    host = std::make_unique<TRecordingJobHost>(loop, controller);
    TNewFileJob newFile(*host);
    host->Attach(newFile);
    EXPECT_TRUE(host->RunJob());
    ASSERT_TRUE(newFile.Complete());
    ASSERT_EQ(host->requests.size(), 4u);
    EXPECT_EQ(host->requests[1].frame.header, MakeClearAll().header);
    EXPECT_EQ(host->requests[3].frame.header, MakeReadSettings().header);
    const std::string made = (dir / "new.vx2").string();
    ASSERT_TRUE(WriteNewDbFile(made, newFile.VardexCode, newFile.TimeOpen, newFile.RetryRead).ok);
    DbModel model;
    ASSERT_TRUE(LoadDbFile(made, model).ok);
    EXPECT_EQ(model.Vardex, newFile.VardexCode);
    EXPECT_TRUE(controller.keys.empty());
    EXPECT_TRUE(model.keys.empty());
    EXPECT_EQ(model.TimeOpen, controller.timeOpen);
    EXPECT_EQ(model.RetryRead, controller.retryRead);
}

}  // namespace
