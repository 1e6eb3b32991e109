// Adding, changing and deleting a key as one job: the controller before the file, the
// pause between the two requests of a number change, and where things stand after a
// failure at each step (the partial outcomes the window and the command line report).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "core/jobs/key_edit_job.h"
#include "core/keys/database.h"
#include "fake_controller.h"
#include "support/recording_job_host.h"

namespace {

using namespace std::chrono_literals;

class KeyEditJobTest : public ::testing::Test {
  protected:
    KeyEditJobTest() : loop(clock), host(loop, controller) {
        dir = std::filesystem::temp_directory_path() /
              ("vx-keyedit-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(dir);
        path = (dir / "db.vx2").string();
        EXPECT_TRUE(NewDbFile(path).ok);
        EXPECT_TRUE(SaveKey(path, 0x12ABCD, "old").ok);
    }
    ~KeyEditJobTest() override { std::filesystem::remove_all(dir); }

    TKeyEditJob& Run(KeyEdit edit) {
        edit.path = edit.path.empty() ? path : edit.path;
        job = std::make_unique<TKeyEditJob>(host, edit);
        host.Attach(*job);
        EXPECT_TRUE(host.RunJob());
        return *job;
    }
    std::vector<KeyCode> FileKeys() {
        DbModel model;
        EXPECT_TRUE(LoadDbFile(path, model).ok);
        std::vector<KeyCode> codes;
        for (const auto& k : model.keys)
            codes.push_back(k.code);
        return codes;
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    FakeController controller;
    TRecordingJobHost host;
    std::unique_ptr<TKeyEditJob> job;
    std::filesystem::path dir;
    std::string path;
};

TEST_F(KeyEditJobTest, ANumberChangeRemovesThenStoresAfterThePause) {
    TKeyEditJob& j = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "new"});
    EXPECT_TRUE(j.Complete());
    ASSERT_EQ(host.requests.size(), 2u);
    EXPECT_EQ(host.requests[0].frame.header[1], 0x22);
    EXPECT_EQ(host.requests[1].at - host.requests[0].at, 100ms);
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"Удаление карты(ключа) XX XX XXXXXX 12ABCD ... OK!",
                                        "Добавление карты(ключа) XX XX XXXXXX 0A1B2C ... OK!"}));
    EXPECT_EQ(FileKeys(), std::vector<KeyCode>{0x0A1B2C});
    EXPECT_TRUE(host.finished);
}

TEST_F(KeyEditJobTest, EachFailureOfANumberChangeLeavesItsPartialOutcome) {
    // The removal fails: nothing changed anywhere.
    controller.failAt = 0;
    TKeyEditJob& first = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "new"});
    EXPECT_FALSE(first.OldGoneFromController);
    EXPECT_EQ(first.Result, TimedOut);
    EXPECT_EQ(host.failed->caption, "Ошибка связи с контроллером");
    EXPECT_EQ(FileKeys(), std::vector<KeyCode>{0x12ABCD});

    // The store fails: the old number is gone from both, the new one is nowhere.
    controller.requests.clear();
    controller.failAt = 1;
    host.failed.reset();
    TKeyEditJob& second = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "new"});
    EXPECT_TRUE(second.OldGoneFromController && second.OldGoneFromFile);
    EXPECT_FALSE(second.NewInController || second.NewInFile);
    EXPECT_FALSE(second.Complete());
    EXPECT_TRUE(FileKeys().empty());
}

TEST_F(KeyEditJobTest, AFileThatCannotBeWrittenStopsAfterTheController) {
    TKeyEditJob& j =
        Run({KeyEdit::Kind::Add, (dir / "no" / "such.vx2").string(), 0, 0, 0x000005, ""});
    EXPECT_TRUE(j.NewInController);
    EXPECT_FALSE(j.NewInFile);
    EXPECT_TRUE(j.FileFailed);
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка");
    EXPECT_EQ(host.requests.size(), 1u);
}

TEST_F(KeyEditJobTest, RemoveTakesTheKeyFromBoth) {
    TKeyEditJob& j = Run({KeyEdit::Kind::Remove, "", 0, 0x12ABCD, 0, ""});
    EXPECT_TRUE(j.Complete());
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_TRUE(FileKeys().empty());
}

}  // namespace
