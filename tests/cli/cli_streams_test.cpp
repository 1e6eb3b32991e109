// What scripts rely on: data alone on standard output, the log, questions and errors on
// standard error (none of the log with --quiet), and the exit status of every kind of
// argument error; `--` ends the options; help COMMAND, --version.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "support/sim_process.h"

namespace {

// iButton keys 0x0A1B2C and 0x123456 (a description in Windows-1251: "Склад").
const char kBase[] =
    "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=3\r\nTypeFormat=0\r\nVardex=0\r\n"
    "[VardexDB2]\r\n662316=Front door\r\n1193046=\xD1\xEA\xEB\xE0\xE4\r\n";

class CliStreams : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_cli_streams.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        file = dir + "/doors.vx2";
        std::ofstream(file, std::ios::binary) << kBase;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string dir, file;
};

struct StreamCase {
    std::vector<std::string> args;  // after the program; FILE, PORT and DIR/... are replaced
    int status;
    std::string out;  // a regular expression over the whole of standard output
    std::string err;  // the same for standard error
};

std::vector<std::string> Expand(const std::vector<std::string>& args, const std::string& file,
                                const std::string& dir, const std::string& port) {
    std::vector<std::string> argv{CliPath()};
    for (const std::string& a : args) {
        if (a.rfind("DIR/", 0) == 0)
            argv.push_back(dir + a.substr(3));
        else
            argv.push_back(a == "FILE" ? file : a == "PORT" ? port : a);
    }
    return argv;
}

void RunCases(const std::vector<StreamCase>& cases, const std::string& file, const std::string& dir,
              const std::string& port) {
    for (const StreamCase& c : cases) {
        const std::vector<std::string> argv = Expand(c.args, file, dir, port);
        std::string line;
        for (size_t i = 1; i < argv.size(); ++i)
            line += " " + argv[i];
        const ProcessResult r = RunProgram(argv);
        EXPECT_EQ(r.status, c.status) << line << "\n" << r.err;
        EXPECT_TRUE(std::regex_match(r.out, std::regex(c.out))) << line << "\nstdout:\n" << r.out;
        EXPECT_TRUE(std::regex_match(r.err, std::regex(c.err))) << line << "\nstderr:\n" << r.err;
    }
}

const std::string Any = "[^]*";
const std::string Nothing = "";
const std::string SomeLog = "[^]+";

// Every command that talks to the controller: the job's log on standard error, the data
// (if any) on standard output; --quiet leaves standard error empty on success.
TEST_F(CliStreams, DataOnStandardOutputTheLogOnStandardError) {
    // The controller holds one key the file lacks (0x00FF10) and lacks 0x123456.
    SimProcess sim({"--keys", "0x0A1B2C,0x00FF10", "--times", "5,3"});
    const std::string p = sim.Port();
    const std::vector<StreamCase> cases = {
        {{"--port", "PORT", "link-check"}, 0, "OK\n", Nothing},
        {{"--port", "PORT", "check", "FILE"}, 0, "XX XX XXXXXX 00FF10\n", SomeLog},
        {{"--port", "PORT", "check", "FILE", "-q"}, 0, "XX XX XXXXXX 00FF10\n", Nothing},
        {{"--port", "PORT", "check", "FILE", "--json", "--quiet"}, 0, "\\{\n[^]*\\}\n", Nothing},
        {{"--port", "PORT", "reconcile", "FILE", "--dry-run"},
         0,
         "записать: XX XX XXXXXX 123456 - Склад\nудалить: XX XX XXXXXX 00FF10\n",
         SomeLog},
        {{"--port", "PORT", "reconcile", "FILE", "--dry-run", "-q"}, 0, Any, Nothing},
        {{"--port", "PORT", "load", "DIR/copy.vx2"}, 0, Nothing, SomeLog},
        {{"--port", "PORT", "load", "DIR/quiet.vx2", "-q"}, 0, Nothing, Nothing},
        {{"list", "DIR/copy.vx2"},
         0,
         "XX XX XXXXXX 00FF10\t65296\nXX XX XXXXXX 0A1B2C\t662316\n",
         Nothing},
        {{"show", "FILE"}, 0, "Время открывания замка: 5 сек.\n[^]*", Nothing},
        {{"search", "FILE", "Склад"}, 0, "XX XX XXXXXX 123456\tСклад\n", "Найдено: 1 из 2\n"},
        {{"--port", "PORT", "add", "FILE", "345678", "Новый"}, 0, Nothing, SomeLog},
        {{"--port", "PORT", "add", "FILE", "345679", "-q"}, 0, Nothing, Nothing},
        {{"--port", "PORT", "remove", "FILE", "345679", "--yes", "-q"}, 0, Nothing, Nothing},
        {{"--port", "PORT", "set-times", "FILE", "--open", "7"}, 0, Nothing, SomeLog},
        {{"--port", "PORT", "export", "FILE", "--yes"}, 0, Nothing, SomeLog},
        {{"--port", "PORT", "export", "FILE", "--yes", "--quiet"}, 0, Nothing, Nothing},
        {{"--port", "PORT", "clear", "--yes"}, 0, Nothing, "OK\n"},
        {{"--port", "PORT", "clear", "--yes", "-q"}, 0, Nothing, Nothing},
        {{"journal", "FILE"}, 0, "[^]*\tkey-add\t[^]*", Nothing},
        // A failure is told on standard error, --quiet or not.
        {{"--port", "/dev/vardex-no-such-port", "link-check", "-q"}, 3, Nothing, SomeLog},
    };
    RunCases(cases, file, dir, p);
}

