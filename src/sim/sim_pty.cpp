#include "sim/sim_pty.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

SimParity ParityOf(const termios& t) {
    if (t.c_cflag & CMSPAR) {
        return (t.c_cflag & PARODD) ? SimParity::Mark : SimParity::Space;
    }
    return SimParity::Other;
}

std::string SettingsText(const termios& t) {
    struct Speed {
        speed_t code;
        int baud;
    };
    static const Speed speeds[] = {{B1200, 1200},   {B2400, 2400},     {B4800, 4800},
                                   {B9600, 9600},   {B19200, 19200},   {B38400, 38400},
                                   {B57600, 57600}, {B115200, 115200}, {B0, 0}};
    int baud = -1;
    for (const auto& s : speeds) {
        if (cfgetospeed(&t) == s.code) {
            baud = s.baud;
        }
    }
    int bits = 8;
    switch (t.c_cflag & CSIZE) {
        case CS5:
            bits = 5;
            break;
        case CS6:
            bits = 6;
            break;
        case CS7:
            bits = 7;
            break;
        default:
            break;
    }
    std::string parity;
    if (t.c_cflag & CMSPAR) {
        parity = (t.c_cflag & PARODD) ? "mark" : "space";
    } else {
        parity = (t.c_cflag & PARODD) ? "odd" : "none";
    }
    return (baud >= 0 ? std::to_string(baud) : std::string("?")) + " " + std::to_string(bits) +
           " " + parity + ((t.c_cflag & CSTOPB) ? " 2stop" : " 1stop");
}

double MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

SimPty::~SimPty() {
    for (int fd : {watch_, slave_, master_}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool SimPty::Open(std::string& error) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    char name[256];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        error = slavePath_ + ": " + std::strerror(errno);
        return false;
    }
    // The line as a controller's port starts: raw, 9600 8N1. EXTPROC makes the
    // kernel report every later termios change of the slave through packet mode,
    // as long as the client keeps the local flags it finds.
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_lflag |= EXTPROC;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    tcsetattr(slave_, TCSANOW, &t);

    int one = 1;
    if (ioctl(master_, TIOCPKT, &one) != 0) {
        error = std::string("TIOCPKT: ") + std::strerror(errno);
        return false;
    }
    fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
    tcgetattr(master_, &known_);
    beforeChange_ = known_;

    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    // Drain the status packet our own settings caused.
    Read();
    return true;
}

void SimPty::OnWatchEvent() {
    char buffer[4096];
    while (::read(watch_, buffer, sizeof buffer) > 0) {
    }
    ioctl(slave_, TIOCNXCL);
}

std::vector<SimChunk> SimPty::Read() {
    std::vector<SimChunk> out;
    std::uint8_t buffer[4097];
    for (;;) {
        ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // Nothing (more) to read: data read after this point was certainly
            // written under the settings now in force.
            changePending_ = false;
            break;
        }
        if (buffer[0] != TIOCPKT_DATA) {
            // A status packet: the slave's settings changed since our last read.
            if (buffer[0] & TIOCPKT_IOCTL) {
                if (!changePending_) {
                    beforeChange_ = known_;
                }
                changePending_ = true;
                tcgetattr(master_, &known_);
            }
            continue;
        }
        ReadData(buffer + 1, static_cast<size_t>(n - 1), out);
        changePending_ = false;
    }
    return out;
}

void SimPty::ReadData(const std::uint8_t* bytes, size_t count, std::vector<SimChunk>& out) {
    if (count == 0) {
        return;
    }
    termios now{};
    tcgetattr(master_, &now);
    const double at = MonotonicMs();
    SimChunk chunk;
    chunk.atMs = at;
    chunk.parity = ParityOf(now);
    chunk.settings = SettingsText(now);
    // Bytes read right after a change of the settings may have been queued before
    // it. The client waits after the address byte before it switches to space parity,
    // so normally the address byte is read on its own under mark parity. When this side
    // was too slow for that (a busy machine), the switch to mark and the one back to
    // space have both happened before the read: the kernel reported a change, space
    // parity is in force, and no address byte has been read for the bytes queued. Then
    // the first of them is the one that was sent under mark parity.
    chunk.uncertain = changePending_ && ParityOf(beforeChange_) != chunk.parity;
    if (changePending_ && chunk.parity == SimParity::Space && !lastWasAddress_ &&
        ParityOf(beforeChange_) != SimParity::Other) {
        termios mark = now;
        mark.c_cflag |= CMSPAR | PARODD;
        SimChunk first = chunk;
        first.parity = SimParity::Mark;
        first.uncertain = true;
        first.settings = SettingsText(mark) + ", inferred";
        first.bytes.assign(bytes, bytes + 1);
        out.push_back(std::move(first));
        ++bytes;
        --count;
        chunk.atMs = at + 0.001;  // a piece of its own
        chunk.uncertain = true;
        if (count == 0) {
            lastWasAddress_ = true;
            known_ = now;
            return;
        }
    }
    lastWasAddress_ = chunk.parity == SimParity::Mark && count == 1;
    chunk.bytes.assign(bytes, bytes + count);
    out.push_back(std::move(chunk));
    known_ = now;
}

bool SimPty::Write(const std::vector<std::uint8_t>& bytes) {
    size_t done = 0;
    int spins = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno == EAGAIN && ++spins < 1000) {
            usleep(1000);
            continue;
        }
        return false;
    }
    return true;
}
