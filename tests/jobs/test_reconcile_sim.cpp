// vardex2-cli reconcile against the virtual controller: --dry-run reads and keeps the copy
// but sends no write and leaves the file byte-identical; the apply writes only the
// differences in their order; --adopt-extra; a failed write and the rerun that finishes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "core/keys/backup.h"
#include "core/keys/database.h"
#include "support/file_bytes.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;

// The bytes of each request in the sim's log (header and payload, without the CRCs'
// positions mattering here: the first 5 header bytes and the command).
std::vector<std::string> Requests(const std::string& log) {
    std::vector<std::string> out;
    static const std::regex line(R"(\] request ([0-9A-F ]+?) \|)");
    std::istringstream in(log);
    std::string text;
    std::smatch m;
    while (std::getline(in, text)) {
        if (std::regex_search(text, m, line))
            out.push_back(m[1]);
    }
    return out;
}

// The command byte of each request ("42", "63", "61", "22" ...).
std::vector<std::string> Commands(const std::string& log) {
    std::vector<std::string> out;
    for (const auto& r : Requests(log))
        out.push_back(r.substr(3, 2));
    return out;
}

// EM-Marine keys 7 and 0x12ABCD, vardex 65538, times 9 and 2.
const char* const TwoKeys =
    "[ControllerSettings]\r\nTimeOpen=9\r\nRetryRead=2\r\nTypeFormat=1\r\nVardex=65538\r\n"
    "[VardexDB2]\r\n1223629=\xc4\xe2\xe5\xf0\xfc\r\n7=\r\n";

class ReconcileSimTest : public ::testing::Test {
  protected:
    void Start(std::vector<std::string> options) {
        sim = std::make_unique<SimProcess>(std::move(options));
        data = sim->TempDir() + "/data";
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        db = sim->TempDir() + "/doors.vx2";
        WriteFile(db, TwoKeys);
    }
    ProcessResult Cli(std::vector<std::string> words) {
        std::vector<std::string> argv = {CliPath(), "--port", sim->Port(), "reconcile", db};
        argv.insert(argv.end(), words.begin(), words.end());
        return RunProgram(argv);
    }
    std::vector<std::string> Copies() const {
        std::vector<std::string> names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(data + "/Vardex2/backups", ec))
            names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::unique_ptr<SimProcess> sim;
    std::string data, db;
};

