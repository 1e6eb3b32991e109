// The link against the virtual controller over a real pseudo-terminal: every
// command once through the worker, the line settings the controller saw, the state
// file, and the reply faults as the worker reports them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <regex>
#include <sstream>

#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "core/link/serial_port.h"
#include "support/sim_process.h"

namespace {

struct Outcome {
    int result = NotRun;
    FrameHeader reply{};
    FrameData data{};
    double ms = 0;
};

class SimLinkTest : public ::testing::Test {
  protected:
    std::unique_ptr<SimProcess> sim;
    TSerialPort port;
    std::unique_ptr<TCommands> commands;

    void Start(std::vector<std::string> options) {
        sim = std::make_unique<SimProcess>(std::move(options));
        std::string error;
        ASSERT_TRUE(port.Open(sim->Port(), error)) << error;
        commands = std::make_unique<TCommands>(port);
    }
    void TearDown() override {
        commands.reset();
        port.Close();
    }
    Outcome Run(const RequestFrame& request) {
        std::promise<Outcome> promise;
        const auto start = std::chrono::steady_clock::now();
        commands->Load(request.header, request.data,
                       [&](int result, const FrameHeader& h, const FrameData& d) {
                           Outcome o{result, h, d, 0};
                           o.ms = std::chrono::duration<double, std::milli>(
                                      std::chrono::steady_clock::now() - start)
                                      .count();
                           promise.set_value(o);
                       });
        return promise.get_future().get();
    }
};

TEST_F(SimLinkTest, EveryCommandOnceThroughTheWorker) {
    char dir[] = "/tmp/vx-state-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string statePath = std::string(dir) + "/state.json";
    struct Cleanup {
        std::string dir;
        ~Cleanup() { std::filesystem::remove_all(dir); }
    } cleanup{dir};
    Start({"--keys", "0x0A1B2C,5", "--vardex", "0x345678", "--times", "7,2", "--state", statePath});

    Outcome o = Run(MakeCheckLink());
    EXPECT_EQ(o.result, Ok);
    // The fixed waits alone take 4 + 4 + 10 + 116 ms.
    EXPECT_GE(o.ms, 134);
    EXPECT_LT(o.ms, 1000);

    o = Run(MakeReadKeyCount());
    ASSERT_EQ(o.result, Ok);
    EXPECT_EQ(DecodeKeyCount(o.data), 2);

    o = Run(MakeReadSettings());
    ASSERT_EQ(o.result, Ok);
    int timeOpen = 0, retryRead = 0;
    DecodeSettings(o.data, timeOpen, retryRead);
    EXPECT_EQ(timeOpen, 7);
    EXPECT_EQ(retryRead, 2);

    o = Run(MakeReadKey(VardexSlot));
    ASSERT_EQ(o.result, Ok);
    EXPECT_EQ(DecodeKey(o.data), 0x345678u);
    o = Run(MakeReadKey(1));
    ASSERT_EQ(o.result, Ok);
    EXPECT_EQ(DecodeKey(o.data), 5u);

    EXPECT_EQ(Run(MakeWriteKey(0x112233, true, false, KeyFiller::KeyDialog)).result, Ok);
    EXPECT_EQ(Run(MakeWriteKey(0x0A1B2C, false, false, KeyFiller::KeyDialog)).result, Ok);
    EXPECT_EQ(Run(MakeWriteSettings(9, 4)).result, Ok);
    EXPECT_EQ(Run(MakeWriteKey(0, false, true, KeyFiller::KeyDialog)).result, Ok);

    KeyCodeValue code = 0;
    o = Run(MakeReadPresentedKey());
    ASSERT_EQ(o.result, Ok);
    EXPECT_FALSE(DecodePresentedKey(o.reply, o.data, code));
    sim->Present(1193046);
    o = Run(MakeReadPresentedKey());
    ASSERT_EQ(o.result, Ok);
    ASSERT_TRUE(DecodePresentedKey(o.reply, o.data, code));
    EXPECT_EQ(code, 1193046u);

    SimState state = sim->State();
    EXPECT_EQ(state.keys, (std::vector<std::uint32_t>{5, 0x112233}));
    EXPECT_EQ(state.vardex, 0u);
    EXPECT_EQ(state.timeOpen, 9);
    EXPECT_EQ(state.retryRead, 4);

    EXPECT_EQ(Run(MakeClearAll()).result, Ok);
    state.keys.clear();
    EXPECT_EQ(sim->State(), state);

    // The state file follows every change.
    SimState saved;
    std::string error;
    ASSERT_TRUE(LoadSimState(statePath, saved, error)) << error;
    EXPECT_EQ(saved, state);

    // And a new run starts from it.
    commands.reset();
    port.Close();
    Start({"--state", statePath});
    EXPECT_EQ(sim->State(), state);
    EXPECT_EQ(Run(MakeCheckLink()).result, Ok);  // the port opens again after a close
}

TEST_F(SimLinkTest, AddressByteAloneUnderMarkParityTheRestUnderSpace) {
    Start({});
    ASSERT_EQ(Run(MakeCheckLink()).result, Ok);
    ASSERT_EQ(Run(MakeReadKey(VardexSlot)).result, Ok);
    const std::string log = sim->Log();

    // One line per request: each piece of bytes with its arrival time and parity.
    const std::regex check(
        R"(request 00 02 00 00 00 07 \| \+0\.000ms mark\{00\} \[9600 8 mark [12]stop[^\]]*\] \| )"
        R"(\+([0-9.]+)ms space\{02 00 00 00 07\} \[9600 8 space 2stop\] \| ok)");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(log, m, check)) << log;
    // The client waits 4 ms before it switches to space parity; the controller's own
    // read times are only as prompt as its scheduling, so only the order is checked.
    EXPECT_GT(std::stod(m[1]), 0.0);

