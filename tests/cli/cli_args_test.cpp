// vardex2-cli's command line: help for every command, global options on either side
// of the command, argument errors in Russian with exit status 2, and the port found
// without --port.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "support/sim_process.h"

namespace {

// The names in the list of commands of `vardex2-cli --help`.
std::vector<std::string> Commands() {
    const ProcessResult r = RunProgram({CliPath(), "--help"});
    std::vector<std::string> names;
    std::istringstream in(r.out.substr(r.out.find("Commands:")));
    std::string line;
    const std::regex command("  (?:--port DEVICE )?([a-z-]+)(?: .*)?");
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_match(line, m, command))
            names.push_back(m[1]);
    }
    return names;
}

TEST(CliArgs, EveryCommandHasItsOwnHelp) {
    const std::vector<std::string> names = Commands();
    for (const char* known : {"link-check", "clear", "list", "show", "load", "export", "check",
                              "add", "edit", "remove", "set-vardex", "set-times", "read-key"}) {
        EXPECT_NE(std::find(names.begin(), names.end(), known), names.end()) << known;
    }
    for (const std::string& name : names) {
        const ProcessResult r = RunProgram({CliPath(), name, "--help"});
        EXPECT_EQ(r.status, 0) << name;
        EXPECT_NE(r.out.find("Usage: vardex2-cli "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find(" " + name), std::string::npos) << r.out;
        EXPECT_EQ(r.err, "") << name;
    }
    // Commands that talk to the controller show how to name the port and trace it.
    const ProcessResult r = RunProgram({CliPath(), "clear", "-h"});
    EXPECT_NE(r.out.find("--port DEVICE"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--trace FILE"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("--yes"), std::string::npos) << r.out;
}

TEST(CliArgs, ArgumentErrorsAreRussianWithStatusTwo) {
    struct Case {
        std::vector<std::string> args;
        std::string err;
    };
    const std::vector<Case> cases = {
        {{"list"}, "Не указан обязательный аргумент FILE\nСправка: vardex2-cli list --help\n"},
        {{"list", "a.vx2", "b.vx2"}, "Лишний аргумент: b.vx2\nСправка: vardex2-cli list --help\n"},
        {{"frob"}, "Неизвестная команда: frob\nСправка: vardex2-cli --help\n"},
        {{"show", "a.vx2", "--bogus"},
         "Неизвестный параметр: --bogus\nСправка: vardex2-cli show --help\n"},
        {{"link-check", "--port"},
         "Не указано значение параметра --port\nСправка: vardex2-cli link-check --help\n"},
        {{"--port", "a", "link-check", "--port", "b", "--port", "c"},
         "Параметр --port указан больше одного раза\nСправка: vardex2-cli link-check --help\n"},
        {{"edit", "a.vx2"},
         "Не указан обязательный аргумент KEY\nСправка: vardex2-cli edit --help\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv = c.args;
        argv.insert(argv.begin(), CliPath());
        const ProcessResult r = RunProgram(argv);
        EXPECT_EQ(r.status, 2) << c.err;
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(r.out, "");
    }
    // No command at all: the help, on standard error.
    const ProcessResult r = RunProgram({CliPath()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Commands:"), std::string::npos) << r.err;
}

TEST(CliArgs, GlobalOptionsBeforeOrAfterTheCommand) {
    SimProcess sim({"--keys", "1,2,3"});
    for (const auto& argv :
         std::vector<std::vector<std::string>>{{CliPath(), "--port", sim.Port(), "link-check"},
                                               {CliPath(), "link-check", "--port", sim.Port()},
                                               {CliPath(), "link-check", "--port=" + sim.Port()}}) {
        const ProcessResult r = RunProgram(argv);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, "OK\n");
    }
    // --yes before the command answers the questions of the command.
    const ProcessResult r = RunProgram({CliPath(), "--yes", "clear", "--port", sim.Port()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(sim.State().keys.empty());
}

TEST(CliArgs, PortFromTheEnvironmentOrTheRememberedOne) {
    SimProcess sim;
    const std::string config = sim.TempDir() + "/config";
    std::filesystem::create_directories(config + "/Vardex2");
    // Quoted, as the program writes a path with a space or a semicolon.
    std::ofstream(config + "/Vardex2/Vardex2.conf")
        << "[General]\nComPort=\"" << sim.Port() << "\"\n";
    const std::string xdg = "XDG_CONFIG_HOME=" + config;
    ProcessResult r =
        RunProgram({"/usr/bin/env", "-u", "VARDEX2_PORT", xdg, CliPath(), "link-check"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "OK\n");
    // The environment comes before the remembered port, and --port before both.
    r = RunProgram(
        {"/usr/bin/env", "VARDEX2_PORT=/dev/vardex-no-such-port", xdg, CliPath(), "link-check"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("/dev/vardex-no-such-port"), std::string::npos) << r.err;
    r = RunProgram({"/usr/bin/env", "VARDEX2_PORT=/dev/vardex-no-such-port", xdg, CliPath(),
                    "link-check", "--port", sim.Port()});
    EXPECT_EQ(r.status, 0) << r.err;
}

}  // namespace
