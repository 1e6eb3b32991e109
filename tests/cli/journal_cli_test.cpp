// The journal of changes after a scripted run of vardex2-cli against the virtual
// controller: one line per change, byte for byte (the time checked against the run's
// own clock, the login and host against the user database), and `journal` printing it.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/link/frame.h"
#include "support/sim_process.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The journal's ids, numbered in the order they first appear ("#1", "#2", ...): an intent
// and its outcome show the same number.
std::vector<std::string> NumberedIds(std::vector<std::string> lines) {
    static const std::regex id(" #([0-9a-f]+)$");
    std::map<std::string, int> numbers;
    for (std::string& line : lines) {
        std::smatch m;
        if (std::regex_search(line, m, id)) {
            const int n =
                numbers.emplace(m[1].str(), static_cast<int>(numbers.size()) + 1).first->second;
            line = m.prefix().str() + " #" + std::to_string(n);
        }
    }
    return lines;
}

class CliJournal : public ::testing::Test {
  protected:
    void SetUp() override {
        // The controller holds one key the file lacks, for the check.
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--keys", "0x12ABCD,0x777777"});
        path = sim->TempDir() + "/doors.vx2";
        ASSERT_TRUE(NewDbFile(path).ok);
        ASSERT_TRUE(SaveKey(path, 0x12ABCD, "\xC4\xE2\xE5\xF0\xFC").ok);  // "Дверь"
    }

    void Cli(std::vector<std::string> words) {
        std::vector<std::string> argv{CliPath(), "--port", sim->Port()};
        argv.insert(argv.end(), words.begin(), words.end());
        ProcessResult r = RunProgram(argv, "", 20000);
        ASSERT_EQ(r.status, 0) << words[0] << ": " << r.err;
    }

    // The line without its time, login and host, after checking those three.
    std::string Checked(const std::string& line, std::time_t from, std::time_t to) {
        static const std::regex stamp(
            R"(^(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)\t([^\t]*)\t([^\t]*)\t)");
        std::smatch m;
        if (!std::regex_search(line, m, stamp)) {
            ADD_FAILURE() << "no time, login and host: " << line;
            return line;
        }
        EXPECT_GE(m[1].str(), journal::FormatTime(from)) << line;
        EXPECT_LE(m[1].str(), journal::FormatTime(to)) << line;
        const journal::Identity who = journal::CurrentIdentity();
        EXPECT_EQ(m[2].str(), journal::Escape(who.login));
        EXPECT_EQ(m[3].str(), journal::Escape(who.host));
        return m.suffix();
    }

    std::unique_ptr<SimProcess> sim;
    std::string path;
};

