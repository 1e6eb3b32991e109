#include "core/link/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "core/link/break_marks.h"
#include "core/system_text.h"

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

// One 11-bit character at 9600 baud.
constexpr Micros CharTime{1146};
// Some USB adapters return from tcdrain before the last byte has left: this much
// more line time passes after every drain before the line settings change.
constexpr Micros AfterDrain = 2 * CharTime;
// A write that cannot hand its bytes to the driver within this long has failed.
constexpr int WriteTimeoutMs = 2000;

constexpr tcflag_t ParityBits = PARENB | CMSPAR | PARODD;

const char* const NoPortText = "Не выбран COM порт";
const char* const PortLinePrefix = "\nПорт подключения: ";
const char* const NoMarkSpaceText = "Адаптер порта не поддерживает четность mark и space";

// In Russian from the program's own table, whatever locales are installed.
std::string SystemText(int error) {
    return SystemErrorText(error);
}

// One line of advice for the causes an operator can fix.
std::string Advice(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
            return "Нет доступа к порту: добавьте пользователя в группу dialout и войдите в "
                   "систему заново.";
        case EBUSY:
            return "Порт занят другой программой.";
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "Устройство не подключено.";
        default:
            return "";
    }
}

int PollTimeoutMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<std::int64_t>(left.count(), 0));
}

bool IsPseudoTerminal(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISCHR(info.st_mode)) {
        return false;
    }
    const unsigned int majorNumber = major(info.st_rdev);
    return majorNumber >= 136 && majorNumber <= 143;  // Unix98 pseudo-terminal slaves
}

// The parity (and, on a real port, stop bit) settings that must survive tcsetattr.
tcflag_t CheckedBits(bool pty) {
    return pty ? (CMSPAR | PARODD) : (ParityBits | CSTOPB);
}

constexpr int ParityDropped = -1;

// Applies the settings and reads them back: 0, an errno value, or ParityDropped when
// the driver silently kept its own parity. The C library reports a dropped PARENB as
// EINVAL when nothing else changed; a pseudo-terminal always drops it, so the
// read-back alone decides about the parity bits.
int ApplySettings(int fd, const termios& tio, tcflag_t checked) {
    if (tcsetattr(fd, TCSANOW, &tio) != 0 && errno != EINVAL) {
        return errno;
    }
    termios back{};
    if (tcgetattr(fd, &back) != 0) {
        return errno;
    }
    return (back.c_cflag & checked) == (tio.c_cflag & checked) ? 0 : ParityDropped;
}

}  // namespace

struct TSerialPort::Impl {
    // Guards the descriptor against Close: every operation on the device enters,
    // Close waits until nobody is inside before it lets the descriptor go.
    mutable std::mutex mutex;
    std::condition_variable left;
    int fd = -1;
    int inside = 0;
    bool closing = false;
    bool pty = false;
    std::uint64_t generation = 0;  // counts the opens
    std::uint64_t bound = 0;       // the worker's request's generation; 0: any

    // The marks of the bytes received (a break, a doubled FF); touched by the reader only.
    TBreakMarkDecoder marks;
    bool marked = false;  // the driver marks breaks (not on a pseudo-terminal)
    std::string path;

    // Wakes a worker waiting in poll() when the port is closed under it. Lives as long
    // as the object, so its number is never reused while somebody might poll it.
    int wakeFd = -1;

    // Bytes handed to the driver that may still be on their way out.
    bool unsent = false;

    int Enter() {
        std::lock_guard lock(mutex);
        if (fd < 0 || closing || (bound != 0 && bound != generation)) {
            return -1;
        }
        ++inside;
        return fd;
    }

    void Leave() {
        std::lock_guard lock(mutex);
        --inside;
        if (inside == 0) {
            left.notify_all();
        }
    }

    void ResetWake() {
        std::uint64_t count = 0;
        while (read(wakeFd, &count, sizeof count) > 0) {
        }
    }

    // Sleeps on the wake descriptor, so a Close cuts the sleep short: true when it did.
    bool Sleep(Micros duration) {
        if (duration <= Micros::zero()) {
            return false;
        }
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration);
        timespec span{static_cast<time_t>(seconds.count()),
                      static_cast<long>((duration - seconds).count() * 1000)};
        // The waits time the line: the default timer slack would add to each of them.
        thread_local const bool preciseTimers = prctl(PR_SET_TIMERSLACK, 1UL) == 0;
        (void)preciseTimers;
        pollfd wake{wakeFd, POLLIN, 0};
        int ready;
        while ((ready = ppoll(&wake, 1, &span, nullptr)) < 0 && errno == EINTR) {
        }
        return ready > 0;
    }

    // Waits until the driver has sent the bytes written so far; true if there were any.
    // tcdrain would sleep in the kernel where Close cannot wake it (a stuck adapter
    // would hang the window): the driver's output queue is watched instead, sleeping on
    // the wake descriptor, for as long as a write may take.
    bool Drain(int device) {
        if (!unsent) {
            return false;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(WriteTimeoutMs);
        for (;;) {
            int queued = 0;
            if (ioctl(device, TIOCOUTQ, &queued) != 0 || queued <= 0 || Clock::now() >= deadline) {
                break;
            }
            if (Sleep(std::min<Micros>(CharTime * queued, std::chrono::milliseconds(5)))) {
                break;  // closing
            }
        }
        unsent = false;
        return true;
    }

    // Lets the bytes written so far leave the line before its settings change.
    void DrainIfNeeded(int device) {
        if (Drain(device)) {
            Sleep(AfterDrain);
        }
    }

    // Scope of one operation on the device.
    class DeviceUse {
      public:
        explicit DeviceUse(Impl& port) : port_(port), fd_(port.Enter()) {}
        ~DeviceUse() {
            if (fd_ >= 0) {
                port_.Leave();
            }
        }
        DeviceUse(const DeviceUse&) = delete;
        DeviceUse& operator=(const DeviceUse&) = delete;
        int fd() const { return fd_; }

      private:
        Impl& port_;
        int fd_;
    };
};

