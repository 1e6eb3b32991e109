// A line of three virtual controllers on one pseudo-terminal: the scan finds exactly the
// controllers on it, and every job of a file at address 7 reaches that controller alone.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "core/jobs/scan_job.h"
#include "core/link/commands.h"
#include "core/link/serial_port.h"
#include "sim/sim_state.h"
#include "support/file_bytes.h"
#include "support/recording_job_host.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// A folder of state files, one per address, for --state-dir.
std::string StateDir(const std::vector<std::pair<int, SimState>>& states) {
    char tmpl[] = "/tmp/vx_line_states.XXXXXX";
    const std::string dir = ::mkdtemp(tmpl);
    for (const auto& [address, state] : states) {
        std::string error;
        EXPECT_TRUE(SaveSimState(dir + "/" + std::to_string(address) + ".json", state, error));
    }
    return dir;
}

SimState State(std::vector<std::uint32_t> keys, std::uint32_t vardex, int open, int retry) {
    SimState s;
    s.keys = std::move(keys);
    s.vardex = vardex;
    s.timeOpen = open;
    s.retryRead = retry;
    return s;
}

SimState StateAt(SimProcess& sim, int address) {
    SimState s;
    std::string error;
    EXPECT_TRUE(SimStateFromJson(sim.Control("state " + std::to_string(address)), s, error))
        << error;
    return s;
}

// The addresses of the requests in the sim's log, and those some controller answered.
struct Traffic {
    std::vector<std::string> addresses;
    std::vector<std::string> answeredBy;
};
Traffic TrafficOf(const std::string& log) {
    Traffic t;
    static const std::regex request(
        R"(\] (?:request|invalid) ([0-9A-F]{2}) .*\| address ([0-9A-F]{2}))");
    static const std::regex answer(R"(\| ([0-9A-F]{2}) ok: .*\| reply )");
    std::istringstream in(log);
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (std::regex_search(line, m, request))
            t.addresses.push_back(m[2]);
        if (std::regex_search(line, m, answer))
            t.answeredBy.push_back(m[1]);
    }
    return t;
}

class LineSimTest : public ::testing::Test {
  protected:
    void TearDown() override {
        sim.reset();
        std::error_code ec;
        if (!states.empty())
            fs::remove_all(states, ec);
    }
    void StartLine(const std::string& bus, const std::vector<std::pair<int, SimState>>& st) {
        states = StateDir(st);
        sim = std::make_unique<SimProcess>(
            std::vector<std::string>{"--bus", bus, "--state-dir", states});
    }
    ProcessResult Cli(std::vector<std::string> words) {
        words.insert(words.begin(), {CliPath(), "--port", sim->Port()});
        return RunProgram(words);
    }
    json Scan(int to) {
        ProcessResult r = Cli({"scan", "--to", std::to_string(to), "--json"});
        EXPECT_EQ(r.status, 0) << r.err;
        return json::parse(r.out, nullptr, false);
    }
    std::string Path(const std::string& name) const { return sim->TempDir() + "/" + name; }

    std::string states;
    std::unique_ptr<SimProcess> sim;
};

TEST_F(LineSimTest, ScanFindsExactlyTheControllersOnTheLine) {
    StartLine("1,2,7", {{1, State({11}, 0, 5, 3)},
                        {2, State({21, 22}, 0, 5, 3)},
                        {7, State({71, 72, 73}, 0, 5, 3)}});
    const json out = Scan(9);
    EXPECT_EQ(out["controllers"], json::parse(R"([{"address": 1, "key_count": 1},
        {"address": 2, "key_count": 2}, {"address": 7, "key_count": 3}])"));
    EXPECT_EQ(out["doubtful"], json::array());
    EXPECT_TRUE(out["complete"]);
    // One link check per address and one key count per controller; nothing written.
    const Traffic t = TrafficOf(sim->Log());
    EXPECT_EQ(t.addresses.size(), 10u + 3u);
    EXPECT_EQ(StateAt(*sim, 7).keys.size(), 3u);
}

