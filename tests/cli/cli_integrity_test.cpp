// vardex2-cli against the virtual controller where it used to say more than the controller
// and the file held: a file that is not a database, entries with no valid key number,
// outputs that could not be written, and key lists that could not be read whole.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "core/keys/database.h"
#include "core/keys/journaled.h"
#include "support/sim_process.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class CliIntegrity : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_cli_integrity.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/doors.vx2";
        StartSim("1,2,3");
    }
    void TearDown() override {
        sim.reset();
        std::filesystem::remove_all(dir);
    }
    void StartSim(const std::string& keys, std::vector<std::string> more = {}) {
        sim.reset();
        more.insert(more.begin(), {"--keys", keys});
        sim = std::make_unique<SimProcess>(more);
    }
    // Starts the command in the background, its output into dir/out and dir/err.
    pid_t Start(const std::vector<std::string>& words) {
        std::vector<std::string> argv{CliPath(), "--port", sim->Port()};
        argv.insert(argv.end(), words.begin(), words.end());
        const std::string out = dir + "/out", err = dir + "/err";
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDOUT_FILENO);
            ::dup2(::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
            ::setsid();  // no terminal to ask on
            std::vector<char*> args;
            for (auto& a : argv)
                args.push_back(a.data());
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        return pid;
    }
    // Waits for the command's end: its exit status (128 + signal when killed).
    static int Finish(pid_t pid) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    // Waits until the controller holds at least `count` keys after a clear.
    void WaitForKeys(size_t count) {
        for (int i = 0; i < 400; ++i) {
            if (Count(sim->Log(), "request 00 22") >= count + 1)  // the vardex, then keys
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
        FAIL() << "the controller never got " << count << " keys";
    }
    void Write(const std::string& file, const std::string& bytes) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    }
    ProcessResult Cli(std::vector<std::string> words, const std::string& input = "") {
        std::vector<std::string> argv{CliPath(), "--port", sim->Port()};
        argv.insert(argv.end(), words.begin(), words.end());
        return RunProgram(argv, input, 30000);
    }
    // The command through a shell, its standard output sent to `out`.
    ProcessResult CliTo(const std::string& words, const std::string& out) {
        return RunProgram(
            {"/bin/sh", "-c",
             "exec '" + CliPath() + "' --port '" + sim->Port() + "' " + words + " >" + out});
    }
    size_t Requests() { return Count(sim->Log(), "request "); }
    static size_t Count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
            ++n;
        return n;
    }

    std::unique_ptr<SimProcess> sim;
    std::string dir, path;
};

// Any readable file used to pass for a database: an export cleared the controller, `show`
// printed defaults. Now every command refuses it before any request, and writes nothing.
TEST_F(CliIntegrity, AFileWithNeitherSectionIsRefusedByEveryCommandBeforeAnyRequest) {
    const std::vector<std::vector<std::string>> commands = {
        {"export", path, "--yes"},
        {"reconcile", path, "--yes"},
        {"reconcile", path, "--dry-run"},
        {"check", path, "--add", "--yes"},
        {"add", path, "0A0B0C"},
        {"remove", path, "000001", "--yes"},
        {"edit", path, "000001", "--number", "000009"},
        {"set-vardex", path, "000009"},
        {"set-times", path, "--open", "9"},
        {"enroll", path},
        {"find", path},
        {"show", path},
        {"list", path},
        {"search", path, "1"},
    };
    const std::string contents[] = {"hello\n", "", "root:x:0:0:root:/root:/bin/bash\n1=2\n"};
    for (const std::string& content : contents) {
        Write(path, content);
        for (const auto& words : commands) {
            SCOPED_TRACE(words[0] + " over «" + content + "»");
            const size_t before = Requests();
            ProcessResult r = Cli(words);
            EXPECT_NE(r.status, 0);
            EXPECT_TRUE(Contains(r.err, "не является файлом базы ключей")) << r.err;
            EXPECT_FALSE(Contains(r.out, "успешно")) << r.out;
            EXPECT_EQ(Requests(), before) << sim->Log();
            EXPECT_EQ(ReadAll(path), content);
        }
    }
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{1, 2, 3}));
    // A file the program creates is a database from its first line on.
    ASSERT_TRUE(NewDbFile(path).ok);
    EXPECT_EQ(Cli({"show", path}).status, 0);
}