TSerialPort::TSerialPort() : d(std::make_unique<Impl>()) {
    d->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TSerialPort::~TSerialPort() {
    Close();
    if (d->wakeFd >= 0) {
        ::close(d->wakeFd);
    }
}

const char* TSerialPort::OpenErrorCaption() {
    return "Ошибка подключения";
}

bool TSerialPort::Open(const std::string& devicePath, std::string& errorText) {
    if (devicePath.empty()) {
        errorText = NoPortText;
        return false;
    }
    Close();

    bool exclusive = false;  // set by us, so ours to give up on failure
    auto fail = [&](int fd, const std::string& reason, int error) {
        // A half-configured port is not kept: it would hold the port against others.
        if (fd >= 0) {
            tcflush(fd, TCIOFLUSH);
            if (exclusive) {
                ioctl(fd, TIOCNXCL);
            }
            ::close(fd);
        }
        errorText = reason + PortLinePrefix + devicePath;
        const std::string advice = Advice(error);
        if (!advice.empty()) {
            errorText += "\n" + advice;
        }
        return false;
    };

    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return fail(-1, SystemText(error), error);
    }
    // Another program may hold the port by either means; a privileged user gets past
    // the exclusive mode at open, so it is asked for explicitly.
    int alreadyExclusive = 0;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        (ioctl(fd, TIOCGEXCL, &alreadyExclusive) == 0 && alreadyExclusive != 0)) {
        return fail(fd, SystemText(EBUSY), EBUSY);
    }
    if (ioctl(fd, TIOCEXCL) != 0) {
        const int error = errno;
        return fail(fd, SystemText(error), error);
    }
    exclusive = true;

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        const int error = errno;
        return fail(fd, SystemText(error), error);
    }
    cfmakeraw(&tio);
    const bool pty = IsPseudoTerminal(fd);
    // A break is marked in the input (FF 00 00, a data FF doubled) rather than dropped,
    // so that it fails the read instead of passing as zeros. No INPCK: it would also
    // mark reply bytes whose ninth bit differs from the parity of the moment. A
    // pseudo-terminal has no breaks, and one in packet mode with EXTPROC (the virtual
    // controller's) would not double FF: there the bytes are taken as they come.
    tio.c_iflag &= ~(INPCK | IGNBRK | BRKINT | IGNPAR | PARMRK | IXON | IXOFF | IXANY);
    if (!pty) {
        tio.c_iflag |= PARMRK;
    }
    tio.c_cflag &= ~(CSIZE | CSTOPB | CRTSCTS | ParityBits);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | PARENB | CMSPAR | PARODD;  // mark, one stop bit
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    const int applied = ApplySettings(fd, tio, CheckedBits(pty));
    if (applied == ParityDropped) {
        return fail(fd, NoMarkSpaceText, 0);
    }
    if (applied != 0) {
        return fail(fd, SystemText(applied), applied);
    }
    // RTS on for the whole session; a device without modem lines has none to raise.
    int rts = TIOCM_RTS;
    ioctl(fd, TIOCMBIS, &rts);
    tcflush(fd, TCIOFLUSH);

    std::lock_guard lock(d->mutex);
    d->ResetWake();
    d->fd = fd;
    d->pty = pty;
    d->marked = !pty;
    d->path = devicePath;
    d->unsent = false;
    d->marks.Reset();
    ++d->generation;
    return true;
}

bool TSerialPort::Close() {
    std::unique_lock lock(d->mutex);
    if (d->fd < 0) {
        return true;
    }
    // Wake whoever waits on the device and let them leave before the descriptor goes;
    // the wake stays signalled while closed, so later waits end at once.
    d->closing = true;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(d->wakeFd, &one, sizeof one);
    d->left.wait(lock, [this] { return d->inside == 0; });
    // Exclusivity belongs to the device, not to the descriptor: it would outlive the
    // close wherever another descriptor keeps the device (a pseudo-terminal's holder).
    ioctl(d->fd, TIOCNXCL);
    const bool closed = ::close(d->fd) == 0;
    d->fd = -1;
    d->closing = false;
    return closed;
}

bool TSerialPort::IsOpen() const {
    std::lock_guard lock(d->mutex);
    return d->fd >= 0;
}