TEST_F(ReconcileSimTest, DryRunSendsNoWriteLeavesTheFileAndKeepsTheCopy) {
    Start({"--keys", "0x12ABCD,0x30", "--times", "9,2"});
    ProcessResult r = Cli({"--dry-run", "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(db), TwoKeys);
    EXPECT_EQ(Commands(sim->Log()), (std::vector<std::string>{"42", "63", "61", "61", "61"}));
    EXPECT_FALSE(fs::exists(db + ".journal"));

    nlohmann::json out = nlohmann::json::parse(r.out);
    EXPECT_EQ(out["format"], "em");
    EXPECT_EQ(out["controller_key_count"], 2);
    EXPECT_EQ(out["same"], 1);
    EXPECT_EQ(out["write"],
              nlohmann::json::parse(R"([{"number": 7, "shown": "000,00007", "description": ""}])"));
    EXPECT_EQ(out["remove"], nlohmann::json::parse(R"([{"number": 48, "shown": "000,00048"}])"));
    EXPECT_EQ(out["times"], nullptr);
    EXPECT_EQ(out["vardex"]["file"]["number"], 65538);
    EXPECT_EQ(out["vardex"]["controller"], nullptr);
    EXPECT_EQ(out["duplicates"], nlohmann::json::array());
    EXPECT_EQ(out["applied"], false);
    EXPECT_EQ(out["agree"], false);

    // The copy: named after the file and its path, the controller's keys once each, with
    // the file's description where it has the key.
    const auto copies = Copies();
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(out["backup"], data + "/Vardex2/backups/" + copies[0]);
    EXPECT_TRUE(std::regex_match(
        copies[0], std::regex("doors-" + BackupPathHash(db) + R"(-\d{6}-\d{8}-\d{6}\.vx2)")));
    EXPECT_EQ(ReadFile(out["backup"]),
              "[ControllerSettings]\r\nTimeOpen=9\r\nRetryRead=2\r\nTypeFormat=1\r\nVardex=0\r\n"
              "[VardexDB2]\r\n1223629=\xc4\xe2\xe5\xf0\xfc\r\n48=48\r\n");
    EXPECT_NE(r.err.find("Копия данных контроллера сохранена в файл " + data), std::string::npos);
}

TEST_F(ReconcileSimTest, ApplyWritesOnlyTheDifferencesAndARerunFindsNothing) {
    Start({"--keys", "0x12ABCD,0x30,0x40", "--times", "5,2"});
    // Without --yes and without a terminal: refused before any traffic.
    ProcessResult r = Cli({});
    EXPECT_EQ(r.status, 5);
    EXPECT_TRUE(Requests(sim->Log()).empty());

    r = Cli({"--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto requests = Requests(sim->Log());
    ASSERT_EQ(requests.size(), 6u + 5u + 1u);
    // Store 7 with the key dialog's record, the times, the vardex, then the removals.
    EXPECT_EQ(requests[6].substr(0, 14), "00 22 00 00 0C");
    EXPECT_EQ(requests[6].substr(18, 35), "00 00 07 00 00 00 FF FF FF FF FF FF");
    EXPECT_EQ(requests[7].substr(0, 5), "00 23");
    EXPECT_EQ(requests[8].substr(0, 14), "00 22 00 FF 0C");
    EXPECT_EQ(requests[9].substr(18, 17), "00 00 30 FF FF FF");
    EXPECT_EQ(requests[10].substr(18, 17), "00 00 40 FF FF FF");
    EXPECT_EQ(requests[11].substr(0, 5), "00 42");
    EXPECT_NE(r.err.find("Удаление карт(ключей) из контроллера:\nКарта(ключ) 000,00048 ... OK!\n"
                         "Карта(ключ) 000,00064 ... OK!\n"),
              std::string::npos);
    const std::string tail =
        "Проверка кол-ва карт(ключей) в контроллере ... OK!\nКол-во карт(ключей) в "
        "контроллере: 2\n\nСверка с контроллером завершена успешно!\n";
    ASSERT_GE(r.err.size(), tail.size());
    EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail);
    SimState state = sim->State();
    EXPECT_EQ(state.keys, (std::vector<std::uint32_t>{0x12ABCD, 7}));
    EXPECT_EQ(state.vardex, 65538u);
    EXPECT_EQ(state.timeOpen, 9);
    EXPECT_EQ(ReadFile(db), TwoKeys);

    r = Cli({"--yes"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Файл и контроллер совпадают\n"), std::string::npos);
    EXPECT_EQ(Requests(sim->Log()).size(), 12u + 5u);
    EXPECT_EQ(Copies().size(), 2u);
}

TEST_F(ReconcileSimTest, AdoptExtraAddsTheControllersKeysToTheFile) {
    Start({"--keys", "0x12ABCD,7,0x30", "--times", "9,2", "--vardex", "65538"});
    ProcessResult r = Cli({"--adopt-extra", "--yes"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadFile(db), std::string(TwoKeys) + "48=48\r\n");
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{0x12ABCD, 7, 0x30}));
    // Nothing to write to the controller: the reads and the verifying count.
    EXPECT_EQ(Commands(sim->Log()).back(), "42");
    EXPECT_EQ(Requests(sim->Log()).size(), 6u + 1u);
}

TEST_F(ReconcileSimTest, AFailedWriteStopsWithItsStatusAndTheRerunFinishes) {
    Start({"--keys", "0x30", "--times", "9,2", "--vardex", "65538"});
    sim->Fault("silent-from-write", 2);  // the second store
    ProcessResult r = Cli({"--yes"});
    EXPECT_EQ(r.status, 14);
    EXPECT_NE(r.err.find("Записано карт(ключей): 1 из 2, удалено: 0 из 1\n"), std::string::npos);
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{0x30, 7}));
    sim->FaultOff();
    r = Cli({"--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{7, 0x12ABCD}));
}

}  // namespace

namespace {

// Another writer holds the file while the reconcile reads the controller, and adds the
// key the controller holds beyond the file (an `add`: the controller first, then the
// file) before it lets go. The reconcile waits for the file, reads it again, and leaves
// that key in the controller: what it writes follows the file as it is then.
TEST_F(ReconcileSimTest, AKeyAddedMeanwhileUnderTheLockIsNotRemoved) {
    Start({"--keys", "0x12ABCD,7,0x30", "--times", "9,2", "--vardex", "65538"});
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const std::string log = sim->LogPath();
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        DbLock lock;
        if (!LockDbForWrite(db, lock))
            ::_exit(1);
        char ok = 1;
        (void)!::write(ready[1], &ok, 1);
        // Until the reconcile has read the last slot of the controller, then a moment more
        // for it to compare and come to the file.
        for (int i = 0;
             i < 200 && ReadFile(log).find("request 00 61 00 00 02 A3 02 00") == std::string::npos;
             ++i)
            ::usleep(50 * 1000);
        ::usleep(500 * 1000);
        ::_exit(SaveKey(db, 0x30, "") ? 0 : 2);
    }
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ProcessResult r = Cli({"--yes"});
    int status = 0;
    ::waitpid(writer, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("Файл базы изменён после чтения"), std::string::npos) << r.err;
    // No removal was sent; the controller and the file both hold the key.
    const auto commands = Commands(sim->Log());
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "22"), 0);
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{0x12ABCD, 7, 0x30}));
    DbModel model;
    ASSERT_TRUE(LoadDbFile(db, model));
    EXPECT_EQ(model.keys.size(), 3u);
}

}  // namespace
