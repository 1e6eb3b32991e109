// The journal of changes: the bytes of its lines, escaping, reading back, and a
// journal that cannot be written.
#include "core/keys/journal.h"

#include "core/keys/journaled.h"
#include "core/keys/key_code.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class JournalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("vx_journal_" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        db_ = (dir_ / "doors.vx2").string();
        journal::SetClock([this] { return now_++; });
        journal::SetIdentity(&who_);
    }
    void TearDown() override {
        journal::SetClock(nullptr);
        journal::SetIdentity(nullptr);
        journal::SetReporter(nullptr);
        fs::permissions(dir_, fs::perms::owner_all);
        fs::remove_all(dir_);
    }

    fs::path dir_;
    std::string db_;
    std::time_t now_ = 1796716449;  // 2026-12-08T07:54:09Z
    journal::Identity who_{"operator", "desk-1"};
};

TEST_F(JournalTest, AppendsOneLinePerChangeBesideTheDatabase) {
    EXPECT_EQ(journal::JournalPath(db_), db_ + ".journal");
    EXPECT_EQ(journal::Record(
                  db_, {journal::kKeyAdd, "00A1B2C3", "Front door", "", "00A1B2C3", journal::kOk}),
              "");
    EXPECT_EQ(journal::Record(
                  db_, {journal::kTimes, "", "", "5 / 1", "7 / 1", "Нет ответа от контроллера"}),
              "");
    EXPECT_EQ(ReadAll(db_ + ".journal"),
              "2026-12-08T07:54:09Z\toperator\tdesk-1\tkey-add\t00A1B2C3\tFront "
              "door\t\t00A1B2C3\tOK\n"
              "2026-12-08T07:54:10Z\toperator\tdesk-1\ttimes\t\t\t5 / 1\t7 / 1\tНет ответа от "
              "контроллера\n");
}

TEST_F(JournalTest, EscapesWhatWouldBreakALineAndReadsItBack) {
    // Tabs, line breaks, control characters, backslashes and bytes that are not UTF-8
    // (a description taken from a file without conversion) each keep a line one line.
    const std::string nasty = std::string("a\tb\nc\rd\\e\x01\x7F") + "\xE9t\xC3\xA9" + "ё";
    EXPECT_EQ(journal::Escape(nasty), "a\\tb\\nc\\rd\\\\e\\x01\\x7F\\xE9t\xC3\xA9ё");
    EXPECT_EQ(journal::Unescape(journal::Escape(nasty)), nasty);
    // Overlong forms and surrogates are not UTF-8 either.
    EXPECT_EQ(journal::Escape("\xC0\xAF"), "\\xC0\\xAF");
    EXPECT_EQ(journal::Escape("\xED\xA0\x80"), "\\xED\\xA0\\x80");

    journal::Record(db_, {journal::kKeyDescription, "1,23456", nasty, "old\tone", "new", "OK"});
    const std::string bytes = ReadAll(db_ + ".journal");
    EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 1);
    std::vector<journal::Line> lines;
    ASSERT_EQ(journal::ReadJournal(db_, lines), "");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].wellFormed);
    EXPECT_EQ(lines[0].time, "2026-12-08T07:54:09Z");
    EXPECT_EQ(lines[0].login, "operator");
    EXPECT_EQ(lines[0].host, "desk-1");
    EXPECT_EQ(lines[0].entry.operation, "key-description");
    EXPECT_EQ(lines[0].entry.key, "1,23456");
    EXPECT_EQ(lines[0].entry.description, nasty);
    EXPECT_EQ(lines[0].entry.oldValue, "old\tone");
    EXPECT_EQ(lines[0].entry.newValue, "new");
    EXPECT_EQ(lines[0].entry.outcome, "OK");
}

TEST_F(JournalTest, NeverRewritesWhatIsThere) {
    // A line added by hand (or by an older version) stays, and a broken line is read
    // as such rather than dropping the journal.
    std::ofstream(db_ + ".journal", std::ios::binary) << "hand-written note\r\n";
    journal::Record(db_, {journal::kVardex, "000001", "", "000000", "000001", "OK"});
    EXPECT_EQ(ReadAll(db_ + ".journal").rfind("hand-written note\r\n", 0), 0u);
    std::vector<journal::Line> lines;
    ASSERT_EQ(journal::ReadJournal(db_, lines), "");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_FALSE(lines[0].wellFormed);
    EXPECT_EQ(lines[0].entry.description, "hand-written note");
    EXPECT_EQ(lines[1].entry.operation, "vardex");
}

