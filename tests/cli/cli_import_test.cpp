// vardex2-cli import and list --csv against the virtual controller: only the new keys
// reach the controller, in file order, and the file holds them with their descriptions;
// the list written as CSV reads back into an empty file unchanged.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/link/commands.h"
#include "support/sim_process.h"

namespace {

std::vector<std::string> Requests(const std::string& log) {
    std::vector<std::string> frames;
    static const std::regex line(R"(request ([0-9A-F]{2}(?: [0-9A-F]{2})*) \|)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it)
        frames.push_back((*it)[1]);
    return frames;
}

std::string Cp(const std::string& utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

class CliImport : public ::testing::Test {
  protected:
    void SetUp() override {
        sim = std::make_unique<SimProcess>(std::vector<std::string>{"--keys", "0x12ABCD"});
        path = sim->TempDir() + "/db.vx2";
        csv = sim->TempDir() + "/list.csv";
        ASSERT_TRUE(NewDbFile(path).ok);
        ASSERT_TRUE(SaveKey(path, 0x12ABCD, Cp("Дверь")).ok);
    }
    ProcessResult Cli(std::vector<std::string> words) {
        std::vector<std::string> argv{CliPath(), "--port", sim->Port()};
        argv.insert(argv.end(), words.begin(), words.end());
        return RunProgram(argv, "", 30000);
    }
    void WriteCsv(const std::string& bytes) { std::ofstream(csv, std::ios::binary) << bytes; }
    DbModel File(const std::string& p = "") {
        DbModel model;
        EXPECT_TRUE(LoadDbFile(p.empty() ? path : p, model).ok);
        return model;
    }

    std::unique_ptr<SimProcess> sim;
    std::string path, csv;
};

const char kList[] =
    "Номер;Описание\r\n"
    "0A0B0C;Склад\r\n"          // 2 new
    "12ABCD;Дверь\r\n"          // 3 already in the file
    "000001;\r\n"               // 4 new, no description
    "0A0B0C;Склад ещё раз\r\n"  // 5 duplicate of 2
    "12O456;Буква O\r\n"        // 6 refused
    "12abcd;Главный вход\r\n";  // 7 duplicate of 3 (a new description would be line 3's)

TEST_F(CliImport, OnlyNewKeysGoToTheControllerInOrderThenTheFile) {
    WriteCsv(kList);
    ProcessResult r = Cli({"import", path, csv, "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("Строка 6: 12O456 «Буква O» — Отказ: Символ «O»"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Строка 5: 0A0B0C «Склад ещё раз» — Повтор: Повторяет строку 2"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.err.find("Новых: 2, уже в файле: 1, новых описаний: 0, повторов: 2, отказов: 1"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Добавление карты(ключа) XX XX XXXXXX 0A0B0C ... OK!\n"
                         "Добавление карты(ключа) XX XX XXXXXX 000001 ... OK!\n"),
              std::string::npos)
        << r.err;
    const auto frames = Requests(sim->Log());
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0].substr(0, 29), "00 22 00 00 0C D4 0A 0B 0C 00");
    EXPECT_EQ(frames[1].substr(0, 29), "00 22 00 00 0C D4 00 00 01 00");
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{0x12ABCD, 0x0A0B0C, 1}));
    DbModel m = File();
    ASSERT_EQ(m.keys.size(), 3u);
    EXPECT_EQ(m.keys[1].code, 0x0A0B0Cu);
    EXPECT_EQ(m.keys[1].description, Cp("Склад"));
    EXPECT_EQ(m.keys[2].code, 1u);
    EXPECT_EQ(m.keys[2].description, "");

    // Again: everything is there now, nothing to send.
    r = Cli({"import", path, csv, "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Нечего импортировать."), std::string::npos) << r.err;
    EXPECT_EQ(Requests(sim->Log()).size(), 2u);
}