// Entries the controller cannot hold were cut to 24 bits and sent: 16777217 went in as
// 000001. Now they are told when the file is read, listed apart, never sent, and a
// reconcile names the entry rather than removing the key an older program left for it.
TEST_F(CliIntegrity, EntriesWithNoValidNumberAreToldNeverSentAndNeverCostAKey) {
    Write(path,
          "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=3\r\nTypeFormat=0\r\nVardex=0\r\n"
          "[VardexDB2]\r\n16777217=Cut\r\n0x2000003=\r\n-5=\r\n0=\r\n05=\r\nabc=x\r\n"
          "5=Five\r\n");
    const std::string told = "записей с недопустимым номером карты(ключа): 6";

    ProcessResult r = Cli({"list", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "XX XX XXXXXX 000005\tFive\n");
    EXPECT_TRUE(Contains(r.err, told)) << r.err;
    EXPECT_TRUE(Contains(r.err, "«16777217», «0x2000003», «-5», «0», «05», «abc»")) << r.err;
    r = Cli({"list", path, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto json = nlohmann::json::parse(r.out);
    ASSERT_EQ(json["keys"].size(), 1u);
    ASSERT_EQ(json["invalid"].size(), 6u);
    EXPECT_EQ(json["invalid"][0]["name"], "16777217");
    EXPECT_EQ(json["invalid"][0]["description"], "Cut");

    // The reconcile: 000001, 000003 and FFFFFB are what older programs made of three
    // entries; each is named and stays, the stranger 000777 goes.
    StartSim("1,3,16777211,5,1911");
    r = Cli({"reconcile", path, "--yes"});
    EXPECT_EQ(r.status, 1) << r.err;  // file and controller still differ
    EXPECT_TRUE(Contains(r.out, "не удалять: XX XX XXXXXX 000001 - запись файла «16777217»"))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "не удалять: XX XX XXXXXX 000003 - запись файла «0x2000003»"))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "не удалять: XX XX XXXXXX FFFFFB - запись файла «-5»")) << r.out;
    EXPECT_TRUE(Contains(r.out, "удалить: XX XX XXXXXX 000777")) << r.out;
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{1, 3, 16777211, 5}));

    // The export sends the one valid key and nothing made of the others.
    r = Cli({"export", path, "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, told)) << r.err;
    EXPECT_EQ(sim->State().keys, (std::vector<std::uint32_t>{5}));
}

// A full disk under standard output used to end with status 0 and an empty file.
TEST_F(CliIntegrity, AnOutputThatCouldNotBeWrittenFailsTheCommand) {
    ASSERT_TRUE(journaled::NewDbFile(path).ok);
    for (KeyCode code = 1; code <= 200; ++code)
        ASSERT_TRUE(journaled::SaveKey(path, code, "Сотрудник").ok);
    const std::string commands[] = {"list " + path + " --csv",
                                    "list " + path + " --json",
                                    "list " + path,
                                    "show " + path,
                                    "journal " + path,
                                    "journal " + path + " --json",
                                    "search " + path + " 1"};
    for (const std::string& words : commands) {
        SCOPED_TRACE(words);
        ProcessResult r = CliTo(words, "/dev/full");
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "Не удалось записать стандартный вывод")) << r.err;
        // The same output to a file that takes it.
        r = CliTo(words, dir + "/out");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_FALSE(Contains(r.err, "Не удалось записать")) << r.err;
    }
}