const std::string& TSerialPort::DevicePath() const {
    return d->path;
}

int TSerialPort::WriteBytes(const std::uint8_t* bytes, int count, int& written) {
    written = 0;
    Impl::DeviceUse use(*d);
    if (use.fd() < 0) {
        return 1;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(WriteTimeoutMs);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(use.fd(), bytes + done, count - done);
        if (n > 0) {
            done += static_cast<int>(n);
            d->unsent = true;
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            return 1;
        }
        pollfd fds[2] = {{use.fd(), POLLOUT, 0}, {d->wakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, PollTimeoutMs(deadline));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || fds[1].revents != 0 || (fds[0].revents & (POLLERR | POLLHUP))) {
            return 1;
        }
    }
    written = done;
    return 0;
}

int TSerialPort::ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) {
    read = 0;
    Impl::DeviceUse use(*d);
    if (use.fd() < 0) {
        return 2;
    }
    // The time-out covers the whole call; the thread sleeps in poll() until bytes come.
    const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::uint8_t raw[256];
    for (;;) {
        // Never more bytes than the data still wanted (the marks only add to it), and
        // one more when a mark has begun.
        const int want =
            std::min<int>(sizeof raw, std::max(count - read, d->marks.Pending() ? 1 : 0));
        if (want > 0) {
            const ssize_t n = ::read(use.fd(), raw, static_cast<std::size_t>(want));
            if (n > 0) {
                if (!d->marked) {
                    std::copy(raw, raw + n, buffer + read);
                    read += static_cast<int>(n);
                } else if (!d->marks.Feed(raw, static_cast<int>(n), buffer, read)) {
                    d->marks.Reset();
                    return 2;  // a break on the line
                }
                continue;
            }
            // With VMIN = VTIME = 0 an empty queue reads as 0 bytes.
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n < 0 && errno != EAGAIN) {
                return 2;
            }
        }
        if (read == count && !d->marks.Pending()) {
            return 0;
        }
        const int waitMs = PollTimeoutMs(deadline);
        if (waitMs == 0) {
            return 4;
        }
        pollfd fds[2] = {{use.fd(), POLLIN, 0}, {d->wakeFd, POLLIN, 0}};
        const int ready = poll(fds, 2, waitMs);
        if (ready < 0 && errno != EINTR) {
            return 2;
        }
        if (fds[1].revents != 0) {
            return 2;  // the port is being closed
        }
        if ((fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) && !(fds[0].revents & POLLIN)) {
            return 2;  // the device went away
        }
    }
}

void TSerialPort::WaitChars(int n) {
    const auto start = Clock::now();
    const Micros total = std::chrono::milliseconds(WaitCharsMs(n));
    bool drained = false;
    {
        Impl::DeviceUse use(*d);
        if (use.fd() < 0) {
            return;  // closed: nothing to wait for
        }
        drained = d->Drain(use.fd());
    }
    const auto elapsed = std::chrono::duration_cast<Micros>(Clock::now() - start);
    // The rest of the wait, and never less than the margin after a drain.
    d->Sleep(drained ? std::max(total - elapsed, AfterDrain) : total - elapsed);
}

bool TSerialPort::Purge(bool receive, bool transmit) {
    Impl::DeviceUse use(*d);
    if (use.fd() < 0) {
        return false;
    }
    int queue = receive && transmit ? TCIOFLUSH : receive ? TCIFLUSH : TCOFLUSH;
    if (!receive && !transmit) {
        return true;
    }
    const bool flushed = tcflush(use.fd(), queue) == 0;
    if (transmit) {
        d->unsent = false;
    }
    if (receive) {
        d->marks.Reset();
        // Bytes an adapter delivers after the flush are just as stale.
        std::uint8_t scrap[256];
        while (::read(use.fd(), scrap, sizeof scrap) > 0) {
        }
    }
    return flushed;
}

bool TSerialPort::SetParity(bool mark) {
    Impl::DeviceUse use(*d);
    if (use.fd() < 0) {
        return false;
    }
    d->DrainIfNeeded(use.fd());
    termios tio{};
    if (tcgetattr(use.fd(), &tio) != 0) {
        return false;
    }
    tio.c_cflag &= ~ParityBits;
    tio.c_cflag |= PARENB | CMSPAR | CSTOPB | (mark ? PARODD : 0);
    // A driver that cannot do mark and space parity drops the bits silently.
    return ApplySettings(use.fd(), tio, CheckedBits(d->pty)) == 0;
}

bool TSerialPort::SetDtr(bool on) {
    Impl::DeviceUse use(*d);
    if (use.fd() < 0) {
        return false;
    }
    if (on) {
        d->DrainIfNeeded(use.fd());
    }
    int dtr = TIOCM_DTR;
    return ioctl(use.fd(), on ? TIOCMBIS : TIOCMBIC, &dtr) == 0;
}

std::uint64_t TSerialPort::Generation() const {
    std::lock_guard lock(d->mutex);
    return d->generation;
}

void TSerialPort::Bind(std::uint64_t generation) {
    std::lock_guard lock(d->mutex);
    d->bound = generation;
}
