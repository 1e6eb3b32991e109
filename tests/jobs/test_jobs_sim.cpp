// Load, export, check and new against the virtual controller over a pseudo-terminal:
// through vardex2-cli, and in process over the real port and worker, whose log the
// command line must print line for line.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "core/jobs/load_job.h"
#include "core/keys/database.h"
#include "core/link/commands.h"
#include "core/link/serial_port.h"
#include "support/file_bytes.h"
#include "support/recording_job_host.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;

std::string Joined(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& line : lines)
        out += line + "\n";
    return out;
}

// The request lines of the sim's log: their bytes and when they arrived (ms).
struct LoggedRequest {
    double at = 0;
    std::string bytes;
};
std::vector<LoggedRequest> Requests(const std::string& log) {
    std::vector<LoggedRequest> out;
    static const std::regex line(R"(\[\s*([0-9.]+)\] request ([0-9A-F ]+?) \|)");
    std::istringstream in(log);
    std::string text;
    std::smatch m;
    while (std::getline(in, text)) {
        if (std::regex_search(text, m, line))
            out.push_back({std::stod(m[1]), m[2]});
    }
    return out;
}

// A database file with two keys in the EM-Marine format and a vardex.
const char* const TwoKeys =
    "[ControllerSettings]\r\nTimeOpen=9\r\nRetryRead=2\r\nTypeFormat=1\r\nVardex=65538\r\n"
    "[VardexDB2]\r\n1223629=\xc4\xe2\xe5\xf0\xfc\r\n7=\r\n";

class JobsSimTest : public ::testing::Test {
  protected:
    std::string Path(const std::string& name) const { return sim->TempDir() + "/" + name; }
    std::unique_ptr<SimProcess> sim;
};

