// How much a link transaction costs beyond its prescribed waits, and how much CPU the
// process burns while transactions run.
//
//   bench_link [--count N] [--reply-delay MS] [--port DEVICE]
//
// Without --port it starts the virtual controller (the build's vardex2-sim) with the
// given reply delay and talks to the pseudo-terminal it prints.
// With --port it uses a controller that is already there; give its reply delay.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench_link_common.h"
#include "core/link/command_set.h"
#include "core/link/serial_port.h"
#include "core/link/transact.h"

namespace {

using namespace bench;

// Passes every operation through and tells how long the transaction spent in the
// character waits beyond their nominal length (the scheduler's lateness in waking the
// thread) apart from everything else (the system calls of the link).
class TimedLine : public TLine {
  public:
    explicit TimedLine(TLine& line) : line_(line) {}
    double waitLateMs = 0;

    int WriteBytes(const std::uint8_t* bytes, int count, int& written) override {
        return line_.WriteBytes(bytes, count, written);
    }
    int ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) override {
        return line_.ReadBytes(buffer, count, timeoutMs, read);
    }
    void WaitChars(int n) override {
        const auto start = Clock::now();
        line_.WaitChars(n);
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        waitLateMs += took.count() - WaitCharsMs(n);
    }
    bool Purge(bool receive, bool transmit) override { return line_.Purge(receive, transmit); }
    bool SetParity(bool mark) override { return line_.SetParity(mark); }
    bool SetDtr(bool on) override { return line_.SetDtr(on); }

  private:
    TLine& line_;
};

double Percentile(std::vector<double> values, double p) {
    std::sort(values.begin(), values.end());
    const double rank = p / 100.0 * static_cast<double>(values.size() - 1);
    const std::size_t lo = static_cast<std::size_t>(rank);
    const std::size_t hi = std::min(lo + 1, values.size() - 1);
    return values[lo] + (values[hi] - values[lo]) * (rank - static_cast<double>(lo));
}

}  // namespace

int main(int argc, char** argv) {
    int count = 200;
    int replyDelayMs = 0;
    std::string port;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--count" && hasValue) {
            count = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--reply-delay" && hasValue) {
            replyDelayMs = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--port" && hasValue) {
            port = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: bench_link [--count N] [--reply-delay MS] "
                         "[--port DEVICE]\n");
            return 2;
        }
    }

    std::unique_ptr<SimProcess> sim;
    if (port.empty()) {
        sim = StartSim({"--reply-delay", std::to_string(replyDelayMs)});
        if (!sim)
            return 1;
        port = sim->Port();
    }

    TSerialPort line;
    std::string error;
    if (!line.Open(port, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    // The waits a CheckLink transaction must spend: DTR off, address, header, and the
    // turnaround before the reply is read; the controller's own delay counts from the
    // end of the request.
    const int requestMs = 2 * WaitCharsMs(2) + WaitCharsMs(7);
    const int scheduleMs = requestMs + WaitCharsMs(100) + replyDelayMs;

    std::vector<double> overheadMs;
    std::vector<double> lateMs;
    int failures = 0;
    const double cpuStart = CpuSeconds();
    const auto runStart = Clock::now();
    for (int i = 0; i < count; ++i) {
        RequestFrame request = MakeCheckLink();
        FrameHeader reply{};
        FrameData replyData{};
        TimedLine timed(line);
        const auto start = Clock::now();
        const int result = Transact(timed, request.header, request.data, replyData, reply);
        const std::chrono::duration<double, std::milli> took = Clock::now() - start;
        if (result != Ok) {
            ++failures;
            std::fprintf(stderr, "transaction %d: result %d\n", i + 1, result);
            continue;
        }
        overheadMs.push_back(took.count() - scheduleMs);
        lateMs.push_back(timed.waitLateMs);
    }
    const std::chrono::duration<double> wall = Clock::now() - runStart;
    const double cpuPercent = (CpuSeconds() - cpuStart) / wall.count() * 100.0;
    line.Close();

    std::printf("link transactions: %d CheckLink against %s (reply delay %d ms)\n", count,
                port.c_str(), replyDelayMs);
    std::printf("prescribed schedule: %d ms per transaction\n", scheduleMs);
    if (overheadMs.empty()) {
        std::printf("no transaction succeeded (%d failures)\n", failures);
        return 1;
    }
    std::printf("overhead beyond schedule: median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                Percentile(overheadMs, 50), Percentile(overheadMs, 99),
                *std::max_element(overheadMs.begin(), overheadMs.end()));
    std::vector<double> ownMs;
    for (std::size_t i = 0; i < overheadMs.size(); ++i) {
        ownMs.push_back(overheadMs[i] - lateMs[i]);
    }
    std::printf("  of which waking late from the waits: median %.3f ms, p99 %.3f ms\n",
                Percentile(lateMs, 50), Percentile(lateMs, 99));
    std::printf(
        "  of which the rest (system calls, reading the reply): median %.3f ms, p99 %.3f ms\n",
        Percentile(ownMs, 50), Percentile(ownMs, 99));
    std::printf("process CPU while transactions ran: %.2f %% of one core\n", cpuPercent);
    std::printf("failed transactions: %d\n", failures);
    return failures == 0 ? 0 : 1;
}
