// --trace: each attempt of each request as it went over the line, against the virtual
// controller.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "support/sim_process.h"

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(CliTrace, SilentControllerShowsThreeAttempts) {
    SimProcess sim;
    sim.Fault("silence");
    const std::string trace = sim.TempDir() + "/trace.txt";
    const ProcessResult r =
        RunProgram({CliPath(), "--port", sim.Port(), "link-check", "--trace", trace});
    EXPECT_EQ(r.status, 14);
    const std::vector<std::string> lines = Lines(ReadAll(trace));
    ASSERT_EQ(lines.size(), 3u) << ReadAll(trace);
    const std::regex attempt(
        "\\+(\\d+) ms attempt ([123])/3: sent mark\\{00\\} space\\{02 00 00 00 07\\}; "
        "received \\{\\(0 of 6\\)\\}; result 4 Истекло время ожидания ответа от контроллера\\. "
        "Возможно контроллер не подключен");
    long previous = -1;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, attempt)) << lines[i];
        EXPECT_EQ(std::stoul(m[2]), i + 1);
        // Each attempt waits its second for the reply before the next one starts.
        const long ms = std::stol(m[1]);
        if (previous >= 0) {
            EXPECT_GE(ms - previous, 1000) << lines[i];
        }
        previous = ms;
    }
    // The trace is the technician's; the operator's message is as without it.
    EXPECT_EQ(r.err,
              "Истекло время ожидания ответа от контроллера.\nВозможно контроллер не подключен\n");
}

TEST(CliTrace, PartsUnderTheirParityAndTheRepliesOnStandardError) {
    SimProcess sim({"--keys", "1,2"});
    // A request with a payload: the times, written to the controller.
    const std::string file = sim.TempDir() + "/t.vx2";
    std::ofstream(file, std::ios::binary) << "[ControllerSettings]\r\nTimeOpen=5\r\n";
    const ProcessResult r = RunProgram(
        {CliPath(), "--trace", "-", "set-times", file, "--open", "7", "--port", sim.Port()});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> attempts;
    for (const std::string& line : Lines(r.err)) {
        if (line.find(" ms attempt ") != std::string::npos)
            attempts.push_back(line);
    }
    ASSERT_FALSE(attempts.empty()) << r.err;
    // The address under mark parity, the header and then the payload under space (on a
    // busy machine the pseudo-terminal may lose an attempt; the next one counts).
    const std::regex write(
        "\\+\\d+ ms attempt [123]/3: sent mark\\{00\\} space\\{([0-9A-F]{2}) 00 00 05 [0-9A-F]{2}\\} "
        "space\\{07 01 00 00 00 [0-9A-F]{2}\\}; received \\{00 \\1 00 00 00 [0-9A-F]{2}\\}; result 0 OK");
    bool seen = false;
    for (const std::string& line : attempts)
        seen = seen || std::regex_match(line, write);
    EXPECT_TRUE(seen) << r.err;
}

TEST(CliTrace, NoTraceUnlessAskedAndAFileThatCannotBeWritten) {
    SimProcess sim;
    ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "link-check"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::string log = sim.Log();
    r = RunProgram({CliPath(), "--port", sim.Port(), "link-check", "--trace", "/nonexistent/t"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Не удалось открыть файл трассировки /nonexistent/t"), std::string::npos)
        << r.err;
    EXPECT_EQ(sim.Log(), log);  // refused before any traffic
}

}  // namespace
