// The time a transaction must take on the line by its prescribed waits, for benchmarks
// that hold a job's wall time against it.
#pragma once

#include "core/link/command_set.h"
#include "core/link/line.h"

namespace bench {

// The waits one transaction must spend (as the transaction prescribes them): DTR off,
// the address, the header, the payload with its CRC, the turnaround before the reply,
// and the controller's own delay.
inline double ScheduleMs(const RequestFrame& request, int replyDelayMs) {
    const int n = request.header[4];
    double ms = 2 * WaitCharsMs(2) + WaitCharsMs(7) + WaitCharsMs(100) + replyDelayMs;
    if (n > 0)
        ms += WaitCharsMs(n + 1);
    return ms;
}

}  // namespace bench