TEST_F(LineSimTest, SharedAddressIsDoubtfulAndAnEmptyLineEmpty) {
    StartLine("3,3,5", {{5, State({1}, 0, 5, 3)}});
    json out = Scan(6);
    EXPECT_EQ(out["controllers"], json::parse(R"([{"address": 5, "key_count": 1}])"));
    ASSERT_EQ(out["doubtful"].size(), 1u);
    EXPECT_EQ(out["doubtful"][0]["address"], 3);
    EXPECT_NE(
        out["doubtful"][0]["cause"].get<std::string>().find("два контроллера с одним адресом"),
        std::string::npos);
    ProcessResult text = Cli({"scan", "--from", "3", "--to", "3"});
    EXPECT_NE(text.out.find("Адрес 3: сомнительный ответ"), std::string::npos) << text.out;

    // Nobody in the range: an empty list, said so.
    ProcessResult none = Cli({"scan", "--from", "10", "--to", "12", "--timeout", "20"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "");
    EXPECT_NE(none.err.find("Контроллеры не найдены"), std::string::npos) << none.err;
}

// Stops the scan once it has judged `after` addresses with an answer.
class StopAfter : public TScanSink {
  public:
    StopAfter(int after) : after_(after) {}
    TScanJob* job = nullptr;
    void ScanAnswered(const ScanEntry&) override {
        if (++seen_ >= after_)
            job->RequestCancel();
    }

  private:
    int after_;
    int seen_ = 0;
};

TEST_F(LineSimTest, StopInTheMiddleKeepsWhatWasFound) {
    StartLine("1,2,7", {});
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(sim->Port(), error)) << error;
    TCommands worker(port);
    TJobLoop loop;
    TRecordingJobHost host(loop, worker);
    StopAfter stop(2);
    ScanSettings settings;
    settings.to = 20;
    TScanJob job(host, &stop, settings);
    stop.job = &job;
    host.Attach(job);
    ASSERT_TRUE(host.RunJob());
    EXPECT_TRUE(job.Stopped());
    EXPECT_FALSE(job.Complete());
    ASSERT_EQ(job.Entries().size(), 2u);
    EXPECT_EQ(job.Done(), 3);  // 0, 1 and 2 judged; nothing sent after the stop
    ASSERT_TRUE(host.finished);
    EXPECT_NE(host.finished->text.find("Поиск остановлен"), std::string::npos);
    EXPECT_EQ(TrafficOf(sim->Log()).addresses.size(), 3u + 2u);
    port.Close();
}

const char* const AtSeven =
    "[ControllerSettings]\r\nTimeOpen=9\r\nRetryRead=2\r\nTypeFormat=1\r\nVardex=65538\r\n"
    "Address=7\r\n[VardexDB2]\r\n1223629=\xc4\xe2\xe5\xf0\xfc\r\n7=\r\n";

TEST_F(LineSimTest, EveryJobReachesItsControllerAloneOnALineOfThree) {
    const SimState one = State({11, 12}, 0x100, 3, 1);
    const SimState two = State({21}, 0, 4, 0);
    StartLine("1,2,7", {{1, one}, {2, two}, {7, State({5}, 0, 5, 3)}});
    const std::string file = Path("door7.vx2");
    WriteFile(file, AtSeven);
    struct Case {
        std::vector<std::string> words;
        int status;
    };
    const std::vector<Case> cases = {
        {{"link-check", "--address", "7"}, 0},
        {{"export", file, "--yes"}, 0},
        {{"check", file}, 0},
        {{"add", file, "000,00042", "Новый"}, 0},
        {{"set-times", file, "--open", "6"}, 0},
        {{"set-vardex", file, "000,00043"}, 0},
        {{"remove", file, "000,00042", "--yes"}, 0},
        {{"reconcile", file, "--yes"}, 0},
        {{"load", Path("copy.vx2"), "--address", "7"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words.front());
        ProcessResult r = Cli(c.words);
        EXPECT_EQ(r.status, c.status) << r.err;
    }
    const Traffic t = TrafficOf(sim->Log());
    ASSERT_FALSE(t.addresses.empty());
    for (const std::string& a : t.addresses)
        EXPECT_EQ(a, "07");
    for (const std::string& a : t.answeredBy)
        EXPECT_EQ(a, "07");
    EXPECT_EQ(StateAt(*sim, 1), one);
    EXPECT_EQ(StateAt(*sim, 2), two);
    SimState seven = StateAt(*sim, 7);
    std::sort(seven.keys.begin(), seven.keys.end());
    EXPECT_EQ(seven.keys, (std::vector<std::uint32_t>{7, 0x12ABCD}));
    EXPECT_EQ(seven.timeOpen, 6);
    EXPECT_EQ(seven.vardex, 43u);
    // The file kept its address through every write; the load's new file names it.
    EXPECT_NE(ReadFile(file).find("Address=7\r\n"), std::string::npos);
    EXPECT_NE(ReadFile(Path("copy.vx2")).find("Address=7\r\n"), std::string::npos);
}

}  // namespace
