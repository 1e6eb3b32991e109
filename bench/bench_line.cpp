// A line of several controllers: the scan of addresses 0 to 254 with three controllers on
// the virtual line (wall time against 255 x (schedule + time-out) + 3 x schedule + 1 s),
// and the load, export, check and reconcile of the controller at address 7 on a line of
// three against the same at address 0 alone (request count and wall time), all through
// vardex2-cli as a script would run them.
//
//   bench_line [--count N] [--timeout MS] [--runs R]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "bench_link_common.h"
#include "bench_schedule.h"
#include "core/jobs/scan_job.h"
#include "core/link/command_set.h"
#include "sim/sim_state.h"

namespace {

using namespace bench;

constexpr int ReplyDelayMs = 2;  // the virtual controller's default

// Lines of the sim's log that are requests to a controller.
int CountRequests(const std::string& log) {
    int n = 0;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (line.find("] request ") != std::string::npos ||
            line.find("] invalid ") != std::string::npos)
            ++n;
    }
    return n;
}

std::unique_ptr<SimProcess> StartLine(const std::vector<std::string>& options) {
    try {
        return std::make_unique<SimProcess>(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot start %s: %s\n", SimPath().c_str(), e.what());
        return nullptr;
    }
}

struct Run {
    bool ok = false;
    int requests = 0;
    double ms = 0;
};

Run Cli(SimProcess& sim, std::vector<std::string> words) {
    const int before = CountRequests(sim.Log());
    words.insert(words.begin(), {CliPath(), "--port", sim.Port()});
    const auto start = Clock::now();
    ProcessResult r = RunProgram(words, "", 600000);
    Run out;
    out.ms = Ms(Clock::now() - start);
    out.ok = r.status == 0;
    if (!out.ok)
        std::fprintf(stderr, "%s: status %d: %s\n", words[3].c_str(), r.status, r.err.c_str());
    out.requests = CountRequests(sim.Log()) - before;
    return out;
}

std::string Keys(int count, int base) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += (i ? "," : "") + std::to_string(base + i);
    return text;
}

// The controller's keys as a file, with the address given.
void WriteDoor(const std::string& path, int count, int address) {
    std::string bytes =
        "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=3\r\nTypeFormat=1\r\n"
        "Vardex=0\r\n";
    if (address != 0)
        bytes += "Address=" + std::to_string(address) + "\r\n";
    bytes += "[VardexDB2]\r\n";
    for (int i = 0; i < count; ++i)
        bytes += std::to_string(1000 + i) + "=\r\n";
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 30, timeoutMs = 50, runs = 1;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--count"))
            count = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--timeout"))
            timeoutMs = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--runs"))
            runs = std::atoi(argv[i + 1]);
    }

    // ---- The scan of 0..254 with three controllers ------------------------------------
    {
        auto sim = StartLine({"--bus", "1,2,7", "--keys", Keys(5, 1000)});
        if (!sim)
            return 1;
        const double schedule = ScheduleMs(MakeCheckLink(), ReplyDelayMs);
        const double bound = 255 * (schedule + timeoutMs) + 3 * schedule + 1000;
        double best = 1e18;
        bool found = false;
        for (int r = 0; r < runs; ++r) {
            const auto start = Clock::now();
            ProcessResult p = RunProgram({CliPath(), "--port", sim->Port(), "scan", "--timeout",
                                          std::to_string(timeoutMs), "--json"},
                                         "", 600000);
            best = std::min(best, Ms(Clock::now() - start));
            const auto j = nlohmann::json::parse(p.out, nullptr, false);
            found = p.status == 0 && !j.is_discarded() && j["controllers"].size() == 3 &&
                    j["doubtful"].empty();
        }
        std::printf(
            "scan 0-254, 3 controllers, time-out %d ms: %.1f s (bound %.1f s: 255 x "
            "(%.0f + %d) + 3 x %.0f + 1000 ms) %s; found the 3: %s\n",
            timeoutMs, best / 1000, bound / 1000, schedule, timeoutMs, schedule,
            best <= bound ? "within" : "OVER", found ? "yes" : "NO");
        std::printf("  (with the prescribed 1000 ms time-out it would take about %.0f s)\n",
                    255 * (schedule + 1000) / 1000);
    }

    // ---- The jobs at address 7 on a line of three, against address 0 alone ------------
    struct Setup {
        const char* name;
        std::vector<std::string> sim;
        int address;
    };
    const std::vector<Setup> setups = {
        {"address 0 alone", {"--keys", Keys(count, 1000)}, 0},
        {"address 7 on a line of three", {"--bus", "1,2,7", "--keys", Keys(count, 1000)}, 7},
    };
    const char* jobs[] = {"load", "export", "check", "reconcile"};
    Run figures[2][4];
    for (int s = 0; s < 2; ++s) {
        auto sim = StartLine(setups[s].sim);
        if (!sim)
            return 1;
        const std::string door = sim->TempDir() + "/door.vx2";
        const std::string copy = sim->TempDir() + "/copy.vx2";
        WriteDoor(door, count, setups[s].address);
        const std::string address = std::to_string(setups[s].address);
        figures[s][0] = Cli(*sim, {"load", copy, "--address", address});
        figures[s][1] = Cli(*sim, {"export", door, "--yes"});
        figures[s][2] = Cli(*sim, {"check", door});
        figures[s][3] = Cli(*sim, {"reconcile", door, "--yes"});
    }
    std::printf("\n%d keys, through vardex2-cli:\n", count);
    std::printf("%-10s %26s %30s %8s\n", "job", setups[0].name, setups[1].name, "ratio");
    bool within = true;
    for (int j = 0; j < 4; ++j) {
        const Run& a = figures[0][j];
        const Run& b = figures[1][j];
        const double ratio = a.ms > 0 ? b.ms / a.ms : 0;
        within = within && a.ok && b.ok && a.requests == b.requests && ratio <= 1.01;
        std::printf("%-10s %10d req %10.0f ms %14d req %10.0f ms %8.3f%s\n", jobs[j], a.requests,
                    a.ms, b.requests, b.ms, ratio,
                    a.requests == b.requests ? "" : "  (request counts differ)");
    }
    std::printf("same requests and at most 1.01 x the time: %s\n", within ? "yes" : "NO");
    return 0;
}