TEST_F(CliJournal, EveryChangeLeavesItsLine) {
    const std::time_t from = std::time(nullptr);
    Cli({"check", path, "--add", "--yes"});
    Cli({"add", path, "XX XX XXXXXX 0A1B2C", "Склад"});
    Cli({"edit", path, "XX XX XXXXXX 0A1B2C", "--description", "Склад №2"});
    Cli({"edit", path, "XX XX XXXXXX 0A1B2C", "--number", "XX XX XXXXXX 0A1B2D"});
    Cli({"set-times", path, "--open", "7", "--retry", "2"});
    Cli({"set-vardex", path, "XX XX XXXXXX 010203"});
    Cli({"remove", path, "XX XX XXXXXX 12ABCD", "--yes"});
    Cli({"export", path, "--yes"});
    const std::string loaded = sim->TempDir() + "/loaded.vx2";
    Cli({"load", loaded, "--yes"});
    const std::time_t to = std::time(nullptr);

    const std::vector<std::string> lines = NumberedIds(Lines(ReadAll(path + ".journal")));
    const std::vector<std::string> expected = {
        // The check adds its missing keys in one write, with one summary line; it writes
        // nothing to the controller, so it has no intent.
        "check\t\t\t\tкарт(ключей): 1\tOK",
        // Every change the controller gets is written as begun before its first request,
        // and its outcome after, under the same id.
        "key-add\tXX XX XXXXXX 0A1B2C [0A1B2C]\tСклад\t\t\tначато #1",
        "key-add\tXX XX XXXXXX 0A1B2C [0A1B2C]\tСклад\t\t\tOK #1",
        "key-description\tXX XX XXXXXX 0A1B2C [0A1B2C]\tСклад №2\tСклад\tСклад №2\tOK",
        // A number change is one line, old -> new.
        "key-renumber\tXX XX XXXXXX 0A1B2C [0A1B2C]\tСклад №2\tXX XX XXXXXX 0A1B2C\tXX XX XXXXXX "
        "0A1B2D\tначато #2",
        "key-renumber\tXX XX XXXXXX 0A1B2C [0A1B2C]\tСклад №2\tXX XX XXXXXX 0A1B2C\tXX XX XXXXXX "
        "0A1B2D\tOK #2",
        "times\t\t\tTimeOpen=1, RetryRead=1\tTimeOpen=7, RetryRead=2\tначато #3",
        "times\t\t\tTimeOpen=1, RetryRead=1\tTimeOpen=7, RetryRead=2\tOK #3",
        "vardex\tXX XX XXXXXX 010203 [010203]\t\t\tXX XX XXXXXX 010203\tначато #4",
        "vardex\tXX XX XXXXXX 010203 [010203]\t\t\tXX XX XXXXXX 010203\tOK #4",
        "key-remove\tXX XX XXXXXX 12ABCD [12ABCD]\tДверь\t\t\tначато #5",
        "key-remove\tXX XX XXXXXX 12ABCD [12ABCD]\tДверь\t\t\tOK #5",
        "export\t\t\t\tкарт(ключей): 2\tначато #6",
        "export\t\t\t\tкарт(ключей): 2\tOK #6",
    };
    ASSERT_EQ(lines.size(), expected.size()) << ReadAll(path + ".journal");
    for (size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(Checked(lines[i], from, to), expected[i]) << "line " << i + 1;
    }
    const std::vector<std::string> loadLines = Lines(ReadAll(loaded + ".journal"));
    ASSERT_EQ(loadLines.size(), 1u);
    EXPECT_EQ(Checked(loadLines[0], from, to), "load\t\t\t\tкарт(ключей): 2\tOK");

    // `journal` prints the file's lines as they are; --json the same fields, unescaped.
    ProcessResult printed = RunProgram({CliPath(), "journal", path}, "", 20000);
    ASSERT_EQ(printed.status, 0) << printed.err;
    EXPECT_EQ(printed.out, ReadAll(path + ".journal"));
    ProcessResult json = RunProgram({CliPath(), "journal", path, "--json"}, "", 20000);
    ASSERT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("\"description\": \"Склад №2\""), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("\"operation\": \"export\""), std::string::npos);
    EXPECT_NE(json.out.find("\"key_hex\": \"0A1B2C\""), std::string::npos) << json.out;
    // The fields in the order of the file's columns, as every object keeps its keys.
    const std::regex order(
        "\\{\\s*\"time\"[^{}]*\"login\"[^{}]*\"host\"[^{}]*\"operation\"[^{}]*"
        "\"key\"[^{}]*\"key_hex\"[^{}]*\"description\"[^{}]*\"old\"[^{}]*\"new\"[^{}]*"
        "\"outcome\"[^{}]*\\}");
    EXPECT_TRUE(std::regex_search(json.out, order)) << json.out;
    EXPECT_EQ(json.out.find("{\n  \"journal\""), 0u) << json.out;
}

TEST_F(CliJournal, AChangeTheControllerDidNotTakeLeavesItsLineToo) {
    sim->Fault("silence");
    const std::time_t from = std::time(nullptr);
    ProcessResult r = RunProgram(
        {CliPath(), "--port", sim->Port(), "add", path, "XX XX XXXXXX 0A1B2C", "Склад"}, "", 20000);
    EXPECT_NE(r.status, 0);
    const std::vector<std::string> lines = NumberedIds(Lines(ReadAll(path + ".journal")));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Checked(lines[1], from, std::time(nullptr)),
              "key-add\tXX XX XXXXXX 0A1B2C [0A1B2C]\tСклад\t\t\t" +
                  journal::Escape(ResultText(TimedOut)) + " #1");
}

TEST_F(CliJournal, AFileWithoutJournalPrintsNothing) {
    ProcessResult r = RunProgram({CliPath(), "journal", path}, "", 20000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
}

}  // namespace