// A journal that could not be written was told on standard error, and the command still
// ended with 0: a script never heard that the record of its change was missing.
TEST_F(CliIntegrity, AJournalThatCouldNotBeWrittenFailsTheCommand) {
    ASSERT_TRUE(NewDbFile(path).ok);
    ASSERT_TRUE(SaveKey(path, 1, "a").ok);
    std::filesystem::create_directory(path + ".journal");  // no line can go there
    ProcessResult r = Cli({"edit", path, "000001", "--description", "b"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(Contains(r.err, "Не удалось записать журнал изменений")) << r.err;
    DbModel model;
    ASSERT_TRUE(LoadDbFile(path, model).ok);
    EXPECT_EQ(model.keys.at(0).description, "b");  // the change itself is made
}

// The key list of an import is read whole or refused: a FIFO hung, a folder or a device
// gave "0 new" and status 0, a file cut at 64 MiB offered a row cut short as a new key.
TEST_F(CliIntegrity, AnImportReadsItsListWholeOrRefusesIt) {
    ASSERT_TRUE(NewDbFile(path).ok);
    const std::string fifo = dir + "/fifo.csv";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string big = dir + "/big.csv";
    {
        Write(big, "0A0B0C;Склад\r\n");
        ASSERT_EQ(::truncate(big.c_str(), (64 << 20) + 10), 0);
    }
    const std::string refused[] = {dir, fifo, "/dev/zero", big, dir + "/absent.csv"};
    for (const std::string& csv : refused) {
        SCOPED_TRACE(csv);
        ProcessResult r = Cli({"import", path, csv, "--dry-run"});
        EXPECT_EQ(r.status, 1) << r.out;
        EXPECT_TRUE(Contains(r.err, "не удалось открыть " + csv)) << r.err;
        EXPECT_FALSE(Contains(r.out, "Новых:")) << r.out;
        EXPECT_LT(r.seconds, 10);
    }
    // "-": standard input, to its end.
    ProcessResult r = Cli({"import", path, "-", "--yes"}, "0A0B0C;Склад\r\n000001;\r\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.out + r.err, "Новых: 2")) << r.out << r.err;
    DbModel model;
    ASSERT_TRUE(LoadDbFile(path, model).ok);
    EXPECT_EQ(model.keys.size(), 2u);
    r = Cli({"import", path, "-", "--dry-run"}, std::string((64 << 20) + 1, ';'));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Contains(r.err, "не удалось открыть стандартный ввод")) << r.err;
}

// Ctrl+C killed an export at once, the controller left with part of the file and the
// journal silent. Now SIGINT and SIGTERM stop it between two requests: it says what was
// written and what not, journals it, and ends with 128 + the signal.
TEST_F(CliIntegrity, ASignalStopsAJobBetweenTwoRequestsAndSaysWhereItStands) {
    ASSERT_TRUE(NewDbFile(path).ok);
    std::vector<DbKey> keys;
    for (KeyCode code = 1; code <= 60; ++code)
        keys.push_back({code * 7, ""});
    ASSERT_TRUE(SaveKeys(path, keys).ok);
    for (int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        StartSim("9,8", {"--reply-delay", "40"});
        const pid_t pid = Start({"export", path, "--yes"});
        WaitForKeys(5);
        ::kill(pid, signal);
        EXPECT_EQ(Finish(pid), 128 + signal);
        const size_t held = sim->State().keys.size();
        EXPECT_GE(held, 5u);
        EXPECT_LT(held, 60u);
        const std::string err = ReadAll(dir + "/err");
        EXPECT_TRUE(Contains(err,
                             "Прервано. Контроллер очищен, настройки записаны, вардекс "
                             "записан; записано карт(ключей): " +
                                 std::to_string(held) + " из 60."))
            << err;
        EXPECT_FALSE(Contains(ReadAll(dir + "/out"), "успешно"));
        const std::string journal = ReadAll(path + ".journal");
        EXPECT_TRUE(Contains(journal.substr(journal.rfind("\texport\t")), "\tПрервано")) << journal;
    }
    // A second Ctrl+C ends it at once, even in the middle of a slow request.
    StartSim("9,8", {"--reply-delay", "3000"});
    const pid_t pid = Start({"export", path, "--yes"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto start = std::chrono::steady_clock::now();
    ::kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ::kill(pid, SIGINT);
    EXPECT_EQ(Finish(pid), 130);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
}

}  // namespace

namespace {

// A job killed between the controller and the file (563 kills once left keys in the
// controller alone with no trace). Every change writes its intent before its first
// request: a kill while the controller has the request leaves the intent alone in the
// journal, and the next open of the file says so, once, and what to check. While the job
// still runs (it holds the file's lock) nothing is said.
TEST_F(CliIntegrity, AJobKilledMidRequestLeavesItsIntentAndTheNextOpenSaysSo) {
    const std::string csv = dir + "/new.csv";
    Write(csv, "0A0B0D;Склад\r\n");
    const struct {
        std::vector<std::string> words;
        std::string fault;  // holds the first write unanswered
        std::string operation;
    } cases[] = {
        {{"add", path, "XX XX XXXXXX 0A1B2C", "Склад"}, "silent-from-write", "key-add"},
        {{"remove", path, "XX XX XXXXXX 000002", "--yes"}, "silent-from-write", "key-remove"},
        {{"set-vardex", path, "XX XX XXXXXX 010203"}, "silent-from-write", "vardex"},
        {{"set-times", path, "--open", "7", "--retry", "2"}, "silence", "times"},
        {{"export", path, "--yes"}, "silence", "export"},
        {{"import", path, csv, "--yes"}, "silent-from-write", "import"},
        {{"reconcile", path, "--yes"}, "silent-from-write", "reconcile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words[0]);
        std::filesystem::remove(path + ".journal");
        ASSERT_TRUE(NewDbFile(path).ok);
        // The controller lacks 0A0B0C: a difference for the reconcile to write.
        ASSERT_TRUE(SaveKeys(path, {{1, ""}, {2, ""}, {3, ""}, {0x0A0B0C, ""}}).ok);
        StartSim("1,2,3");
        if (c.fault == "silence")
            sim->Fault(c.fault);
        else
            sim->Fault(c.fault, 1);
        const pid_t pid = Start(c.words);
        bool held = false;
        for (int i = 0; i < 2000 && !held; ++i) {
            held = Contains(sim->Log(), "not answered");
            if (!held)
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        ASSERT_TRUE(held) << ReadAll(dir + "/err");
        // Its job runs: not cut short, only not done yet.
        ProcessResult running = Cli({"show", path});
        EXPECT_FALSE(Contains(running.err, journaled::kInterruptedCaption)) << running.err;
        ::kill(pid, SIGKILL);
        EXPECT_EQ(Finish(pid), 128 + SIGKILL);
        const std::string journal = ReadAll(path + ".journal");
        EXPECT_TRUE(Contains(journal, "\t" + c.operation + "\t")) << journal;
        EXPECT_TRUE(Contains(journal.substr(journal.rfind('\t')), "\tначато #")) << journal;

        ProcessResult next = Cli({"show", path});
        EXPECT_EQ(next.status, 0) << next.err;
        EXPECT_TRUE(Contains(next.err, std::string(journaled::kInterruptedCaption) +
                                           ": Изменение не было завершено:"))
            << next.err;
        EXPECT_TRUE(Contains(next.err, ": " + c.operation)) << next.err;
        EXPECT_TRUE(Contains(next.err, "«Проверка карт(ключей)» или сверка")) << next.err;
        // Told once: the report closes the intent.
        next = Cli({"show", path});
        EXPECT_FALSE(Contains(next.err, journaled::kInterruptedCaption)) << next.err;
    }
}

}  // namespace
