// The controller jobs' timing: a load and an export of N keys against the virtual
// controller (wall time against the prescribed schedule of their N + 3 transactions and
// pauses, and the process's CPU use meanwhile); an import of N new keys into a file of
// --file-keys keys (N transactions, and what writing the file costs on top); and the
// save of a loaded 65,535-key controller (from the last reply to the file written, as
// the command line does it).
//
//   bench_jobs [--count N] [--reply-delay MS] [--file-keys K] [--skip-link]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_jobs_instant.h"
#include "bench_link_common.h"
#include "bench_schedule.h"
#include "core/jobs/export_job.h"
#include "core/jobs/import_job.h"
#include "core/jobs/job_host.h"
#include "core/jobs/load_job.h"
#include "core/keys/database.h"
#include "core/link/commands.h"
#include "core/link/serial_port.h"
#include "support/recording_job_host.h"

namespace {

using namespace bench;

struct JobFigures {
    bool ok = false;
    int transactions = 0;
    double wallMs = 0;
    double prescribedMs = 0;
    double cpuPercent = 0;
    double transactOverMs = 0;  // inside the transactions, beyond their schedule
    double pauseOverMs = 0;     // from a completion to the next request, beyond the pause
};

// Notes when each request is loaded and when its completion leaves the worker.
class TimingWorker : public TRequester {
  public:
    explicit TimingWorker(TRequester& inner) : inner_(inner) {}
    std::vector<Clock::time_point> loaded, completed;

    void Load(const FrameHeader& request, const FrameData& requestData,
              TCommands::Completion done) override {
        loaded.push_back(Clock::now());
        inner_.Load(request, requestData,
                    [this, done = std::move(done)](int result, const FrameHeader& reply,
                                                   const FrameData& replyData) {
                        completed.push_back(Clock::now());
                        done(result, reply, replyData);
                    });
    }

