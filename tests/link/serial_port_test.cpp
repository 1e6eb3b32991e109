#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <thread>

#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "core/link/serial_port.h"
#include "core/link/transact.h"
#include "scripted_line.h"

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// A pseudo-terminal whose slave end the port opens; the test plays the controller
// on the master end.
class Pty {
  public:
    Pty() {
        int slave = -1;
        char name[128] = {};
        EXPECT_EQ(openpty(&master_, &slave, name, nullptr, nullptr), 0);
        path_ = name;
        // Keep a slave descriptor open so the master never sees a hang-up between opens.
        slave_ = slave;
    }
    ~Pty() {
        close(master_);
        close(slave_);
    }
    const std::string& path() const { return path_; }
    int master() const { return master_; }

    void Send(const ByteVector& bytes) {
        ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    // Whatever arrives within `ms`.
    ByteVector Receive(int ms) {
        ByteVector got;
        const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < deadline) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN)) {
                std::uint8_t buffer[64];
                const ssize_t n = read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    got.insert(got.end(), buffer, buffer + n);
                }
            }
        }
        return got;
    }
    int Exclusive() const {
        int exclusive = -1;
        ioctl(slave_, TIOCGEXCL, &exclusive);
        return exclusive;
    }
    tcflag_t SlaveFlags() const {
        termios tio{};
        tcgetattr(master_, &tio);
        return tio.c_cflag;
    }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

TEST(TSerialPort, OpenFailures) {
    TSerialPort port;
    std::string error;
    EXPECT_FALSE(port.Open("", error));
    EXPECT_EQ(error, "Не выбран COM порт");
    EXPECT_FALSE(port.IsOpen());

    EXPECT_FALSE(port.Open("/dev/vx-no-such-port", error));
    // The system's text in Russian whatever the locale (the program's own table).
    EXPECT_EQ(error,
              "Нет такого файла или каталога\nПорт подключения: /dev/vx-no-such-port\n"
              "Устройство не подключено.");
    EXPECT_STREQ(TSerialPort::OpenErrorCaption(), "Ошибка подключения");

    Pty pty;
    TSerialPort first;
    ASSERT_TRUE(first.Open(pty.path(), error)) << error;
    TSerialPort second;
    EXPECT_FALSE(second.Open(pty.path(), error));
    EXPECT_NE(error.find("\nПорт подключения: " + pty.path() + "\nПорт занят другой программой."),
              std::string::npos)
        << error;
    EXPECT_EQ(pty.Exclusive(), 1);  // the holder keeps its port
    // Open again on the same object closes the first descriptor and takes the port anew.
    EXPECT_TRUE(first.Open(pty.path(), error)) << error;
    EXPECT_EQ(pty.Exclusive(), 1);
    EXPECT_TRUE(first.Close());
    EXPECT_EQ(pty.Exclusive(), 0);  // or nobody but root could open it again
    EXPECT_TRUE(second.Open(pty.path(), error)) << error;
}

TEST(TSerialPort, LineSettingsAndModemLines) {
    Pty pty;
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(pty.path(), error)) << error;
    EXPECT_EQ(port.DevicePath(), pty.path());
    // Mark parity and one stop bit after opening; the master sees the slave's settings.
    tcflag_t flags = pty.SlaveFlags();
    EXPECT_EQ(flags & (CMSPAR | PARODD), tcflag_t(CMSPAR | PARODD));
    EXPECT_EQ(flags & CSTOPB, 0u);
    EXPECT_EQ(flags & CSIZE, tcflag_t(CS8));
    EXPECT_NE(flags & CLOCAL, 0u);

    EXPECT_TRUE(port.SetParity(false));
    flags = pty.SlaveFlags();
    EXPECT_EQ(flags & (CMSPAR | PARODD), tcflag_t(CMSPAR));
    EXPECT_NE(flags & CSTOPB, 0u);
    EXPECT_TRUE(port.SetParity(true));
    EXPECT_EQ(pty.SlaveFlags() & (CMSPAR | PARODD), tcflag_t(CMSPAR | PARODD));

    // A pseudo-terminal has no modem lines.
    EXPECT_FALSE(port.SetDtr(true));
    EXPECT_FALSE(port.SetDtr(false));
}

