// The reconcile's figures: against the virtual controller, the number of requests and the
// wall time of a reconcile of N keys with a few differences, held against (N + 3) reads +
// one request per difference + 1 verify, each at its schedule plus the pause; the time
// during which a key that the file and the controller both held was absent from the
// controller, from the virtual controller's request log, next to the export's figure for
// the same case; and for 65,535 keys the time from the last reply to the list of
// differences, the comparison alone and the copy alone.
//
//   bench_reconcile [--count N] [--reply-delay MS] [--skip-link]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bench_jobs_instant.h"
#include "bench_link_common.h"
#include "bench_schedule.h"
#include "core/jobs/export_job.h"
#include "core/jobs/job_host.h"
#include "core/jobs/reconcile_job.h"
#include "core/keys/backup.h"
#include "core/keys/database.h"
#include "core/link/commands.h"
#include "core/link/serial_port.h"
#include "support/recording_job_host.h"

namespace {

using namespace bench;
namespace fs = std::filesystem;

// How long keys that should have stayed were missing, from the virtual controller's log.
struct Absence {
    double totalKeyMs = 0;  // summed over the keys
    double longestMs = 0;   // the longest one absence of one key
    int keysAbsent = 0;     // keys absent at some moment
};

// Replays the log's changes ("stored key", "removed key", "cleared all keys") on the
// controller's starting keys and measures the absences of the keys in `staying`.
Absence Replay(const std::string& log, const std::vector<KeyCode>& start,
               const std::set<KeyCode>& staying) {
    std::set<KeyCode> held(start.begin(), start.end());
    std::map<KeyCode, double> since;  // absent since (ms)
    std::set<KeyCode> everAbsent;
    Absence a;
    auto gone = [&](KeyCode code, double at) {
        if (staying.count(code) && !since.count(code)) {
            since[code] = at;
            everAbsent.insert(code);
        }
    };
    auto back = [&](KeyCode code, double at) {
        auto it = since.find(code);
        if (it == since.end())
            return;
        a.totalKeyMs += at - it->second;
        a.longestMs = std::max(a.longestMs, at - it->second);
        since.erase(it);
    };
    double at = 0;
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 13 || line[0] != '[')
            continue;
        at = std::atof(line.c_str() + 1);
        size_t p;
        if ((p = line.find("| ok: stored key ")) != std::string::npos) {
            KeyCode code = static_cast<KeyCode>(std::strtoul(line.c_str() + p + 17, nullptr, 10));
            held.insert(code);
            back(code, at);
        } else if ((p = line.find("| ok: removed key ")) != std::string::npos) {
            KeyCode code = static_cast<KeyCode>(std::strtoul(line.c_str() + p + 18, nullptr, 10));
            held.erase(code);
            gone(code, at);
        } else if (line.find("| ok: cleared all keys") != std::string::npos) {
            for (KeyCode code : held)
                gone(code, at);
            held.clear();
        }
    }
    for (const auto& [code, from] : since) {  // still absent at the end of the log
        a.totalKeyMs += at - from;
        a.longestMs = std::max(a.longestMs, at - from);
    }
    a.keysAbsent = static_cast<int>(everAbsent.size());
    return a;
}

struct LinkRun {
    bool ok = false;
    int requests = 0;
    double wallMs = 0;
    double prescribedMs = 0;
    std::string log;
};