TEST_F(CliImport, DryRunAndDescriptionsWriteOnlyWhatWasAskedFor) {
    WriteCsv("12ABCD;Главный вход\n0A0B0C;Склад\n");
    ProcessResult r = Cli({"import", path, csv, "--dry-run", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto j = nlohmann::json::parse(r.out);
    EXPECT_EQ(j["encoding"], "utf-8");
    EXPECT_EQ(j["separator"], ";");
    EXPECT_EQ(j["rows"][0]["fate"], "update");
    EXPECT_EQ(j["rows"][0]["selected"], false);
    EXPECT_EQ(j["rows"][1]["fate"], "new");
    EXPECT_FALSE(j.contains("imported"));
    EXPECT_TRUE(Requests(sim->Log()).empty());
    EXPECT_EQ(File().keys.size(), 1u);

    // Without a terminal to ask on, nothing happens without --yes.
    r = Cli({"import", path, csv});
    EXPECT_EQ(r.status, 5) << r.err;
    EXPECT_TRUE(Requests(sim->Log()).empty());

    // Descriptions only: the file changes, the controller hears nothing.
    WriteCsv("12ABCD;Главный вход\n");
    r = Cli({"import", path, csv, "--update-descriptions", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Requests(sim->Log()).empty());
    DbModel m = File();
    ASSERT_EQ(m.keys.size(), 1u);
    EXPECT_EQ(m.keys[0].description, Cp("Главный вход"));
}

TEST_F(CliImport, ListAsCsvReadsBackIntoAnEmptyFileUnchanged) {
    ASSERT_TRUE(SaveKey(path, 0x0A0B0C, Cp("Склад; второй этаж \"Б\"")).ok);
    ASSERT_TRUE(SaveKey(path, 0xFFFFFF, Cp(" Ёлкин ")).ok);
    ProcessResult r = Cli({"--format", "em", "list", path, "--csv"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, 3), "\xEF\xBB\xBF");
    WriteCsv(r.out);

    const std::string empty = sim->TempDir() + "/empty.vx2";
    ASSERT_TRUE(NewDbFile(empty).ok);
    ASSERT_TRUE(SaveTypeFormat(empty, 1).ok);
    r = Cli({"import", empty, csv, "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    DbModel before = File();
    DbModel after = File(empty);
    ASSERT_EQ(after.keys.size(), before.keys.size());
    for (const DbKey& k : before.keys) {
        auto it = std::find_if(after.keys.begin(), after.keys.end(),
                               [&](const DbKey& a) { return a.code == k.code; });
        ASSERT_NE(it, after.keys.end()) << k.code;
        EXPECT_EQ(it->description, k.description) << k.code;
    }
}

// Enrolment from the command line: keys presented one after another, a listed one and a
// repeat among them, until Ctrl+C.
TEST_F(CliImport, EnrollStoresNewKeysUntilCtrlC) {
    const std::string out = sim->TempDir() + "/enroll.out";
    const pid_t pid = fork();
    if (pid == 0) {
        int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);  // the keys, and the count in the log
        std::string cli = CliPath();
        execl(cli.c_str(), cli.c_str(), "--port", sim->Port().c_str(), "enroll", path.c_str(),
              "--description", "Сотрудник {n}", nullptr);
        _exit(127);
    }
    auto waitForKeys = [&](std::size_t count) {
        for (int i = 0; i < 100 && File().keys.size() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return File().keys.size();
    };
    sim->Present(0x0A0B0C);
    EXPECT_EQ(waitForKeys(2), 2u);
    sim->Present(0x12ABCD);  // listed already
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    sim->Present(0x000001);
    EXPECT_EQ(waitForKeys(3), 3u);
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    DbModel m = File();
    ASSERT_EQ(m.keys.size(), 3u);
    EXPECT_EQ(m.keys[1].description, Cp("Сотрудник 1"));
    EXPECT_EQ(m.keys[2].description, Cp("Сотрудник 2"));
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{0x12ABCD, 0x0A0B0C, 1}));
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("Добавлена карта(ключ) XX XX XXXXXX 0A0B0C\tСотрудник 1\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("уже зарегистрирована в базе карт(ключей)\tДверь"), std::string::npos)
        << text;
    EXPECT_NE(text.find("Добавлено карт(ключей): 2\n"), std::string::npos) << text;
}

// A controller that does not answer the link check: the run ends at once with the link's
// status, the failure said once, no poll sent and the file untouched.
TEST_F(CliImport, EnrollEndsWhenTheLinkCheckFails) {
    sim->Fault("silence");
    const std::size_t before = File().keys.size();
    ProcessResult r = Cli({"enroll", path, "--description", "Сотрудник {n}"});
    EXPECT_EQ(r.status, 14) << r.err;
    const std::string text = ResultText(TimedOut).substr(0, 20);
    const std::size_t first = r.err.find(text);
    ASSERT_NE(first, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(text, first + 1), std::string::npos) << r.err;  // once
    EXPECT_NE(r.err.find("Добавлено карт(ключей): 0\n"), std::string::npos) << r.err;
    for (const std::string& frame : Requests(sim->Log()))
        EXPECT_EQ(frame.substr(0, 5), "00 02");
    EXPECT_EQ(File().keys.size(), before);
}

}  // namespace