// A database reached by a link has one journal, beside the file the link leads to; a
// journal an earlier version kept beside the link is read with it, and moved into it by
// the next write.
TEST_F(JournalTest, ALinksJournalIsItsFilesJournal) {
    std::ofstream(db_) << "[ControllerSettings]\r\n";
    const std::string link = (dir_ / "link.vx2").string();
    fs::create_symlink("doors.vx2", link);
    EXPECT_EQ(journal::JournalPath(link), db_ + ".journal");
    journal::Record(db_, {journal::kVardex, "000001", "", "", "000001", "OK"});
    std::ofstream(link + ".journal", std::ios::binary) << "kept beside the link";
    std::vector<journal::Line> lines;
    ASSERT_EQ(journal::ReadJournal(link, lines), "");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].entry.description, "kept beside the link");
    journal::Record(link, {journal::kKeyAdd, "000002", "", "", "000002", "OK"});
    EXPECT_FALSE(fs::exists(link + ".journal"));
    ASSERT_EQ(journal::ReadJournal(db_, lines), "");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].entry.operation, "vardex");
    EXPECT_EQ(lines[1].entry.description, "kept beside the link");
    EXPECT_EQ(lines[2].entry.operation, "key-add");
}

TEST_F(JournalTest, NoJournalYetReadsAsEmpty) {
    std::vector<journal::Line> lines(3);
    EXPECT_EQ(journal::ReadJournal(db_, lines), "");
    EXPECT_TRUE(lines.empty());
}

TEST_F(JournalTest, AFailureIsReportedAndReturned) {
    if (::geteuid() == 0) {
        // root writes into a read-only folder; a folder in place of the journal fails
        // for everyone.
        fs::create_directory(db_ + ".journal");
    } else {
        fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
    }
    std::string toldPath, toldError;
    journal::SetReporter([&](const std::string& path, const std::string& error) {
        toldPath = path;
        toldError = error;
    });
    const std::string error = journal::Record(db_, {journal::kNewFile, "", "", "", "", "OK"});
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(toldPath, db_ + ".journal");
    EXPECT_EQ(toldError, error);
    EXPECT_EQ(journal::FailureText(toldPath, toldError), "Не удалось записать журнал изменений " +
                                                             db_ + ".journal:\r" + error +
                                                             "\rСамо изменение выполнено.");
}

// The key field names its key in six hexadecimal digits whatever format it was shown in;
// a line written before the brackets reads back through the key's printed form.
TEST(JournalKeyField, ReadsTheSameKeyFromNewAndOldLines) {
    EXPECT_EQ(journal::KeyField(1, 0x7A7A7A), "122,31354 [7A7A7A]");
    EXPECT_EQ(journal::KeyField(0, 0x7A7A7A), "XX XX XXXXXX 7A7A7A [7A7A7A]");
    const struct {
        const char* field;
        const char* hex;
    } cases[] = {
        {"122,31354 [7A7A7A]", "7A7A7A"},
        {"XX XX XXXXXX 7A7A7A [7A7A7A]", "7A7A7A"},
        {"122,31354", "7A7A7A"},
        {"XX XX XXXXXX 802674", "802674"},
        {"", ""},
        {"Отсутствует", ""},
        {"122,31354 [7A7A7]", "7A7A7A"},  // a damaged bracket: the shown text still reads
    };
    for (const auto& c : cases)
        EXPECT_EQ(journal::KeyHex(c.field), c.hex) << c.field;
}

TEST_F(JournalTest, RealIdentityComesFromTheUserDatabase) {
    journal::SetIdentity(nullptr);
    const journal::Identity who = journal::CurrentIdentity();
    EXPECT_FALSE(who.login.empty());
    EXPECT_FALSE(who.host.empty());
}

}  // namespace

