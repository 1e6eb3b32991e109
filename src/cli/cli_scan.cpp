// vardex2-cli scan: which controllers answer on a line, and at which addresses. The same
// job as the window's "Поиск контроллеров на линии..."; nothing is written anywhere.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "cli/cli_command.h"
#include "cli/cli_json.h"
#include "cli/cli_support.h"
#include "core/jobs/job_host.h"
#include "core/jobs/scan_job.h"

namespace {

const char* const ScanSynopsis = "--port DEVICE scan [--from 0] [--to 254] [--timeout MS] [--json]";

// The job's log on standard error (nowhere with --quiet), with the progress and the time
// left on a terminal; each address that answered on standard output as data, one line
// each (or, with --json, in the one object at the end).
class TScanCliHost : public TLoopJobHost, public TScanSink {
  public:
    TScanCliHost(TJobLoop& loop, TRequester& line, TSerialPort& port, std::FILE* log, bool json)
        : TLoopJobHost(loop, line),
          port_(port),
          log_(log),
          json_(json),
          bar_(log != nullptr && ::isatty(STDERR_FILENO) == 1 && !CliDumbTerminal()) {}
    ~TScanCliHost() override { ClearBar(); }

    const TScanJob* job = nullptr;

    void ScanAnswered(const ScanEntry& entry) override {
        if (json_)
            return;
        ClearBar();
        std::printf("%s\n", entry.Text().c_str());
        std::fflush(stdout);
    }
    void AddLine(const std::string& line) override {
        if (line.empty() || !log_)
            return;
        ClearBar();
        std::fprintf(log_, "%s\n", line.c_str());
        std::fflush(log_);
    }
    void SetProgressPosition(int position) override {
        TLoopJobHost::SetProgressPosition(position);
        if (!bar_ || !job)
            return;
        std::fprintf(stderr, "\rАдрес %d из %d, осталось не более %d с  ", position, job->Total(),
                     (job->MsLeft() + 999) / 1000);
        std::fflush(stderr);
        drawn_ = true;
    }
    void ClosePort() override { port_.Close(); }
    void Failed(const JobBox& box) override {
        TLoopJobHost::Failed(box);
        ClearBar();
        std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), CliText(box.text).c_str());
    }

  private:
    void ClearBar() {
        if (drawn_)
            std::fprintf(stderr, "\r\033[K");
        drawn_ = false;
    }
    TSerialPort& port_;
    std::FILE* log_;
    bool json_;
    bool bar_;
    bool drawn_ = false;
};

bool TakeNumber(CliArgs& args, const char* name, int low, int high, int& value) {
    std::string text;
    if (!args.TakeOption(name, text))
        return true;
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos || std::stoi(text) < low ||
        std::stoi(text) > high) {
        std::fprintf(stderr, "Недопустимое значение параметра %s: %s (от %d до %d)\n", name,
                     text.c_str(), low, high);
        return false;
    }
    value = std::stoi(text);
    return true;
}

int RunScan(CliArgs& args) {
    ScanSettings settings;
    if (!TakeNumber(args, "--from", 0, MaxControllerAddress, settings.from) ||
        !TakeNumber(args, "--to", 0, MaxControllerAddress, settings.to) ||
        !TakeNumber(args, "--timeout", 1, 10000, settings.timeoutMs))
        return CliUsage;
    if (settings.to < settings.from) {
        std::fprintf(stderr, "Использование: %s (--to не меньше --from)\n", ScanSynopsis);
        return CliUsage;
    }
    CliLink link;
    if (!link.Open(args))
        return CliPortNotOpened;
    TJobLoop loop;
    int status = CliOk;
    {
        // The scan addresses every request itself: it goes to the line's worker directly.
        TScanCliHost host(loop, link.Line(), link.Port(), CliLogFile(args), args.json);
        TScanJob job(host, &host, settings);
        host.job = &job;
        host.Attach(job);
        host.RunJob();
        if (host.failed)
            status = CliLinkBase + static_cast<int>(WriteFailed);
        if (args.json) {
            CliJson found = CliJson::array(), doubtful = CliJson::array();
            for (const ScanEntry& e : job.Entries()) {
                if (e.doubtful)
                    doubtful.push_back(
                        {{"address", e.address}, {"seen", e.seen}, {"cause", e.cause}});
                else
                    found.push_back({{"address", e.address}, {"key_count", e.keyCount}});
            }
            CliPrintJson({{"from", settings.from},
                          {"to", settings.to},
                          {"timeout_ms", settings.timeoutMs},
                          {"complete", job.Complete()},
                          {"controllers", std::move(found)},
                          {"doubtful", std::move(doubtful)}});
        }
    }
    link.Port().Close();
    return status;
}

}  // namespace

VX_CLI_COMMAND(
    "scan",
    "find the controllers on the line: a link check at each address, confirmed by the key "
    "count; nothing is written",
    [](CliDefine& d) {
        d.Link()
            .Option("--from", "ADDR", "the first address (default 0)")
            .Option("--to", "ADDR", "the last address (default 254)")
            .Option("--timeout", "MS",
                    "how long each address has to answer after the prescribed 116 ms "
                    "(default 50)")
            .Json()
            .Footer(
                "Each address gets one attempt. An address that answers the link check is "
                "asked for its key count; only an answer to that lists a controller. "
                "Replies that arrive but are wrong (a bad check byte, another address) are "
                "listed as \"сомнительный ответ\" with what came back and the likely cause: "
                "two controllers given one address garble each other's replies.");
    },
    RunScan);