TEST(TSerialPort, ReadsWritesAndPurges) {
    Pty pty;
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(pty.path(), error)) << error;

    const std::uint8_t out[] = {0x00, 0x02, 0x00, 0x00, 0x00, 0x07};
    int count = -1;
    EXPECT_EQ(port.WriteBytes(out, 6, count), 0);
    EXPECT_EQ(count, 6);
    EXPECT_EQ(pty.Receive(50), ByteVector(out, out + 6));

    // Nothing comes: time-out with nothing read, after the time-out and not much later.
    std::uint8_t in[8] = {};
    auto start = Clock::now();
    EXPECT_EQ(port.ReadBytes(in, 6, 200, count), 4);
    EXPECT_EQ(count, 0);
    EXPECT_GE(MsSince(start), 200);
    EXPECT_LT(MsSince(start), 300);

    // Pieces arriving apart are assembled in order in one call.
    std::thread sender([&] {
        pty.Send({1, 2});
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Send({3, 4, 5, 6});
    });
    EXPECT_EQ(port.ReadBytes(in, 6, 1000, count), 0);
    sender.join();
    EXPECT_EQ(count, 6);
    EXPECT_EQ(ByteVector(in, in + 6), (ByteVector{1, 2, 3, 4, 5, 6}));

    // A partial reply: the bytes that came, and a time-out.
    pty.Send({9, 8});
    EXPECT_EQ(port.ReadBytes(in, 6, 100, count), 4);
    EXPECT_EQ(count, 2);

    // Purge throws away what is waiting.
    pty.Send({7, 7, 7});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(port.Purge(true, true));
    EXPECT_EQ(port.ReadBytes(in, 1, 50, count), 4);
    EXPECT_EQ(count, 0);
}

TEST(TSerialPort, WaitCharsSleepsTheCharacterTimes) {
    Pty pty;
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(pty.path(), error)) << error;
    for (int n : {2, 7, 100}) {
        const auto start = Clock::now();
        port.WaitChars(n);
        const auto took = MsSince(start);
        EXPECT_GE(took, WaitCharsMs(n)) << n;
        EXPECT_LT(took, WaitCharsMs(n) + 40) << n;
    }
}

// Watches the port from the far end at the moment of each write: the settings the
// far end sees (a pseudo-terminal's master shows the slave's) and when it happened.
class FarEndSpy : public TLine {
  public:
    struct Write {
        ByteVector bytes;
        bool mark;
        Clock::time_point start;
        Clock::time_point end;
    };
    FarEndSpy(TLine& line, const Pty& pty) : line_(line), pty_(pty) {}
    std::vector<Write> writes;

    int WriteBytes(const std::uint8_t* bytes, int count, int& written) override {
        const bool mark = (pty_.SlaveFlags() & PARODD) != 0;
        const auto start = Clock::now();
        const int result = line_.WriteBytes(bytes, count, written);
        writes.push_back({ByteVector(bytes, bytes + count), mark, start, Clock::now()});
        return result;
    }
    int ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) override {
        return line_.ReadBytes(buffer, count, timeoutMs, read);
    }
    void WaitChars(int n) override { line_.WaitChars(n); }
    bool Purge(bool receive, bool transmit) override { return line_.Purge(receive, transmit); }
    bool SetParity(bool mark) override { return line_.SetParity(mark); }
    bool SetDtr(bool on) override { return line_.SetDtr(on); }

  private:
    TLine& line_;
    const Pty& pty_;
};

