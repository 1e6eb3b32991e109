// vardex2-cli list and show: a database file as the main window shows it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/sim_process.h"

namespace {

class CliKeys : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_cli_keys.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::string File(const std::string& bytes) {
        std::string path = dir + "/base.vx2";
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    ProcessResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), CliPath());
        return RunProgram(args);
    }
    std::string dir;
};

const char kExample[] =
    "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=1\r\nTypeFormat=1\r\nVardex=65538\r\n"
    "[VardexDB2]\r\n1223629=Front door, reception\r\n131073=\r\n"
    // Windows-1251: "Склад", and a description kept whole by its quotes.
    "16777215=\xD1\xEA\xEB\xE0\xE4\r\n2=\"  \"Boss\"  \"\r\n";

TEST_F(CliKeys, ListInTheFilesFormatOrTheChosenOne) {
    std::string path = File(kExample);
    ProcessResult r = Cli({"list", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "000,00002\t  \"Boss\"  \n"
              "002,00001\t\n"
              "018,43981\tFront door, reception\n"
              "255,65535\tСклад\n");
    EXPECT_EQ(r.err, "");
    r = Cli({"--format", "ibutton", "list", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "XX XX XXXXXX 000002\t  \"Boss\"  \n"
              "XX XX XXXXXX 020001\t\n"
              "XX XX XXXXXX 12ABCD\tFront door, reception\n"
              "XX XX XXXXXX FFFFFF\tСклад\n");
    EXPECT_EQ(Cli({"list", path, "--format", "em"}).out.substr(0, 10), "000,00002\t");
    EXPECT_EQ(Cli({"list", path, "--format", "hex"}).status, 2);
    EXPECT_EQ(Cli({"list"}).status, 2);
}

TEST_F(CliKeys, ShowSettingsAndVardex) {
    std::string path = File(kExample);
    ProcessResult r = Cli({"show", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Время открывания замка: 5 сек.\n"
              "Повторное считывание карты (ключа): 1 сек.\n"
              "Формат отображения: 1 (Карты Proxy (EMMarin 3+5))\n"
              "Вардекс: 001,00002\n"
              "Карт(ключей) в базе: 4\n");
    // Defaults for what is missing; no vardex shows as absent.
    path = File("[VardexDB2]\n1=a\n");
    r = Cli({"show", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Время открывания замка: 1 сек.\n"
              "Повторное считывание карты (ключа): 1 сек.\n"
              "Формат отображения: 0 (Ключи iButton (TouchMemory))\n"
              "Вардекс: Отсутствует\n"
              "Карт(ключей) в базе: 1\n");
}

TEST_F(CliKeys, UnreadableFileAndBadKeyName) {
    ProcessResult r = Cli({"list", dir + "/missing.vx2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Не удалось прочитать файл «" + dir +
                         "/missing.vx2»: Нет такого файла или каталога\n");
    EXPECT_EQ(Cli({"show", dir}).status, 1);

    // A bad name no longer stops the list: every key is listed, the entry told apart.
    std::string path = File("[VardexDB2]\n9=nine\n1=one\nkey=x\n2=two\n");
    r = Cli({"list", "--format", "ibutton", path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "XX XX XXXXXX 000001\tone\nXX XX XXXXXX 000002\ttwo\nXX XX XXXXXX 000009\tnine\n");
    EXPECT_EQ(r.err,
              "В файле записей с недопустимым номером карты(ключа): 1 («key»). Номер — "
              "десятичное число от 1 до 16777215; такие записи не передаются в контроллер.\n");
}

// A hand-edited file with times outside their range: every command that reads it shows,
// sends and writes the nearest value in range, says so once on standard error, and
// reading alone leaves the file as it is.
const char kTimesOutside[] =
    "[ControllerSettings]\r\nTimeOpen=801\r\nRetryRead=-1\r\nTypeFormat=0\r\nVardex=0\r\n"
    "[VardexDB2]\r\n5=a\r\n";
const char kTimesTold[] =
    "В файле время открывания замка 801 вне пределов 1–255: используется 255\n"
    "В файле время повторного считывания карты(ключа) -1 вне пределов 0–255: используется 0\n";

std::string Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(CliKeys, TimesOutsideTheirRangeAreTakenAsTheNearestAndToldOnce) {
    const std::string path = File(kTimesOutside);
    ProcessResult r = Cli({"show", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "Время открывания замка: 255 сек.\n"
              "Повторное считывание карты (ключа): 0 сек.\n"
              "Формат отображения: 0 (Ключи iButton (TouchMemory))\n"
              "Вардекс: Отсутствует\n"
              "Карт(ключей) в базе: 1\n");
    EXPECT_EQ(r.err, kTimesTold);
    r = Cli({"show", path, "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"open_seconds\": 255,"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"retry_seconds\": 0,"), std::string::npos) << r.out;
    r = Cli({"list", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, kTimesTold);
    EXPECT_EQ(Bytes(path), kTimesOutside);

    // The export sends them as shown.
    SimProcess sim({"--keys", "7"});
    r = RunProgram({CliPath(), "--port", sim.Port(), "export", path, "--yes", "--quiet"}, "",
                   20000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, kTimesTold);
    SimState state = sim.State();
    EXPECT_EQ(state.timeOpen, 255);
    EXPECT_EQ(state.retryRead, 0);
    EXPECT_EQ(Bytes(path), kTimesOutside);

    // Changing one time writes the other as the program holds it.
    r = RunProgram({CliPath(), "--port", sim.Port(), "set-times", path, "--retry", "3"}, "", 20000);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.State().timeOpen, 255);
    EXPECT_EQ(sim.State().retryRead, 3);
    EXPECT_NE(Bytes(path).find("TimeOpen=255\r\nRetryRead=3\r\n"), std::string::npos)
        << Bytes(path);
    r = Cli({"show", path});
    EXPECT_EQ(r.err, "");
}

}  // namespace

namespace {

// Every command that writes a file's keys to the controller tells the entries with no
// valid key number first, and goes on with the keys (the list no longer ends at them).
TEST_F(CliKeys, AnEntryWithNoValidNumberIsToldByEveryCommandThatSendsTheFile) {
    const std::string path = File("[VardexDB2]\n9=nine\nkey=x\n2=two\n");
    std::ofstream(dir + "/list.csv") << "000005;new\n";
    const std::string told =
        "В файле записей с недопустимым номером карты(ключа): 1 («key»). Номер — десятичное "
        "число от 1 до 16777215; такие записи не передаются в контроллер.\n";
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"--port", "/dev/null", "export", path, "--yes"},
          {"--port", "/dev/null", "reconcile", path, "--yes"},
          {"--port", "/dev/null", "import", path, dir + "/list.csv", "--yes"},
          {"--port", "/dev/null", "enroll", path}}) {
        const ProcessResult r = Cli(command);
        EXPECT_EQ(r.status, 3) << command[2] << ": " << r.err;  // as far as the port
        EXPECT_EQ(r.err.substr(0, told.size()), told) << command[2];
    }
}

}  // namespace
