// The serial line to the controller on Linux: termios, 9600 8 data bits, mark/space
// parity switched per frame, DTR framing each request.
#pragma once

#include <memory>
#include <string>

#include "core/link/line.h"

class TSerialPort : public TLine {
  public:
    TSerialPort();
    ~TSerialPort() override;  // closes what is still open
    TSerialPort(const TSerialPort&) = delete;
    TSerialPort& operator=(const TSerialPort&) = delete;

    // Opens the device (e.g. "/dev/ttyUSB0"). An empty path means no port was chosen.
    // On failure returns false and fills `errorText` with the text for a box captioned
    // "Ошибка подключения" (see OpenErrorCaption); the port shows no windows itself.
    bool Open(const std::string& devicePath, std::string& errorText);
    // Safe from the user-interface thread while the worker is inside a transaction:
    // wakes the worker's wait, waits for it to leave the device, then closes.
    bool Close();
    bool IsOpen() const;
    const std::string& DevicePath() const;

    int WriteBytes(const std::uint8_t* bytes, int count, int& written) override;
    int ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) override;
    void WaitChars(int n) override;
    bool Purge(bool receive, bool transmit) override;
    bool SetParity(bool mark) override;
    bool SetDtr(bool on) override;
    std::uint64_t Generation() const override;
    void Bind(std::uint64_t generation) override;

    static const char* OpenErrorCaption();  // "Ошибка подключения"

  private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
