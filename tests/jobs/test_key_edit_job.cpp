// Adding, changing and deleting a key as one job: the controller before the file, the
// pause between the two requests of a number change, and where things stand after a
// failure at each step (the partial outcomes the window and the command line report).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/jobs/key_edit_job.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "fake_controller.h"
#include "support/journal_final.h"
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
        journal::SetClock([this] { return now++; });
        journal::SetIdentity(&who);
    }
    ~KeyEditJobTest() override {
        journal::SetClock(nullptr);
        journal::SetIdentity(nullptr);
        std::filesystem::remove_all(dir);
    }

    // The journal's final lines, each without its time, login and host (checked here: the
    // clock's seconds in order from the first line) and without the intent written before
    // the first request (its pairing checked by FinalLines).
    std::vector<std::string> Journal() {
        std::ifstream in(path + ".journal", std::ios::binary);
        std::vector<std::string> lines;
        std::vector<journal::Line> parsed;
        std::time_t t = 1796716449;
        for (std::string line; std::getline(in, line); ++t) {
            const std::string head = journal::FormatTime(t) + "\toperator\tdesk-1\t";
            EXPECT_EQ(line.substr(0, head.size()), head);
            const journal::Line read = journal::ParseJournal(line + "\n").at(0);
            parsed.push_back(read);
            if (journal::IsIntent(read))
                continue;
            const std::string outcome = line.substr(line.rfind('\t') + 1);
            line.resize(line.size() - outcome.size());
            lines.push_back(line.substr(std::min(head.size(), line.size())) +
                            journal_final::WithoutId(outcome));
        }
        journal_final::FinalLines(parsed);
        return lines;
    }
    // Where the file was, a folder: the next write of the file fails.
    void BreakTheFile() {
        std::filesystem::remove(path);
        std::filesystem::create_directory(path);
    }

    TKeyEditJob& Run(KeyEdit edit) {
        edit.path = edit.path.empty() ? path : edit.path;
        host.finished.reset();  // each run ends afresh
        host.failed.reset();
        host.closed.reset();
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
    std::time_t now = 1796716449;  // 2026-12-08T07:54:09Z
    journal::Identity who{"operator", "desk-1"};
};

const std::string Old = "XX XX XXXXXX 12ABCD";
const std::string New = "XX XX XXXXXX 0A1B2C";
// The journal's key field: the key as shown and its six hexadecimal digits.
const std::string OldKey = Old + " [12ABCD]";
const std::string NewKey = New + " [0A1B2C]";

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
    // One line for the number, old -> new; the description that came with it has its own.
    EXPECT_EQ(Journal(), (std::vector<std::string>{
                             "key-renumber\t" + OldKey + "\tnew\t" + Old + "\t" + New + "\tOK",
                             "key-description\t" + NewKey + "\tnew\told\tnew\tOK"}));
}

TEST_F(KeyEditJobTest, EachFailureOfANumberChangeLeavesItsPartialOutcome) {
    // The removal fails: nothing changed anywhere.
    controller.failAt = 0;
    TKeyEditJob& first = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "new"});
    EXPECT_FALSE(first.OldGoneFromController);
    EXPECT_EQ(first.Result, TimedOut);
    EXPECT_EQ(host.failed->caption, "Ошибка связи с контроллером");
    EXPECT_EQ(FileKeys(), std::vector<KeyCode>{0x12ABCD});
    const std::string timedOut = journal::Escape(ResultText(TimedOut));
    // Nothing changed: the renumber that did not happen, and why.
    EXPECT_EQ(Journal(), (std::vector<std::string>{"key-renumber\t" + OldKey + "\tnew\t" + Old +
                                                   "\t" + New + "\t" + timedOut}));

    // The store fails: the old number is gone from both, the new one is nowhere.
    controller.requests.clear();
    controller.failAt = 1;
    host.failed.reset();
    TKeyEditJob& second = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "new"});
    EXPECT_TRUE(second.OldGoneFromController && second.OldGoneFromFile);
    EXPECT_FALSE(second.NewInController || second.NewInFile);
    EXPECT_FALSE(second.Complete());
    EXPECT_TRUE(FileKeys().empty());
    // The removal happened and is a change of its own; the renumber did not.
    EXPECT_EQ(Journal(),
              (std::vector<std::string>{
                  "key-renumber\t" + OldKey + "\tnew\t" + Old + "\t" + New + "\t" + timedOut,
                  "key-remove\t" + OldKey + "\told\t\t\tOK",
                  "key-renumber\t" + OldKey + "\tnew\t" + Old + "\t" + New + "\t" + timedOut}));
}