TEST_F(JobsSimTest, LoadPrintsTheDialogsLogAndWritesTheFile) {
    sim = std::make_unique<SimProcess>(std::vector<std::string>{
        "--keys", "0x12ABCD,5,0x777", "--vardex", "0x0A1B2C", "--times", "7,4"});
    // In process, as the dialog runs it: the real port, the worker, the loop host.
    std::vector<std::string> dialogLog;
    {
        TSerialPort port;
        std::string error;
        ASSERT_TRUE(port.Open(sim->Port(), error)) << error;
        TCommands worker(port);
        TJobLoop loop;
        TRecordingJobHost host(loop, worker);
        TLoadJob job(host);
        host.Attach(job);
        ASSERT_TRUE(host.RunJob());
        ASSERT_TRUE(host.finished);
        dialogLog = host.log;
        EXPECT_EQ(host.progressMax, 5);
        EXPECT_EQ(host.progressPosition, 5);
        port.Close();
    }

    ProcessResult r = RunProgram({CliPath(), "--port", sim->Port(), "load", Path("a.vx2")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, Joined(dialogLog));  // the dialog's log, on standard error
    EXPECT_EQ(
        ReadFile(Path("a.vx2")),
        "[ControllerSettings]\r\nTimeOpen=7\r\nRetryRead=4\r\nTypeFormat=0\r\nVardex=662316\r\n"
        "[VardexDB2]\r\n1223629=1223629\r\n5=5\r\n1911=1911\r\n");

    // 0x42, 0x63, 0x61 FFFF, 0x61 for slots 0..2, 0x42 again, each at least 100 ms after
    // the one before.
    auto requests = Requests(sim->Log());
    ASSERT_EQ(requests.size(), 14u);  // the dialog's run and the command line's
    std::vector<std::string> expected = {"00 42 00 00 00",          "00 63 00 00 00",
                                         "00 61 00 00 02 A3 FF FF", "00 61 00 00 02 A3 00 00",
                                         "00 61 00 00 02 A3 01 00", "00 61 00 00 02 A3 02 00",
                                         "00 42 00 00 00"};
    for (size_t i = 7; i < 14; ++i) {
        EXPECT_EQ(requests[i].bytes.substr(0, expected[i - 7].size()), expected[i - 7]);
        if (i > 7) {
            EXPECT_GE(requests[i].at - requests[i - 1].at, 100.0);
        }
    }

    // The same name again: no terminal to ask about replacing it.
    r = RunProgram({CliPath(), "--port", sim->Port(), "load", Path("a.vx2")});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(Requests(sim->Log()).size(), 14u);
}

TEST_F(JobsSimTest, LoadFailingAtAKeyWritesNoFile) {
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--keys", "1,2,3"});
    sim->Fault("silent-from-slot", 1);
    ProcessResult r = RunProgram({CliPath(), "--port", sim->Port(), "load", Path("b.vx2")});
    EXPECT_EQ(r.status, 14);
    EXPECT_FALSE(fs::exists(Path("b.vx2")));
    const std::string tail =
        "Чтение базы карт(ключей) контроллера:\nКарта(ключ) №1: XX XX "
        "XXXXXX 000001\nОшибка при импорте из контроллера!\nОписание ошибки: "
        "Истекло время ожидания ответа от контроллера.\nВозможно контроллер "
        "не подключен\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
}

TEST_F(JobsSimTest, ExportMakesTheControllerEqualTheFile) {
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--keys", "100,200"});
    WriteFile(Path("e.vx2"), TwoKeys);

    // Without --yes and without a terminal nothing is sent.
    ProcessResult r = RunProgram({CliPath(), "--port", sim->Port(), "export", Path("e.vx2")});
    EXPECT_EQ(r.status, 5);
    EXPECT_TRUE(Requests(sim->Log()).empty());
    EXPECT_NE(r.err.find("--yes"), std::string::npos);

    r = RunProgram({CliPath(), "--port", sim->Port(), "export", Path("e.vx2"), "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "Полная очистка контроллера ... OK!\n\nЗапись настроек контроллера ... OK!\n\n"
              "Установка вардекса 001,00002 ... OK!\n\n"
              "Запись базы карт(ключей) в контроллер ... \n"
              "Карта(ключ) 000,00007 -  ... OK!\nКарта(ключ) 018,43981 - Дверь ... OK!\n\n"
              "Проверка кол-ва карт(ключей) в контроллере ... OK!\n"
              "Кол-во карт(ключей) в контроллере: 2\n\n"
              "Экспорт в контроллер выполнен успешно!\n");
    SimState state = sim->State();
    EXPECT_EQ(state.keys, (std::vector<std::uint32_t>{7, 0x12ABCD}));
    EXPECT_EQ(state.vardex, 65538u);
    EXPECT_EQ(state.timeOpen, 9);
    EXPECT_EQ(state.retryRead, 2);
    auto requests = Requests(sim->Log());
    ASSERT_EQ(requests.size(), 6u);
    // Header with its CRC, then the record: code, 00 00 00, six filler 00 (then its CRC).
    EXPECT_EQ(requests[4].bytes.substr(0, 53),
              "00 22 00 00 0C D4 12 AB CD 00 00 00 00 00 00 00 00 00");
}

TEST_F(JobsSimTest, ExportFailingAtTheSecondKey) {
    sim = std::make_unique<SimProcess>();
    WriteFile(Path("e.vx2"), TwoKeys);
    sim->Fault("silent-from-write", 3);  // the vardex is the first 0x22
    ProcessResult r =
        RunProgram({CliPath(), "--port", sim->Port(), "--yes", "export", Path("e.vx2")});
    EXPECT_EQ(r.status, 14);
    const std::string tail =
        "Карта(ключ) 000,00007 -  ... OK!\nКарта(ключ) 018,43981 - Дверь ... \nОшибка при "
        "экспорте\nОписание ошибки: Истекло время ожидания ответа от контроллера.\nВозможно "
        "контроллер не подключен\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{7}));
}

TEST_F(JobsSimTest, CheckListsAndAddsTheMissingKeysOnce) {
    sim =
        std::make_unique<SimProcess>(std::vector<std::string>{"--keys", "0x12ABCD,0x30,0x40,0x30"});
    WriteFile(Path("c.vx2"), TwoKeys);
    ProcessResult r =
        RunProgram({CliPath(), "--port", sim->Port(), "check", Path("c.vx2"), "--add"});
    // No terminal for the question: the keys are listed, nothing is added.
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "000,00048\n000,00064\n");
    EXPECT_EQ(ReadFile(Path("c.vx2")), TwoKeys);

    r = RunProgram({CliPath(), "--port", sim->Port(), "check", Path("c.vx2"), "--add", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "000,00048\n000,00064\n");
    EXPECT_EQ(r.err,
              "В контроллере обнаружены карты(ключи), отсутствующие в базе данных!\n"
              "Добавлено карт(ключей): 2\n");
    EXPECT_EQ(ReadFile(Path("c.vx2")), std::string(TwoKeys) + "48=48\r\n64=64\r\n");

    r = RunProgram({CliPath(), "--port", sim->Port(), "check", Path("c.vx2")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "В контроллере не обнаружены карты(ключи), отсутствующие в базе данных!\n");
}

// The new file holds what the controller holds after its clear: its vardex and its times
// (a file with other times would have the next reconcile shorten the lock's).
TEST_F(JobsSimTest, NewClearsTheControllerAndWritesItsVardexAndTimes) {
    sim = std::make_unique<SimProcess>(
        std::vector<std::string>{"--keys", "1,2", "--vardex", "0x0A1B2C", "--times", "5,2"});
    ProcessResult r = RunProgram({CliPath(), "--port", sim->Port(), "new", Path("n.vx2")});
    EXPECT_EQ(r.status, 5);
    EXPECT_TRUE(Requests(sim->Log()).empty());
    r = RunProgram({CliPath(), "--port", sim->Port(), "--yes", "new", Path("n.vx2")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "Проверка связи с контроллером ... OK!\nПолная очистка контроллера ... OK!\n"
              "Чтение вардекса ... OK!\nЧтение настроек контроллера ... OK!\n");
    EXPECT_TRUE(sim->State().keys.empty());
    DbModel model;
    ASSERT_TRUE(LoadDbFile(Path("n.vx2"), model));
    EXPECT_EQ(model.Vardex, sim->State().vardex);
    EXPECT_EQ(model.TimeOpen, 5);
    EXPECT_EQ(model.RetryRead, 2);
    EXPECT_TRUE(model.keys.empty());

    // Times that cannot be read: the defaults, and the log says so.
    ASSERT_EQ(sim->Control("fault status-nonzero-no-payload 0x63"), "ok");
    r = RunProgram({CliPath(), "--port", sim->Port(), "--yes", "new", Path("m.vx2")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Чтение настроек контроллера ... \nНастройки контроллера не прочитаны: "
                         "Контроллер отказал (состояние 0x01). В файл записаны времена по "
                         "умолчанию: 1 и 1 сек.\n"),
              std::string::npos)
        << r.err;
    ASSERT_TRUE(LoadDbFile(Path("m.vx2"), model));
    EXPECT_EQ(model.TimeOpen, 1);
    EXPECT_EQ(model.RetryRead, 1);
}

}  // namespace