// Runs a job on the virtual controller's line with the steady clock, as the command line
// does; `apply` runs after the read (the reconcile's Yes).
template <class MakeJob, class AfterRead>
LinkRun RunOnSim(SimProcess& sim, int replyDelayMs, MakeJob make, AfterRead apply) {
    LinkRun run;
    TSerialPort line;
    std::string error;
    if (!line.Open(sim.Port(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return run;
    }
    TCommands worker(line);
    TJobLoop loop;
    TRecordingJobHost host(loop, worker);
    host.answers.push_back(true);
    auto job = make(host);
    host.Attach(*job);
    const auto start = Clock::now();
    host.RunJob();
    apply(*job);
    host.RunUntil([&] { return host.Ended() && host.outstanding == 0; });
    run.wallMs = Ms(Clock::now() - start);
    run.ok = host.finished.has_value();
    run.requests = static_cast<int>(host.requests.size());
    for (const auto& r : host.requests)
        run.prescribedMs += ScheduleMs(r.frame, replyDelayMs) + JobPauseMs;
    line.Close();
    run.log = sim.Log();
    return run;
}

std::string CodesText(const std::vector<KeyCode>& codes) {
    std::string text;
    for (KeyCode c : codes)
        text += (text.empty() ? "" : ",") + std::to_string(c);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    int replyDelayMs = 2;
    bool link = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--count" && hasValue) {
            count = std::max(4, std::atoi(argv[++i]));
        } else if (arg == "--reply-delay" && hasValue) {
            replyDelayMs = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--skip-link") {
            link = false;
        } else {
            std::fprintf(stderr,
                         "usage: bench_reconcile [--count N] [--reply-delay MS] [--skip-link]\n");
            return 2;
        }
    }
    int status = 0;
    const fs::path dir =
        fs::temp_directory_path() / ("bench_reconcile_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string dbPath = (dir / "doors.vx2").string();

    if (link) {
        // The controller holds N keys; the file lacks two of them, has two it lacks, and
        // other times: five differences.
        std::vector<KeyCode> held;
        for (int i = 0; i < count; ++i)
            held.push_back(0x100000u + static_cast<KeyCode>(i) * 7);
        DbModel file;
        file.TimeOpen = 6;
        file.RetryRead = 2;
        file.Vardex = 0x0A1B2C;
        std::set<KeyCode> staying;
        for (int i = 2; i < count; ++i) {
            file.keys.push_back({held[static_cast<size_t>(i)], "key " + std::to_string(i)});
            staying.insert(held[static_cast<size_t>(i)]);
        }
        file.keys.push_back({0x200001, "new 1"});
        file.keys.push_back({0x200002, "new 2"});
        const int differences = 5;
        const std::vector<std::string> options = {"--reply-delay", std::to_string(replyDelayMs),
                                                  "--vardex",      "0x0A1B2C",
                                                  "--times",       "5,1",
                                                  "--keys",        CodesText(held)};
        LinkRun reconcile, exported;
        try {
            SimProcess sim(options);
            std::printf("virtual controller on %s, reply delay %d ms\n", sim.Port().c_str(),
                        replyDelayMs);
            reconcile = RunOnSim(
                sim, replyDelayMs,
                [&](TJobHost& host) {
                    ReconcileOptions o;
                    o.databasePath = dbPath;
                    o.file = file;
                    o.backupFolder = (dir / "backups").string();
                    return std::make_unique<TReconcileJob>(host, std::move(o));
                },
                [](TReconcileJob& job) { job.Apply(); });
            SimProcess sim2(options);
            exported = RunOnSim(
                sim2, replyDelayMs,
                [&](TJobHost& host) {
                    return std::make_unique<TExportJob>(host, ExportSourceOf(file, 0));
                },
                [](TExportJob&) {});
        } catch (const std::exception& e) {
            std::fprintf(stderr, "cannot start the virtual controller: %s\n", e.what());
            return 1;
        }
        const int expectedRequests = (count + 3) + differences + 1;
        std::printf("reconcile of %d keys with %d differences: %s, %d requests (expected %d)\n",
                    count, differences, reconcile.ok ? "ok" : "FAILED", reconcile.requests,
                    expectedRequests);
        const double over = (reconcile.wallMs - reconcile.prescribedMs) / reconcile.prescribedMs;
        std::printf(
            "  wall %.1f ms; prescribed requests x (schedule + %d ms) = %.1f ms; over by %.2f %% "
            "(limit 1 %%)\n",
            reconcile.wallMs, JobPauseMs, reconcile.prescribedMs, over * 100.0);
        const Absence r = Replay(reconcile.log, held, staying);
        const Absence e = Replay(exported.log, held, staying);
        std::printf(
            "  keys held by both and absent meanwhile: reconcile %d keys, %.1f key-ms in all, "
            "longest %.1f ms\n",
            r.keysAbsent, r.totalKeyMs, r.longestMs);
        std::printf(
            "                                          export    %d keys, %.1f key-ms in all, "
            "longest %.1f ms (%.1f s wall)\n",
            e.keysAbsent, e.totalKeyMs, e.longestMs, exported.wallMs / 1000.0);
        if (!reconcile.ok || reconcile.requests != expectedRequests || over > 0.01 ||
            r.totalKeyMs > 0)
            status = 1;
    }

    // 65,535 keys against an instant controller on a virtual clock: what counts is the real
    // time from the last reply to the list of differences.
    {
        const int keys = 65535;
        InstantController controller(keys);
        DbModel file;
        file.TimeOpen = 5;
        file.RetryRead = 3;
        file.Vardex = 0x0A1B2C;
        for (std::uint32_t slot = 3; slot < static_cast<std::uint32_t>(keys); ++slot)
            file.keys.push_back({(slot * 2654435761u) >> 8, "key " + std::to_string(slot)});
        file.keys.push_back({0xFFFFFE, "new 1"});
        file.keys.push_back({0xFFFFFD, "new 2"});
        ReconcileOptions o;
        o.databasePath = dbPath;
        o.file = file;
        o.backupFolder = (dir / "backups").string();
        Clock::time_point ready;
        size_t listed = 0;
        o.differencesReady = [&](const Differences& d) {
            ready = Clock::now();
            listed = d.items.size();
        };
        TVirtualJobClock clock;
        TJobLoop loop(clock);
        TRecordingJobHost host(loop, controller);
        TReconcileJob job(host, o);
        host.Attach(job);
        host.RunJob();
        const double listMs = Ms(ready - controller.lastReply);

        ControllerImage image;
        image.TimeOpen = job.TimeOpen;
        image.RetryRead = job.RetryRead;
        image.Vardex = job.VardexCode;
        image.slotCodes = job.SlotCodes;
        auto t0 = Clock::now();
        Differences diff = CompareWithFile(image, file, 0);
        const double compareMs = Ms(Clock::now() - t0);
        t0 = Clock::now();
        DbModel copyModel = BackupModel(image, file, 0);
        const double modelMs = Ms(Clock::now() - t0);
        t0 = Clock::now();
        BackupResult copy =
            WriteBackup((dir / "backups").string(), dbPath, copyModel, std::time(nullptr));
        const double copyMs = Ms(Clock::now() - t0) + modelMs;
        std::printf("reconcile of a %d-key controller: %zu differences listed\n", keys, listed);
        std::printf(
            "  last reply -> list of differences: %.1f ms + the %d ms pause (limit 100 ms "
            "beyond it)\n",
            listMs, JobPauseMs);
        std::printf("  the comparison alone: %.1f ms (%zu items)\n", compareMs, diff.items.size());
        std::printf("  the copy alone (build, write, flush): %.1f ms (limit 150 ms), %s\n", copyMs,
                    copy.result ? "ok" : copy.result.error.c_str());
        if (listed != 5 || listMs > 100 || copyMs > 150 || !copy.result)
            status = 1;
    }
    fs::remove_all(dir);
    return status;
}