namespace {

// The database writes with their lines: what each says is read from the file before
// the write.
TEST_F(JournalTest, DatabaseWritesSayWhatChanged) {
    ASSERT_TRUE(journaled::NewDbFile(db_));
    ASSERT_TRUE(journaled::SaveKey(db_, 0xA1B2C3, "Front door"));
    ASSERT_TRUE(journaled::SaveKey(db_, 0xA1B2C3, "Back\tdoor"));
    ASSERT_TRUE(journaled::SaveVardex(db_, 0x010203));
    ASSERT_TRUE(journaled::SaveSettings(db_, 7, 2, 0));
    ASSERT_TRUE(journaled::SaveTypeFormat(db_, 1));
    ASSERT_TRUE(journaled::RemoveKey(db_, 0xA1B2C3));
    ASSERT_TRUE(journaled::SaveKeys(db_, {{5, ""}, {6, "x"}}));
    const std::string head = "\toperator\tdesk-1\t";
    EXPECT_EQ(ReadAll(db_ + ".journal"),
              "2026-12-08T07:54:09Z" + head + "new-file\t\t\t\t\tOK\n" + "2026-12-08T07:54:10Z" +
                  head + "key-add\tXX XX XXXXXX A1B2C3 [A1B2C3]\tFront door\t\t\tOK\n" +
                  "2026-12-08T07:54:11Z" + head + "key-description\tXX XX XXXXXX A1B2C3 [A1B2C3]" +
                  "\tBack\\tdoor\tFront door\tBack\\tdoor\tOK\n" + "2026-12-08T07:54:12Z" + head +
                  "vardex\tXX XX XXXXXX 010203 [010203]\t\t\t" + Format(0, 0x010203) + "\tOK\n" +
                  "2026-12-08T07:54:13Z" + head +
                  "times\t\t\tTimeOpen=1, RetryRead=1\tTimeOpen=7, RetryRead=2\tOK\n" +
                  "2026-12-08T07:54:14Z" + head +
                  "format\t\t\tКлючи iButton (TouchMemory)\tКарты Proxy (EMMarin 3+5)\tOK\n" +
                  "2026-12-08T07:54:15Z" + head + "key-remove\t161,45763 [A1B2C3]" +
                  "\tBack\\tdoor\t\t\tOK\n" + "2026-12-08T07:54:16Z" + head +
                  "check\t\t\t\tкарт(ключей): 2\tOK\n");
}

TEST_F(JournalTest, ARefusedChangeSaysWhatWasAskedAndWhy) {
    // The lines of changes the controller refused: what was asked, read from the file
    // as it is, and the error as the outcome; a journal failure is not told twice.
    ASSERT_TRUE(journaled::NewDbFile(db_));
    ASSERT_TRUE(journaled::SaveVardex(db_, 0x010203));
    int told = 0;
    journal::SetReporter([&](const std::string&, const std::string&) { ++told; });
    const DbModel before = journaled::Before(db_);
    EXPECT_EQ(journaled::Refused(db_, journaled::VardexSet(before, 0), "Ошибка записи"), "");
    EXPECT_EQ(journaled::Refused(db_, journaled::TimesSet(before, 9, 0), "Нет\rответа"), "");
    const std::string bytes = ReadAll(db_ + ".journal");
    const std::string head = "\toperator\tdesk-1\t";
    EXPECT_EQ(bytes.substr(bytes.find("2026-12-08T07:54:11Z")),
              "2026-12-08T07:54:11Z" + head + "vardex\t\t\t" + Format(0, 0x010203) +
                  "\t\tОшибка записи\n" + "2026-12-08T07:54:12Z" + head +
                  "times\t\t\tTimeOpen=1, RetryRead=1\tTimeOpen=9, RetryRead=0\tНет\\rответа\n");
    fs::remove(db_ + ".journal");
    fs::create_directory(db_ + ".journal");
    EXPECT_FALSE(journaled::Refused(db_, journaled::VardexSet(before, 0), "x").empty());
    EXPECT_EQ(told, 0);
}

TEST_F(JournalTest, TimesChangedFromOutsideTheirRangeSayWhatTheFileHeld) {
    std::ofstream(db_, std::ios::binary) << "[ControllerSettings]\nTimeOpen=801\nRetryRead=-1\n";
    ASSERT_TRUE(journaled::SaveSettings(db_, 255, 3, 0));
    const std::string bytes = ReadAll(db_ + ".journal");
    EXPECT_NE(bytes.find("times\t\t\tTimeOpen=801, RetryRead=-1\tTimeOpen=255, RetryRead=3\tOK\n"),
              std::string::npos)
        << bytes;
}

TEST_F(JournalTest, AFailedWriteIsRecordedWithItsError) {
    // No such folder: the write fails, and the journal beside it cannot be written
    // either; the result is the write's own.
    const std::string missing = (dir_ / "gone" / "doors.vx2").string();
    int told = 0;
    journal::SetReporter([&](const std::string&, const std::string&) { ++told; });
    DbResult r = journaled::SaveKey(missing, 1, "");
    EXPECT_FALSE(r);
    EXPECT_EQ(told, 0);  // the write's own error is what the operator needs to read
    journal::Record(missing, {journal::kKeyAdd, "", "", "", "", "OK"});
    EXPECT_EQ(told, 1);

    // A file that is not writable: the line carries the error as its outcome.
    ASSERT_TRUE(journaled::NewDbFile(db_));
    DbModel model;
    model.keys = {{1, ""}, {2, ""}};
    fs::remove(db_);
    fs::create_directory(db_);  // a folder where the file was
    r = journaled::WriteDbFile(db_, model);
    EXPECT_FALSE(r);
    const std::string bytes = ReadAll(db_ + ".journal");
    EXPECT_NE(bytes.find("\tload\t\t\t\tкарт(ключей): 2\t" + journal::Escape(r.error) + "\n"),
              std::string::npos)
        << bytes;
}

}  // namespace

