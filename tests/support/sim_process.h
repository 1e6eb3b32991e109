// The virtual controller as a child process, and running the project's programs,
// for end-to-end tests.
//
// Usage:
//     #include "support/sim_process.h"
//
//     SimProcess sim({"--keys", "1,2,0x0A1B2C"});      // starts vardex2-sim, reads its pty path
//     ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "link-check"});
//     EXPECT_EQ(r.status, 0);
//     EXPECT_EQ(r.out, "OK\n");
//     sim.Fault("silence");                            // "fault silence"; sim.FaultOff()
//     sim.Present(0x123456);                           // the next 0x43 reports it
//     SimState s = sim.State();                        // keys, vardex, times
//     std::string log = sim.Log();                     // one line per request (bytes,
//                                                      // timing, parity of each piece)
//     // the destructor stops the child (quit, then SIGKILL after a second)
//
// Link a test with vx_test_support; it also makes CMake build vardex2-sim and
// vardex2-cli first. Constructors throw std::runtime_error when the child fails to start.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_state.h"

// Absolute paths of the built programs.
std::string SimPath();
std::string CliPath();

class SimProcess {
  public:
    // `options` are vardex2-sim's command-line options (--keys, --state, --reply-delay ...).
    // A --log file in a fresh temporary directory is added unless given.
    explicit SimProcess(std::vector<std::string> options = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& Port() const { return port_; }  // the pseudo-terminal's slave path
    const std::string& LogPath() const { return logPath_; }
    const std::string& TempDir() const { return tempDir_; }  // removed with the object
    pid_t Pid() const { return pid_; }

    // Sends one control line ("present 42", "fault noise 3") and returns the sim's
    // one-line answer without the newline ("ok", "error: ...", JSON for "state").
    std::string Control(const std::string& line);
    void Fault(const std::string& name, int arg = -1);  // throws unless the sim says "ok"
    void FaultOff();
    void Present(std::uint32_t code);
    SimState State();
    std::string Log() const;  // the whole request log so far

    // Stops the child now (quit, then SIGKILL); returns its exit status (-1 if killed).
    int Stop();

  private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string port_;
    std::string logPath_;
    std::string tempDir_;
    std::string pending_;  // bytes read from the child past the last line

    std::string ReadLine(int timeoutMs);
};

struct ProcessResult {
    int status = -1;  // exit status, or 128 + signal number
    std::string out;
    std::string err;
    double seconds = 0;  // wall time
};

// Runs a program to its end in a new session (so it has no controlling terminal and
// cannot ask questions), feeding `input` to its standard input. Kills it after
// `timeoutMs` (status then 128 + SIGKILL).
ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& input = "",
                         int timeoutMs = 60000);
