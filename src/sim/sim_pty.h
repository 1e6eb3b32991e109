// The virtual controller's end of a pseudo-terminal. The client opens the slave
// side as its serial device; this side reads what the client writes and learns,
// from the slave's termios, under which parity each byte was sent.
#pragma once

#include <termios.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/sim_controller.h"

// The parity a termios setting sends the ninth bit with. A pseudo-terminal drops
// PARENB, so only CMSPAR and PARODD tell mark (both) from space (CMSPAR alone).
SimParity ParityOf(const termios& settings);
// "9600 8 mark 2stop".
std::string SettingsText(const termios& settings);

double MonotonicMs();

class SimPty {
  public:
    SimPty() = default;
    ~SimPty();
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;

    // Opens the master in packet mode and keeps one slave descriptor open, so the
    // master never sees a hang-up between clients.
    bool Open(std::string& error);
    const std::string& SlavePath() const { return slavePath_; }
    int MasterFd() const { return master_; }
    int WatchFd() const { return watch_; }

    // Reads what is there (non-blocking) and returns it as chunks tagged with the
    // parity under which the bytes arrived.
    std::vector<SimChunk> Read();
    bool Write(const std::vector<std::uint8_t>& bytes);

    // Call when WatchFd() is readable: a client closed the device. Clears the
    // exclusive-use flag it may have set (the flag lives as long as the pseudo-terminal,
    // so a second client could not open it otherwise).
    void OnWatchEvent();

  private:
    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    std::string slavePath_;
    termios known_{};         // settings at the last read
    termios beforeChange_{};  // settings before the last reported change
    bool changePending_ = false;
    bool lastWasAddress_ = false;  // the last bytes read were a lone byte under mark parity

    void ReadData(const std::uint8_t* bytes, size_t count, std::vector<SimChunk>& out);
};