TEST_F(KeyEditJobTest, ANumberChangeTheFileRefusedSaysWhereTheControllerStands) {
    // The file refuses the removal: the controller has dropped the old number already.
    controller.afterEach = [this] { BreakTheFile(); };
    TKeyEditJob& first = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "old"});
    EXPECT_TRUE(first.FileFailed);
    const std::string error = journal::Escape(host.failed->text);
    EXPECT_EQ(Journal(),
              (std::vector<std::string>{
                  "key-remove\t" + OldKey +
                      "\told\t\t\tКарта(ключ) удалена из контроллера, но осталась "
                      "в файле базы: " +
                      error,
                  "key-renumber\t" + OldKey + "\told\t" + Old + "\t" + New + "\t" + error}));
}

TEST_F(KeyEditJobTest, ANumberChangeStoredInTheControllerOnly) {
    controller.afterEach = [this] {
        if (controller.requests.size() == 2)
            BreakTheFile();
    };
    TKeyEditJob& j = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "old"});
    EXPECT_TRUE(j.NewInController && !j.NewInFile);
    EXPECT_EQ(Journal(), (std::vector<std::string>{
                             "key-remove\t" + OldKey + "\told\t\t\tOK",
                             "key-renumber\t" + OldKey + "\told\t" + Old + "\t" + New +
                                 "\tКарта(ключ) записана в контроллер, но не в файл базы: " +
                                 journal::Escape(host.failed->text)}));
}

TEST_F(KeyEditJobTest, ACancelBetweenTheHalvesLeavesTheRemovalAndTheStop) {
    controller.afterEach = [this] { job->RequestCancel(); };
    TKeyEditJob& j = Run({KeyEdit::Kind::Change, "", 0, 0x12ABCD, 0x0A1B2C, "old"});
    EXPECT_TRUE(j.OldGoneFromFile && !j.NewInController);
    EXPECT_EQ(Journal(), (std::vector<std::string>{"key-remove\t" + OldKey + "\told\t\t\tOK",
                                                   "key-renumber\t" + OldKey + "\told\t" + Old +
                                                       "\t" + New + "\tПрервано"}));
}

TEST_F(KeyEditJobTest, AnAddOrRemoveTheControllerRefusedLeavesItsLine) {
    controller.failAt = 0;
    controller.failResult = WriteFailed;
    Run({KeyEdit::Kind::Add, "", 0, 0, 0x000005, "\xD1\xEA\xEB\xE0\xE4"});  // "Склад"
    controller.requests.clear();
    Run({KeyEdit::Kind::Remove, "", 0, 0x12ABCD, 0, ""});
    EXPECT_EQ(FileKeys(), std::vector<KeyCode>{0x12ABCD});
    EXPECT_EQ(Journal(),
              (std::vector<std::string>{
                  "key-add\tXX XX XXXXXX 000005 [000005]\tСклад\t\t\tОшибка записи в контроллер",
                  "key-remove\t" + OldKey + "\told\t\t\tОшибка записи в контроллер"}));
}

TEST_F(KeyEditJobTest, AnUnwritableFileStopsBeforeTheControllerAndALaterFailureSaysWhereItStands) {
    // A file that cannot be written (its folder is gone): no lock, no intent, no request.
    TKeyEditJob& j =
        Run({KeyEdit::Kind::Add, (dir / "no" / "such.vx2").string(), 0, 0, 0x000005, ""});
    EXPECT_FALSE(j.NewInController);
    EXPECT_TRUE(j.FileFailed);
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка");
    EXPECT_TRUE(host.requests.empty());

    // A file that fails once the controller took the key: the line says the door has it.
    controller.requests.clear();
    host.requests.clear();
    controller.afterEach = [this] { BreakTheFile(); };
    now = 1796716449;  // the journal's clock from its first line
    Run({KeyEdit::Kind::Add, "", 0, 0, 0x000005, ""});
    EXPECT_EQ(Journal(), (std::vector<std::string>{
                             "key-add\tXX XX XXXXXX 000005 [000005]\t\t\t\tКарта(ключ) записана в "
                             "контроллер, но не в файл базы: " +
                             journal::Escape(host.failed->text)}));
}

TEST_F(KeyEditJobTest, RemoveTakesTheKeyFromBoth) {
    TKeyEditJob& j = Run({KeyEdit::Kind::Remove, "", 0, 0x12ABCD, 0, ""});
    EXPECT_TRUE(j.Complete());
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_TRUE(FileKeys().empty());
    EXPECT_EQ(Journal(), std::vector<std::string>{"key-remove\t" + OldKey + "\told\t\t\tOK"});
}

}  // namespace
