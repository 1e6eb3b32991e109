// The byte-level operations a transaction is built from. TSerialPort is the real
// one; tests use a scripted line on a virtual clock.
#pragma once

#include <cstdint>

class TLine {
  public:
    virtual ~TLine() = default;
    // 0 all written, 1 failure. `written` receives the count actually written.
    virtual int WriteBytes(const std::uint8_t* bytes, int count, int& written) = 0;
    // 0 all read, 4 time-out with fewer bytes, 2 input/output failure.
    virtual int ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) = 0;
    // Waits the transmission time of n + 1 characters at 9600 baud (see WaitCharsMs).
    virtual void WaitChars(int n) = 0;
    virtual bool Purge(bool receive, bool transmit) = 0;
    // true: mark parity (the address byte), false: space parity.
    virtual bool SetParity(bool mark) = 0;
    // false when the device has no modem lines (a pseudo-terminal); nothing else changes.
    virtual bool SetDtr(bool on) = 0;

    // Every open of a line that can be closed and opened again starts a new generation.
    // A request belongs to the generation it was loaded in: bound to it, the line fails
    // every operation once it has been opened anew, so a request left over from a
    // cancelled dialog never goes out over the next dialog's open. 0 binds to none.
    virtual std::uint64_t Generation() const { return 0; }
    virtual void Bind(std::uint64_t generation) { (void)generation; }
};

// (n + 1) character times of 11 bits at 9600 baud, truncated to ms, plus 1 ms.
int WaitCharsMs(int n);
