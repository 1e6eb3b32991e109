// What the benchmarks that talk to a controller share: the virtual controller started
// for them, and the process's CPU time and wall time to measure against.
#pragma once

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "support/sim_process.h"

namespace bench {

// The virtual controller with `options` (its request log goes nowhere), or null when it
// cannot be started (the reason is on standard error).
inline std::unique_ptr<SimProcess> StartSim(std::vector<std::string> options) {
    options.insert(options.end(), {"--log", "/dev/null"});
    try {
        return std::make_unique<SimProcess>(std::move(options));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot start %s: %s\n", SimPath().c_str(), e.what());
        return nullptr;
    }
}

// User and system time of the whole process, in seconds.
inline double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace bench
