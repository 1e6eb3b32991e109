#include "core/link/adapter_check.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "core/system_text.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

constexpr tcflag_t ParityBits = PARENB | CMSPAR | PARODD;

bool IsPseudoTerminal(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode))
        return false;
    const unsigned int majorNumber = major(info.st_rdev);
    return majorNumber >= 136 && majorNumber <= 143;  // Unix98 pseudo-terminal slaves
}

// Sets `bits` (within `mask`) and reads them back.
bool Applies(int fd, termios tio, tcflag_t mask, tcflag_t bits) {
    tio.c_cflag = (tio.c_cflag & ~mask) | bits;
    // A driver that cannot do it may say EINVAL or nothing at all: the read-back decides.
    tcsetattr(fd, TCSANOW, &tio);
    termios back{};
    return tcgetattr(fd, &back) == 0 && (back.c_cflag & mask) == bits;
}

// Clears the modem line, then sets it, reading it back each time.
bool Drives(int fd, int line) {
    int status = 0;
    if (ioctl(fd, TIOCMBIC, &line) != 0 || ioctl(fd, TIOCMGET, &status) != 0 ||
        (status & line) != 0)
        return false;
    return ioctl(fd, TIOCMBIS, &line) == 0 && ioctl(fd, TIOCMGET, &status) == 0 &&
           (status & line) != 0;
}

bool WriteAll(int fd, const std::uint8_t* bytes, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, bytes, count);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 100);
            continue;
        }
        if (n <= 0)
            return false;
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

void Loopback(int fd, const termios& base, AdapterReport& report) {
    // The address alone under mark parity, then a header and a block under space: the
    // block holds every bit pattern's edges and is long enough that a tenth faster
    // characters show above a USB adapter's latency.
    const std::vector<std::uint8_t> address = {0x00};
    std::vector<std::uint8_t> block = {0x02, 0x00, 0x00, 0x00, 0x07};
    for (int i = 0; block.size() < 480; ++i)
        block.push_back(static_cast<std::uint8_t>((i * 0x55) ^ (i >> 2)));
    report.loopback = true;
    report.sent = address;
    report.sent.insert(report.sent.end(), block.begin(), block.end());
    report.elevenBitMs = static_cast<double>(report.sent.size()) * 11.0 * 1000.0 / 9600.0;

    termios tio = base;
    tio.c_cflag = (tio.c_cflag & ~ParityBits) | PARENB | CMSPAR | PARODD | CSTOPB;
    tcflush(fd, TCIOFLUSH);
    tcsetattr(fd, TCSANOW, &tio);
    const Clock::time_point start = Clock::now();
    bool written = WriteAll(fd, address.data(), address.size());
    tcdrain(fd);
    tio.c_cflag &= ~PARODD;
    tcsetattr(fd, TCSANOW, &tio);
    written = written && WriteAll(fd, block.data(), block.size());

    const Clock::time_point deadline =
        start + std::chrono::milliseconds(static_cast<int>(report.elevenBitMs) + 1000);
    std::uint8_t buffer[512];
    while (written && report.received.size() < report.sent.size() && Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0))) <= 0)
            continue;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            report.received.insert(report.received.end(), buffer, buffer + n);
            report.loopbackMs = MsSince(start);
        }
    }
}

}  // namespace

bool CheckAdapter(const std::string& path, bool loopback, AdapterReport& report,
                  std::string& error) {
    report = AdapterReport{};
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = SystemErrorText(fd < 0 ? errno : EBUSY);
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    termios base{};
    if (tcgetattr(fd, &base) != 0) {
        error = SystemErrorText(errno);
        ::close(fd);
        return false;
    }
    const termios saved = base;
    if (IsPseudoTerminal(fd)) {
        report.pseudoTerminal = true;
        ::close(fd);
        return true;
    }
    cfmakeraw(&base);
    base.c_iflag &= ~(INPCK | PARMRK | IXON | IXOFF | IXANY);
    base.c_iflag |= IGNBRK;
    base.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS | ParityBits);
    base.c_cflag |= CS8 | CLOCAL | CREAD;
    base.c_cc[VMIN] = 0;
    base.c_cc[VTIME] = 0;
    cfsetispeed(&base, B9600);
    cfsetospeed(&base, B9600);
    tcsetattr(fd, TCSANOW, &base);

    report.mark = Applies(fd, base, ParityBits, PARENB | CMSPAR | PARODD);
    report.space = Applies(fd, base, ParityBits, PARENB | CMSPAR);
    report.twoStopBits = Applies(fd, base, CSTOPB, CSTOPB);
    report.dtr = Drives(fd, TIOCM_DTR);
    report.rts = Drives(fd, TIOCM_RTS);

    constexpr int Rounds = 20;
    termios tio = base;
    tio.c_cflag |= PARENB | CMSPAR | CSTOPB;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < Rounds; ++i) {
        tio.c_cflag ^= PARODD;
        tcsetattr(fd, TCSANOW, &tio);
    }
    report.paritySwitchMs = MsSince(start) / Rounds;
    start = Clock::now();
    for (int i = 0; i < Rounds; ++i)
        tcdrain(fd);
    report.drainMs = MsSince(start) / Rounds;

    if (loopback)
        Loopback(fd, base, report);
    tcsetattr(fd, TCSANOW, &saved);
    ::close(fd);
    return true;
}
