// What a serial adapter can do for the controller's line, asked of the adapter alone:
// mark and space parity and two stop bits set and read back, the DTR and RTS lines
// driven and read back, the time a parity switch and a drain take; with transmit
// wired to receive, a test frame through the parity switches. No request goes to a
// controller.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct AdapterReport {
    bool pseudoTerminal = false;  // nothing else was tried: a pty keeps any setting
    bool mark = false;            // mark parity applied (read back)
    bool space = false;           // space parity applied
    bool twoStopBits = false;
    bool dtr = false;  // set and cleared, as read back
    bool rts = false;
    double paritySwitchMs = 0;  // one tcsetattr from mark to space or back, on average
    double drainMs = 0;         // tcdrain with nothing left to send, on average

    // --loopback
    bool loopback = false;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> received;
    double loopbackMs = 0;   // from the first write to the last byte back
    double elevenBitMs = 0;  // what the bytes take as 11-bit characters at 9600 baud

    bool LoopbackInOrder() const { return loopback && received == sent; }
    // Not faster than 11-bit characters allow: an adapter that drops the ninth bit
    // sends 10-bit characters, a tenth quicker.
    bool LoopbackTiming() const { return loopback && loopbackMs >= elevenBitMs * 0.97; }
    bool Suitable() const {
        return !pseudoTerminal && mark && space && twoStopBits && dtr && rts &&
               (!loopback || (LoopbackInOrder() && LoopbackTiming()));
    }
};

// Opens `path` exclusively and runs the checks. False, with the system's reason in
// `error`, when the device cannot be opened or set up at all.
bool CheckAdapter(const std::string& path, bool loopback, AdapterReport& report,
                  std::string& error);
