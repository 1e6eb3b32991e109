// vardex2-cli link-check and clear against the virtual controller.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>

#include "core/link/frame.h"
#include "support/sim_process.h"

namespace {

int CountRequests(const std::string& log, const std::string& bytes) {
    int n = 0;
    for (size_t at = log.find("request " + bytes); at != std::string::npos;
         at = log.find("request " + bytes, at + 1)) {
        ++n;
    }
    return n;
}

// Runs the program with a pseudo-terminal as its controlling terminal, typing `answers`
// (one per question, each after its prompt). Returns the exit status and the output.
ProcessResult RunOnTerminal(const std::vector<std::string>& argv,
                            const std::vector<std::string>& answers) {
    ProcessResult result;
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv) {
            args.push_back(const_cast<char*>(a.c_str()));
        }
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    size_t answered = 0;
    size_t prompts = 0;
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 200) > 0) {
            char buf[1024];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) {
                break;  // the program has gone
            }
            result.out.append(buf, static_cast<size_t>(n));
        }
        // Type the next answer once its prompt is on the screen.
        size_t count = 0;
        for (size_t at = result.out.find("Да/Нет?"); at != std::string::npos;
             at = result.out.find("Да/Нет?", at + 1)) {
            ++count;
        }
        if (count > prompts && answered < answers.size()) {
            prompts = count;
            const std::string line = answers[answered++] + "\n";
            (void)!::write(master, line.data(), line.size());
        }
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(30)) {
            kill(pid, SIGKILL);
            break;
        }
    }
    ::close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

TEST(CliLink, LinkCheckAndClearAgainstTheController) {
    SimProcess sim({"--keys", "1,2,3", "--vardex", "77"});
    ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "link-check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "OK\n");
    EXPECT_EQ(r.err, "");

    // The clear's "OK" is its log, not data.
    r = RunProgram({CliPath(), "--port", sim.Port(), "clear", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "OK\n");
    const SimState state = sim.State();
    EXPECT_TRUE(state.keys.empty());
    EXPECT_EQ(state.vardex, 77u);

    const std::string log = sim.Log();
    EXPECT_EQ(CountRequests(log, "00 02 00 00 00 07"), 1) << log;
    EXPECT_EQ(CountRequests(log, "00 01 00 00 00 8F"), 1) << log;
}

TEST(CliLink, ClearAsksTwiceOnTheTerminal) {
    SimProcess sim({"--keys", "1,2,3"});
    // "No" to the second question: nothing is sent.
    ProcessResult r = RunOnTerminal({CliPath(), "--port", sim.Port(), "clear"}, {"да", "нет"});
    EXPECT_EQ(r.status, 5) << r.out;
    EXPECT_NE(r.out.find("Полная очистка контроллера"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Внимание! Все данные в контроллере будут удалены!"), std::string::npos)
        << r.out;
    EXPECT_EQ(sim.State().keys.size(), 3u);

    r = RunOnTerminal({CliPath(), "--port", sim.Port(), "clear"}, {"да", "да"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("OK"), std::string::npos) << r.out;
    EXPECT_TRUE(sim.State().keys.empty());
}

TEST(CliLink, ClearWithoutTerminalOrYesIsRefused) {
    SimProcess sim({"--keys", "1,2,3"});
    const ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "clear"}, "да\nда\n");
    EXPECT_EQ(r.status, 5);
    EXPECT_NE(r.err.find("--yes"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(sim.State().keys.size(), 3u);
    EXPECT_EQ(sim.Log().find("request "), std::string::npos);
}

TEST(CliLink, PortThatCannotBeOpened) {
    ProcessResult r = RunProgram({CliPath(), "--port", "/dev/vardex-no-such-port", "link-check"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Ошибка подключения"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Порт подключения: /dev/vardex-no-such-port"), std::string::npos) << r.err;

    // No --port, no VARDEX2_PORT and no remembered port.
    r = RunProgram({"/usr/bin/env", "-u", "VARDEX2_PORT", "XDG_CONFIG_HOME=/nonexistent", CliPath(),
                    "link-check"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("Не выбран COM порт"), std::string::npos) << r.err;
}

TEST(CliLink, SilentControllerTimesOutAfterThreeAttempts) {
    SimProcess sim;
    sim.Fault("silence");
    const ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "link-check"});
    EXPECT_EQ(r.status, 14);
    EXPECT_EQ(r.err,
              "Истекло время ожидания ответа от контроллера.\nВозможно контроллер не подключен\n");
    EXPECT_EQ(r.out, "");
    // Three attempts of about 1.13 s each.
    EXPECT_GT(r.seconds, 3.3);
    EXPECT_LT(r.seconds, 4.5);
    EXPECT_EQ(CountRequests(sim.Log(), "00 02 00 00 00 07"), 3) << sim.Log();
}

TEST(CliLink, LateReplyIsATimeOut) {
    SimProcess sim;
    sim.Fault("late");
    const ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "link-check"});
    EXPECT_EQ(r.status, 14) << r.err;
    EXPECT_EQ(CountRequests(sim.Log(), "00 02 00 00 00 07"), 3) << sim.Log();
}

TEST(CliLink, DamagedRepliesAreReadFailures) {
    SimProcess sim;
    for (const char* fault : {"bad-header-crc", "bad-payload-crc", "noise"}) {
        sim.Fault(fault);
        const ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "link-check"});
        EXPECT_EQ(r.status, 12) << fault;
        EXPECT_EQ(r.err, "Ошибка чтения из контроллера\n") << fault;
    }
    // A controller that answers only the second attempt is good enough.
    sim.Fault("answer-from-attempt", 2);
    const ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "link-check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "OK\n");
}

TEST(CliLink, HelpListsTheCommands) {
    const ProcessResult r = RunProgram({CliPath(), "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("--port DEVICE link-check"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--port DEVICE clear"), std::string::npos) << r.out;
}

}  // namespace

// The progress bar on a terminal: cleared with an escape sequence on a terminal that takes
// them, with spaces on TERM=dumb, and not drawn at all with --quiet.
TEST(CliLink, ProgressBarWithoutEscapesOnADumbTerminal) {
    SimProcess sim({"--keys", "1,2,3,4,5,6"});
    const std::string file = sim.TempDir() + "/bar.vx2";
    auto load = [&](const std::string& term, const std::string& extra) {
        std::filesystem::remove(file);
        std::vector<std::string> argv{"/usr/bin/env", "TERM=" + term, CliPath(), "--port",
                                      sim.Port(),     "load",         file};
        if (!extra.empty())
            argv.push_back(extra);
        return RunOnTerminal(argv, {});
    };
    ProcessResult r = load("xterm", "");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("\033[K"), std::string::npos) << r.out;
    r = load("dumb", "");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find(", осталось "), std::string::npos) << r.out;  // the bar was drawn
    EXPECT_EQ(r.out.find('\033'), std::string::npos) << r.out;
    r = load("xterm", "--quiet");
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, "");
}
