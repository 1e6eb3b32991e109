// The line trace: what went over the line in each attempt of each request, for the
// technician whose adapter misbehaves. Off, it costs one pointer test per attempt.
//
//     TLineTrace trace(port, [](const std::string& line) { std::fputs(line.c_str(), f); });
//     TCommands commands(trace, &trace);  // the trace sees the bytes and the attempts
//
// One text line per attempt:
//     +1204 ms attempt 2/3: sent mark{00} space{02 00 00 00 07}; received {00 02 00 00 00 A5};
//     result 0 OK
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "core/link/line.h"

// Told of each attempt TCommands makes.
class TAttemptObserver {
  public:
    virtual ~TAttemptObserver() = default;
    virtual void AttemptStarted(int attempt, int attempts) = 0;  // attempt counts from 1
    virtual void AttemptEnded(int result) = 0;
};

class TLineTrace : public TLine, public TAttemptObserver {
  public:
    using Writer = std::function<void(const std::string& line)>;  // gets "...\n"

    // Times count from now.
    TLineTrace(TLine& inner, Writer write);

    int WriteBytes(const std::uint8_t* bytes, int count, int& written) override;
    int ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) override;
    void WaitChars(int n) override { inner_.WaitChars(n); }
    bool Purge(bool receive, bool transmit) override { return inner_.Purge(receive, transmit); }
    bool SetParity(bool mark) override;
    bool SetDtr(bool on) override { return inner_.SetDtr(on); }
    // The stale-request guard is the inner line's: tracing must not switch it off.
    std::uint64_t Generation() const override { return inner_.Generation(); }
    void Bind(std::uint64_t generation) override { inner_.Bind(generation); }

    void AttemptStarted(int attempt, int attempts) override;
    void AttemptEnded(int result) override;

  private:
    TLine& inner_;
    Writer write_;
    std::chrono::steady_clock::time_point start_;
    bool mark_ = false;
    std::string sent_;
    std::string received_;
    std::string head_;  // "+12 ms attempt 1/3"
};
