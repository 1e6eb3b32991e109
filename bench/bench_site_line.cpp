// One change to many doors and the site reconcile on the virtual line, in process over the
// real ports and workers (as the window and vardex2-cli run them):
//  - revoking one key from 10 doors on one line (10 requests, wall time against
//    1.01 x 10 x (schedule + 100 ms) plus the file writes, measured apart), and from the
//    same 10 doors on two lines (against 55 % of the one-line time);
//  - the reconcile of 10 doors of N keys with 5 differences each on one line against the
//    sum of the ten doors reconciled one by one (at most 1.01 x), and on two lines (at
//    most 55 % of that sum).
//
//   bench_site_line [--keys N]   (200 by default; a reconcile reads every slot)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bench_schedule.h"
#include "core/keys/database.h"
#include "core/keys/journaled.h"
#include "core/link/command_set.h"
#include "core/site/serial_lines.h"
#include "core/site/site_change.h"
#include "core/site/site_reconcile.h"
#include "sim/sim_state.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
constexpr int kDoors = 10;
constexpr KeyCode kLeaver = 0x0A0A0A;

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

int CountRequests(const std::string& log) {
    int n = 0;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);)
        if (line.find("] request ") != std::string::npos)
            ++n;
    return n;
}

// A building of 10 doors over `lines` lines (addresses 1.. on each): every door's
// controller and file hold `keys` keys and the leaver; with `differences`, each door's
// controller lacks 3 of its file's keys and holds 2 the file has not.
struct Building {
    std::string dir, sitePath;
    Site site;
    std::vector<std::unique_ptr<SimProcess>> lines;

    Building(int lineCount, int keys, bool differences) {
        char tmpl[] = "/tmp/vx_bench_site.XXXXXX";
        dir = ::mkdtemp(tmpl);
        sitePath = dir + "/bench.vx2site";
        const int perLine = kDoors / lineCount;
        for (int l = 0; l < lineCount; ++l) {
            const std::string states = dir + "/line" + std::to_string(l);
            fs::create_directories(states);
            std::string bus;
            for (int a = 1; a <= perLine; ++a) {
                const int door = l * perLine + a - 1;
                SimState s;
                s.timeOpen = 5;
                s.retryRead = 3;
                std::string file = "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=3\r\nAddress=" +
                                   std::to_string(a) + "\r\n[VardexDB2]\r\n";
                for (int k = 0; k < keys; ++k) {
                    const KeyCode code = 0x100000 + door * 1000 + k;
                    file += std::to_string(code) + "=\r\n";
                    if (!differences || k >= 3)
                        s.keys.push_back(code);
                }
                if (differences)
                    s.keys.insert(s.keys.end(), {0x200001u + door * 10, 0x200002u + door * 10});
                file += std::to_string(kLeaver) + "=\r\n";
                s.keys.push_back(kLeaver);
                std::string error;
                SaveSimState(states + "/" + std::to_string(a) + ".json", s, error);
                const std::string name = "door" + std::to_string(door) + ".vx2";
                std::ofstream(dir + "/" + name, std::ios::binary) << file;
                site.doors.push_back({"Дверь " + std::to_string(door + 1), name, ""});
                bus += (a > 1 ? "," : "") + std::to_string(a);
            }
            lines.push_back(std::make_unique<SimProcess>(
                std::vector<std::string>{"--bus", bus, "--state-dir", states}));
            for (int a = 0; a < perLine; ++a)
                site.doors[l * perLine + a].line = lines.back()->Port();
        }
        SaveSite(sitePath, site);
    }
    ~Building() {
        lines.clear();
        fs::remove_all(dir);
    }
    int Requests() const {
        int n = 0;
        for (const auto& l : lines)
            n += CountRequests(l->Log());
        return n;
    }
    SiteRun Run() const {
        SiteRun run;
        run.sitePath = sitePath;
        run.site = &site;
        run.backupFolder = dir + "/backups";
        return run;
    }
};

struct Timed {
    double ms = 0;
    int requests = 0;
    bool ok = false;
};

Timed Revoke(int lineCount) {
    Building b(lineCount, 20, false);
    TSerialSiteLines lines;
    const int before = b.Requests();
    const auto start = Clock::now();
    SiteChange change{SiteChange::Kind::Revoke, kLeaver, {}, {}};
    auto out = RunSiteChange(b.Run(), change, lines);
    Timed t{Ms(Clock::now() - start), b.Requests() - before, SiteChangeComplete(out)};
    return t;
}

// The file side of a revoke at 10 doors alone: the key taken from each file with its
// journal line.
double FileWritesMs() {
    Building b(1, 20, false);
    const auto start = Clock::now();
    for (const SiteDoor& d : b.site.doors)
        journaled::RemoveKey(DoorFilePath(b.sitePath, d), kLeaver);
    return Ms(Clock::now() - start);
}

Timed Reconcile(int lineCount, int keys, const std::vector<std::size_t>& only = {}) {
    Building b(lineCount, keys, true);
    Site part = b.site;
    if (!only.empty()) {
        part.doors.clear();
        for (std::size_t d : only)
            part.doors.push_back(b.site.doors[d]);
    }
    SiteRun run = b.Run();
    run.site = &part;
    TSerialSiteLines lines;
    const auto start = Clock::now();
    TSiteReconcile r(run, lines);
    r.Plan();
    const bool ok = r.Apply();
    return {Ms(Clock::now() - start), b.Requests(), ok};
}

}  // namespace

int main(int argc, char** argv) {
    int keys = 200;
    for (int i = 1; i + 1 < argc; i += 2)
        if (!std::strcmp(argv[i], "--keys"))
            keys = std::atoi(argv[i + 1]);

    const double schedule =
        bench::ScheduleMs(MakeWriteKey(1, false, false, KeyFiller::KeyDialog), 2);
    const Timed one = Revoke(1);
    const Timed two = Revoke(2);
    const double files = FileWritesMs();
    const double bound = 1.01 * kDoors * (schedule + 100) + files;
    std::printf(
        "revoke from %d doors on one line: %.0f ms, %d requests (bound %.0f ms = 1.01 x %d x "
        "(%.1f + 100) + file writes %.0f)%s\n",
        kDoors, one.ms, one.requests, bound, kDoors, schedule, files, one.ok ? "" : " FAILED");
    std::printf(
        "revoke from %d doors on two lines: %.0f ms, %d requests, %.0f %% of one line "
        "(limit 55 %%)%s\n",
        kDoors, two.ms, two.requests, 100 * two.ms / one.ms, two.ok ? "" : " FAILED");

    double sum = 0;
    int sumRequests = 0;
    for (std::size_t d = 0; d < kDoors; ++d) {
        const Timed t = Reconcile(1, keys, {d});
        sum += t.ms;
        sumRequests += t.requests;
    }
    const Timed all = Reconcile(1, keys);
    const Timed split = Reconcile(2, keys);
    std::printf(
        "reconcile of %d doors x %d keys, 5 differences each: one by one %.1f s (%d "
        "requests)\n",
        kDoors, keys, sum / 1000, sumRequests);
    std::printf("  the site on one line: %.1f s, %d requests, %.3f x the sum (limit 1.01)%s\n",
                all.ms / 1000, all.requests, all.ms / sum, all.ok ? "" : " NOT AGREEING");
    std::printf("  the site on two lines: %.1f s, %.0f %% of the sum (limit 55 %%)%s\n",
                split.ms / 1000, 100 * split.ms / sum, split.ok ? "" : " NOT AGREEING");
    return 0;
}