// The whole transaction over the line: the address byte alone under mark parity, the
// rest under space parity at least 4 ms later, the reply read after the turnaround.
TEST(TSerialPort, TransactionOverPseudoTerminal) {
    Pty pty;
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(pty.path(), error)) << error;

    ByteVector received;
    std::thread controller([&] {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (received.size() < 9 && Clock::now() < deadline) {
            const ByteVector got = pty.Receive(5);
            received.insert(received.end(), got.begin(), got.end());
        }
        pty.Send(ReplyFrame(0x61, {0x12, 0x34, 0x56}));
    });

    FarEndSpy spy(port, pty);
    RequestFrame request = MakeReadKey(VardexSlot);
    FrameHeader reply{};
    FrameData replyData{};
    const auto start = Clock::now();
    EXPECT_EQ(Transact(spy, request.header, request.data, replyData, reply), Ok);
    const auto took = MsSince(start);
    controller.join();

    EXPECT_EQ(received, (ByteVector{0x00, 0x61, 0x00, 0x00, 0x02, 0xA3, 0xFF, 0xFF, 0xB4}));
    ASSERT_EQ(spy.writes.size(), 3u);
    EXPECT_EQ(spy.writes[0].bytes, ByteVector{0x00});
    EXPECT_TRUE(spy.writes[0].mark);
    EXPECT_FALSE(spy.writes[1].mark);
    EXPECT_FALSE(spy.writes[2].mark);
    EXPECT_GE(spy.writes[1].start - spy.writes[0].end, std::chrono::milliseconds(4));
    EXPECT_GE(spy.writes[2].start - spy.writes[1].end, std::chrono::milliseconds(10));
    EXPECT_EQ(DecodeKey(replyData), 0x123456u);
    // 4 + 4 + 10 + 5 + 116 ms of prescribed waits.
    EXPECT_GE(took, 139);
}

// Closing from another thread while the worker waits for a reply: the read ends at
// once, the descriptor is closed only after the worker has left it, and everything
// after that fails cleanly.
TEST(TSerialPort, CloseDuringBlockedRead) {
    Pty pty;
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(pty.path(), error)) << error;

    std::promise<int> result;
    std::thread worker([&] {
        std::uint8_t in[6];
        int count = 0;
        result.set_value(port.ReadBytes(in, 6, 5000, count));
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto start = Clock::now();
    EXPECT_TRUE(port.Close());
    auto future = result.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(1)), std::future_status::ready);
    EXPECT_EQ(future.get(), 2);
    EXPECT_LT(MsSince(start), 500);
    worker.join();

    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.Close());  // closing a closed port does nothing
    int count = 0;
    const std::uint8_t byte = 0;
    EXPECT_EQ(port.WriteBytes(&byte, 1, count), 1);
    std::uint8_t in = 0;
    EXPECT_EQ(port.ReadBytes(&in, 1, 1000, count), 2);
}

// The same through the worker, as a cancelled capture dialog does it: the request in
// flight fails, its completion goes out, and the next request after reopening works.
TEST(TSerialPort, CloseUnderTheWorker) {
    Pty pty;
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(pty.path(), error)) << error;
    TCommands worker(port);

    std::promise<int> first;
    const RequestFrame check = MakeCheckLink();
    worker.Load(check.header, check.data,
                [&](int result, const FrameHeader&, const FrameData&) { first.set_value(result); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // now in the reply read
    const auto start = Clock::now();
    EXPECT_TRUE(port.Close());
    auto done = first.get_future();
    ASSERT_EQ(done.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    const int result = done.get();
    EXPECT_TRUE(result == WriteFailed || result == ReadFailed) << result;
    EXPECT_LT(MsSince(start), 1000);

    ASSERT_TRUE(port.Open(pty.path(), error)) << error;
    pty.Receive(20);  // whatever the first request left on the line
    std::atomic<bool> stop{false};
    std::thread controller([&] {
        while (!stop) {
            const ByteVector got = pty.Receive(20);
            if (got.size() >= 6) {
                pty.Send(ReplyFrame(0x02));
            }
        }
    });
    std::promise<int> second;
    worker.Load(check.header, check.data,
                [&](int r, const FrameHeader&, const FrameData&) { second.set_value(r); });
    auto next = second.get_future();
    ASSERT_EQ(next.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(next.get(), Ok);
    stop = true;
    controller.join();
}

}  // namespace