  private:
    TRequester& inner_;
};

// Runs one job on the real port and worker with the steady clock, as the command line
// does, from its start to its end.
// `completed` receives when each completion left the worker.
template <class MakeJob>
JobFigures RunOnLink(const std::string& port, int replyDelayMs, MakeJob make,
                     std::vector<Clock::time_point>* completed = nullptr) {
    JobFigures f;
    TSerialPort line;
    std::string error;
    if (!line.Open(port, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return f;
    }
    TCommands commands(line);
    TimingWorker worker(commands);
    TJobLoop loop;
    TRecordingJobHost host(loop, worker);
    auto job = make(host);
    host.Attach(*job);
    const double cpu = CpuSeconds();
    const auto start = Clock::now();
    host.RunJob();
    f.wallMs = Ms(Clock::now() - start);
    f.cpuPercent = (CpuSeconds() - cpu) / (f.wallMs / 1000.0) * 100.0;
    f.ok = static_cast<bool>(host.finished);
    f.transactions = static_cast<int>(host.requests.size());
    for (size_t i = 0; i < host.requests.size(); ++i) {
        const double schedule = ScheduleMs(host.requests[i].frame, replyDelayMs);
        f.prescribedMs += schedule + JobPauseMs;
        if (i < worker.completed.size())
            f.transactOverMs += Ms(worker.completed[i] - worker.loaded[i]) - schedule;
        if (i + 1 < worker.loaded.size())
            f.pauseOverMs += Ms(worker.loaded[i + 1] - worker.completed[i]) - JobPauseMs;
    }
    line.Close();
    if (completed)
        *completed = worker.completed;
    return f;
}

void Print(const char* what, int count, const JobFigures& f) {
    std::printf("%s of %d keys: %s, %d transactions\n", what, count, f.ok ? "ok" : "FAILED",
                f.transactions);
    std::printf(
        "  wall %.1f ms; prescribed (N + 3) x (schedule + %d ms) = %.1f ms; over by "
        "%.2f %% (limit 1 %%)\n",
        f.wallMs, JobPauseMs, f.prescribedMs, (f.wallMs - f.prescribedMs) / f.prescribedMs * 100.0);
    std::printf(
        "  beyond the schedule per transaction: %.2f ms in the transaction (link), %.2f "
        "ms in the pause and the job\n",
        f.transactOverMs / f.transactions, f.pauseOverMs / std::max(1, f.transactions - 1));
    std::printf("  process CPU during the job: %.2f %% of one core (limit 2 %%)\n", f.cpuPercent);
}

// What the import's own handlers cost, apart those that wrote the file, and when each key
// reached the file.
struct ImportTimes {
    double handlersMs = 0;  // every step and completion
    double writingMs = 0;   // of them, those that wrote the file
    int writes = 0;
    std::vector<Clock::time_point> writtenAt;  // per key, in the order sent
};

class TimedImportJob : public TImportJob {
  public:
    TimedImportJob(TJobHost& host, ImportPlan plan, ImportTimes& times)
        : TImportJob(host, std::move(plan)), times_(times) {
        Written = [this](const std::vector<DbKey>& added, const std::vector<DbKey>&) {
            wrote_ = true;
            ++times_.writes;
            times_.writtenAt.insert(times_.writtenAt.end(), added.size(), bench::Clock::now());
        };
    }
    void OnStep(int step) override {
        Timed([&] { TImportJob::OnStep(step); });
    }
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& data) override {
        Timed([&] { TImportJob::OnCompletion(result, reply, data); });
    }

  private:
    template <class F>
    void Timed(F f) {
        wrote_ = false;
        const auto start = bench::Clock::now();
        f();
        const double ms = Ms(bench::Clock::now() - start);
        times_.handlersMs += ms;
        if (wrote_)
            times_.writingMs += ms;
    }
    ImportTimes& times_;
    bool wrote_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    int replyDelayMs = 2;
    int fileKeys = 10000;
    bool link = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--count" && hasValue) {
            count = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--reply-delay" && hasValue) {
            replyDelayMs = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--file-keys" && hasValue) {
            fileKeys = std::clamp(std::atoi(argv[++i]), 0, 65535 - count);
        } else if (arg == "--skip-link") {
            link = false;
        } else {
            std::fprintf(stderr,
                         "usage: bench_jobs [--count N] [--reply-delay MS] "
                         "[--file-keys K] [--skip-link]\n");
            return 2;
        }
    }
    int status = 0;

    if (link) {
        std::string keys;
        DbModel model;
        model.TimeOpen = 5;
        model.RetryRead = 3;
        model.Vardex = 0x0A1B2C;
        for (int i = 0; i < count; ++i) {
            const KeyCode code = 0x100000u + static_cast<KeyCode>(i) * 7;
            keys += (i ? "," : "") + std::to_string(code);
            model.keys.push_back({code, "key " + std::to_string(i)});
        }
        std::vector<std::string> options = {"--reply-delay", std::to_string(replyDelayMs),
                                            "--vardex", "0x0A1B2C"};
        if (count > 0) {
            options.push_back("--keys");
            options.push_back(keys);
        }
        std::unique_ptr<SimProcess> sim = StartSim(std::move(options));
        if (!sim)
            return 1;
        std::printf("virtual controller on %s, reply delay %d ms\n", sim->Port().c_str(),
                    replyDelayMs);
        JobFigures load = RunOnLink(sim->Port(), replyDelayMs, [](TJobHost& host) {
            return std::make_unique<TLoadJob>(host);
        });
        Print("load", count, load);
        JobFigures exported = RunOnLink(sim->Port(), replyDelayMs, [&](TJobHost& host) {
            return std::make_unique<TExportJob>(host, ExportSourceOf(model, 0));
        });
        Print("export", count, exported);
        for (const JobFigures* f : {&load, &exported}) {
            if (!f->ok || f->wallMs > f->prescribedMs * 1.01 || f->cpuPercent > 2.0)
                status = 1;
        }
    }

    // The import of N keys the controller lacks into a file that holds `fileKeys` others:
    // one store each, and the file written in batches as the controller accepts them.
    if (link) {
        std::unique_ptr<SimProcess> sim = StartSim({"--reply-delay", std::to_string(replyDelayMs)});
        if (!sim)
            return 1;
        const std::string path =
            (std::filesystem::temp_directory_path() / "bench_jobs_import.vx2").string();
        DbModel file;
        ImportPlan plan;
        plan.path = path;
        for (int i = 0; i < fileKeys; ++i)
            file.keys.push_back(
                {0x200000u + static_cast<KeyCode>(i), "staff " + std::to_string(i)});
        for (int i = 0; i < count; ++i)
            plan.newKeys.push_back(
                {0x100000u + static_cast<KeyCode>(i) * 7, "new " + std::to_string(i)});
        WriteDbFile(path, file);
        ImportTimes times;
        std::vector<Clock::time_point> completed;
        JobFigures f = RunOnLink(
            sim->Port(), replyDelayMs,
            [&](TJobHost& host) { return std::make_unique<TimedImportJob>(host, plan, times); },
            &completed);
        DbModel after;
        const bool read = static_cast<bool>(LoadDbFile(path, after));
        double worstToFile = 0;
        for (std::size_t i = 0; i < times.writtenAt.size() && i < completed.size(); ++i)
            worstToFile = std::max(worstToFile, Ms(times.writtenAt[i] - completed[i]));
        const double overPercent = (f.wallMs - f.prescribedMs) / f.prescribedMs * 100.0;
        const double writingPercent = times.writingMs / f.prescribedMs * 100.0;
        std::printf(
            "import of %d new keys into a file of %d: %s, %d transactions, %zu keys "
            "in the file after\n",
            count, fileKeys, f.ok ? "ok" : "FAILED", f.transactions, read ? after.keys.size() : 0);
        std::printf(
            "  wall %.1f ms; prescribed N x (schedule + %d ms) = %.1f ms; over by %.2f %%, "
            "the file's writes included (limit 1 %% + 2 %% for them)\n",
            f.wallMs, JobPauseMs, f.prescribedMs, overPercent);
        std::printf(
            "  the file: %d writes taking %.1f ms in all, %.2f %% of the schedule (they run "
            "during the pauses); a key accepted reached the file within %.0f ms (limit "
            "1000)\n",
            times.writes, times.writingMs, writingPercent, worstToFile);
        std::printf("  the job's own handlers: %.1f ms; process CPU %.2f %% of one core\n",
                    times.handlersMs, f.cpuPercent);
        std::filesystem::remove(path);
        if (!f.ok || f.transactions != count || !read ||
            after.keys.size() != static_cast<std::size_t>(fileKeys + count) ||
            times.writtenAt.size() != static_cast<std::size_t>(count) || overPercent > 3.0 ||
            worstToFile > 1000)
            status = 1;
    }

    // The save of the largest controller: the read runs against an instant controller on
    // a virtual clock; what counts is the real time from the last reply to the file written.
    {
        const int keys = 65535;
        InstantController controller(keys);
        TVirtualJobClock clock;
        TJobLoop loop(clock);
        TRecordingJobHost host(loop, controller);
        TLoadJob job(host);
        host.Attach(job);
        const auto readStart = Clock::now();
        host.RunJob();
        const double readMs = Ms(Clock::now() - readStart);
        const auto saveStart = Clock::now();
        const std::string path =
            (std::filesystem::temp_directory_path() / "bench_jobs_65535.vx2").string();
        DbModel loaded;
        DbResult r = job.SaveTo(path, loaded);
        const auto written = Clock::now();
        const double afterReplyMs = Ms(written - controller.lastReply);
        std::printf("save of a loaded %d-key controller: %s, %zu keys in the file, %ju bytes\n",
                    keys, r.ok ? "ok" : r.error.c_str(), loaded.keys.size(),
                    static_cast<std::uintmax_t>(std::filesystem::file_size(path)));
        std::printf("  the read itself (machine and log, pauses on a virtual clock): %.1f ms\n",
                    readMs);
        std::printf("  write the file whole and read it back: %.1f ms\n", Ms(written - saveStart));
        std::printf(
            "  last reply -> file written: %.1f ms + the %d ms pause = %.1f ms "
            "(limit 500 ms)\n",
            afterReplyMs, JobPauseMs, afterReplyMs + JobPauseMs);
        std::filesystem::remove(path);
        if (!r.ok || afterReplyMs + JobPauseMs > 500)
            status = 1;
    }
    return status;
}