    std::istringstream lines(log);
    std::string line;
    bool seen = false;
    while (std::getline(lines, line)) {
        if (line.find("request 00 61 00 00 02 A3 FF FF B4") == std::string::npos) {
            continue;
        }
        seen = true;
        // The address first and alone under mark; every later piece under space.
        EXPECT_NE(line.find("| +0.000ms mark{00} ["), std::string::npos) << line;
        EXPECT_EQ(line.find("mark{", line.find("mark{00}") + 1), std::string::npos) << line;
        EXPECT_NE(line.find("space{61 00 00 02 A3"), std::string::npos) << line;
        EXPECT_NE(line.find("| ok"), std::string::npos) << line;
    }
    EXPECT_TRUE(seen) << log;
}

TEST_F(SimLinkTest, ReplyFaultsAsTheWorkerReportsThem) {
    Start({});
    sim->Fault("answer-from-attempt", 2);
    Outcome o = Run(MakeReadKeyCount());
    EXPECT_EQ(o.result, Ok);
    EXPECT_GT(o.ms, 1000);  // the first attempt timed out

    sim->Fault("bad-header-crc");
    EXPECT_EQ(Run(MakeCheckLink()).result, ReadFailed);
    sim->Fault("bad-payload-crc");
    EXPECT_EQ(Run(MakeReadSettings()).result, ReadFailed);
    sim->Fault("noise", 3);
    EXPECT_EQ(Run(MakeCheckLink()).result, ReadFailed);

    // A non-zero status counts as an answer; its announced payload is never read.
    sim->Fault("status-nonzero-no-payload");
    o = Run(MakeReadSettings());
    EXPECT_EQ(o.result, Ok);
    EXPECT_NE(o.reply[2], 0);
    EXPECT_EQ(o.data[1], 0);

    sim->FaultOff();
    EXPECT_EQ(Run(MakeCheckLink()).result, Ok);
}

TEST_F(SimLinkTest, GarbageOnTheLineAndOnTheControlInputDoesNotStopIt) {
    Start({"--keys", "1"});
    const int fd = ::open(sim->Port().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    termios t{};
    ASSERT_EQ(tcgetattr(fd, &t), 0);
    cfmakeraw(&t);
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        t.c_cflag &= ~(PARODD | CMSPAR);
        t.c_cflag |= (random() % 2 ? CMSPAR : 0) | (random() % 2 ? PARODD : 0);
        tcsetattr(fd, TCSANOW, &t);
        std::uint8_t bytes[64];
        const int n = static_cast<int>(random() % sizeof bytes);
        for (int k = 0; k < n; ++k) {
            bytes[k] = static_cast<std::uint8_t>(random() % 3 ? random() % 4 : random());
        }
        ASSERT_EQ(::write(fd, bytes, static_cast<size_t>(n)), n);
    }
    ::close(fd);
    for (const char* line : {"", "fault", "fault late x", "present -1", "present 0x1000000",
                             "\x01\xff\xfe", "state extra", "reply-delay 99999999"}) {
        EXPECT_EQ(sim->Control(line).rfind("error", 0), 0u) << line;
    }
    EXPECT_EQ(Run(MakeCheckLink()).result, Ok);
    EXPECT_EQ(sim->State().keys, std::vector<std::uint32_t>{1});
}

TEST(SimProcessTest, ExclusiveUseEndsWhenTheClientCloses) {
    // A client that claims the device and goes away without releasing it (it crashed):
    // on a pseudo-terminal the flag would outlive it and lock out every later client
    // that is not root.
    SimProcess sim;
    int fd = ::open(sim.Port().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ioctl(fd, TIOCEXCL), 0);
    ::close(fd);
    int exclusive = 1;
    for (int i = 0; i < 100 && exclusive; ++i) {
        usleep(5000);
        ASSERT_EQ(sim.Control("state").front(), '{');  // the sim has handled the close
        fd = ::open(sim.Port().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
        ::close(fd);
    }
    EXPECT_EQ(exclusive, 0);
}

}  // namespace