namespace {

// A change that reaches the controller before the file leaves its intent before and its
// outcome after, under one id. An intent left alone (the job was killed between the two)
// is told by the next open, once, unless its job still runs: in this process, or in
// another one that holds the file's lock.
TEST_F(JournalTest, AnIntentLeftAloneIsToldOnceUnlessItsJobStillRuns) {
    ASSERT_TRUE(NewDbFile(db_).ok);
    journal::Entry entry{journal::kKeyAdd, "12ABCD", "Дверь", "", "", ""};
    {
        journal::Intent intent;
        ASSERT_EQ(intent.Begin(db_, entry), "");
        EXPECT_EQ(journaled::TellInterruptedChanges(db_), "");  // its job runs here
        entry.outcome = journal::kOk;
        EXPECT_EQ(intent.End(entry), "");
    }
    std::vector<journal::Line> lines;
    ASSERT_EQ(journal::ReadJournal(db_, lines), "");
    ASSERT_EQ(lines.size(), 2u);
    const std::string id = journal::OutcomeId(lines[0].entry.outcome);
    ASSERT_EQ(id.size(), 16u);
    EXPECT_EQ(lines[0].entry.outcome, "начато #" + id);
    EXPECT_EQ(lines[1].entry.outcome, "OK #" + id);
    EXPECT_EQ(lines[1].entry.key, "12ABCD");
    EXPECT_EQ(journaled::TellInterruptedChanges(db_), "");

    // A job killed between the two lines: its intent alone.
    journal::Record(db_, {journal::kKeyAdd, "000001", "Склад", "", "", "начато #00000000000000ab"});
    {
        // Its writer still holds the lock: not cut short, only not done yet.
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            DbLock lock;
            if (lock.Acquire(db_) == 0)
                (void)!::write(ready[1], "x", 1);
            ::pause();
            ::_exit(0);
        }
        char c;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        EXPECT_EQ(journaled::TellInterruptedChanges(db_), "");
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        ::close(ready[0]);
        ::close(ready[1]);
    }
    EXPECT_EQ(journaled::TellInterruptedChanges(db_),
              "Изменение не было завершено:\r2026-12-08T07:54:11Z operator@desk-1: key-add 000001 "
              "Склад\rКонтроллер и файл могут расходиться. Проверьте контроллер: «Проверка "
              "карт(ключей)» или сверка с контроллером.");
    EXPECT_EQ(journaled::TellInterruptedChanges(db_), "");  // told once
    ASSERT_EQ(journal::ReadJournal(db_, lines), "");
    EXPECT_EQ(lines.back().entry.outcome, "не завершено #00000000000000ab");

    // No intent line, no change: a journal that cannot be written refuses the intent.
    fs::permissions(journal::JournalPath(db_), fs::perms::owner_read);
    if (::access(journal::JournalPath(db_).c_str(), W_OK) != 0) {
        journal::Intent refused;
        EXPECT_NE(refused.Begin(db_, entry), "");
        EXPECT_FALSE(refused.Open());
    }
}

}  // namespace