// The CSV's lines with their fates are the data; the counts are the log.
TEST_F(CliStreams, ImportListsTheLinesOnStandardOutput) {
    std::ofstream(dir + "/list.csv") << "0A1B2C;Front door\nzz;bad\n";
    const std::vector<StreamCase> cases = {
        {{"import", "FILE", "DIR/list.csv", "--dry-run"},
         0,
         "Строка 1: [^\n]*\nСтрока 2: [^\n]*\n",
         "Новых: 0, [^]*"},
        {{"import", "FILE", "DIR/list.csv", "--dry-run", "-q"}, 0, "Строка 1: [^]*", Nothing},
        // The system's reason in Russian whatever the locale.
        {{"import", "FILE", "DIR/none.csv"},
         1,
         Nothing,
         "Ошибка: не удалось открыть [^\n]*none.csv: Нет такого файла или каталога\n"},
    };
    RunCases(cases, file, dir, "");
}

// check --add asks only when the controller holds keys the file lacks: a script without a
// terminal gets status 0 when there is nothing to add, and 5 (the keys listed) otherwise.
TEST_F(CliStreams, CheckAddWithoutATerminalAsksOnlyWhenThereIsSomethingToAdd) {
    SimProcess same({"--keys", "0x0A1B2C,0x123456"});
    ProcessResult r = RunProgram({CliPath(), "--port", same.Port(), "check", file, "--add"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");

    SimProcess more({"--keys", "0x0A1B2C,0x123456,0x00FF10"});
    r = RunProgram({CliPath(), "--port", more.Port(), "check", file, "--add"});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_EQ(r.out, "XX XX XXXXXX 00FF10\n");
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    r = RunProgram({CliPath(), "--port", more.Port(), "check", file, "--add", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Добавлено карт(ключей): 1"), std::string::npos) << r.err;
}

// Argument errors are status 2, whatever finds them: the parser, a key number, a time.
TEST_F(CliStreams, ArgumentErrorsAreStatusTwo) {
    std::filesystem::copy_file(file, dir + "/-odd.vx2");
    const std::vector<StreamCase> cases = {
        {{"foo", "list", "FILE"}, 2, Nothing, "[^\n]*: foo\n[^]*"},
        {{"help", "foo"}, 2, Nothing, "Неизвестная команда: foo\n[^]*"},
        {{"list", "FILE", "--csv", "--json"},
         2,
         Nothing,
         "Параметры --(csv|json) и --(csv|json) нельзя указать вместе\n[^]*"},
        {{"--port", "/dev/null", "add", "FILE", "12XYZ"}, 2, Nothing, "Проверьте [^]*"},
        {{"--port", "/dev/null", "remove", "FILE", "", "--yes"}, 2, Nothing, "Проверьте [^]*"},
        {{"--port", "/dev/null", "edit", "FILE", "0A1B2C", "--number", "G"},
         2,
         Nothing,
         "Проверьте [^]*"},
        {{"--port", "/dev/null", "set-vardex", "FILE", "nobody"}, 2, Nothing, "Проверьте [^]*"},
        {{"--port", "/dev/null", "set-times", "FILE", "--open", "0"}, 2, Nothing, "Время [^]*"},
        // A file whose name starts with a dash, after --.
        {{"list", "--", "DIR/-odd.vx2"}, 0, "XX XX XXXXXX 0A1B2C\tFront door\n[^]*", Nothing},
        {{"help", "list"}, 0, "[^]*\nUsage: vardex2-cli list FILE[^]*", Nothing},
        {{"help"}, 0, "[^]*Commands:[^]*", Nothing},
        {{"--version"}, 0, "vardex2-cli [0-9.]+\n", Nothing},
    };
    RunCases(cases, file, dir, "");
    // A name that starts with a dash is a file only after --.
    ProcessResult r = RunProgram(
        {"/bin/sh", "-c", "cd \"$1\" && exec \"$2\" list -- -odd.vx2", "sh", dir, CliPath()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 20), "XX XX XXXXXX 0A1B2C\t");
    r = RunProgram(
        {"/bin/sh", "-c", "cd \"$1\" && exec \"$2\" list -odd.vx2", "sh", dir, CliPath()});
    EXPECT_EQ(r.status, 2);
    // The virtual controller has a version too.
    r = RunProgram({SimPath(), "--version"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(std::regex_match(r.out, std::regex("vardex2-sim [0-9.]+\n"))) << r.out;
}

}  // namespace
