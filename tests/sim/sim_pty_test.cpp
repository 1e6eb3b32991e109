// The controller's end of the pseudo-terminal: which parity each byte came under.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include "sim/sim_pty.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class SimPtyTest : public ::testing::Test {
  protected:
    SimPty pty;
    int client = -1;
    termios t{};

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(pty.Open(error)) << error;
        client = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(client, 0);
        // As the client's port does it: raw, keeping the local flags it finds.
        ASSERT_EQ(tcgetattr(client, &t), 0);
        cfmakeraw(&t);
        ASSERT_EQ(tcsetattr(client, TCSANOW, &t), 0);
        pty.Read();
    }
    void TearDown() override {
        if (client >= 0) {
            ::close(client);
        }
    }
    void Parity(bool mark) {
        t.c_cflag |= PARENB | CMSPAR | CSTOPB;
        t.c_cflag = mark ? t.c_cflag | PARODD : t.c_cflag & ~PARODD;
        ASSERT_EQ(tcsetattr(client, TCSANOW, &t), 0);
    }
    void Write(const Bytes& b) {
        ASSERT_EQ(::write(client, b.data(), b.size()), static_cast<ssize_t>(b.size()));
        usleep(2000);  // let the kernel hand the bytes to the other side
    }
    // (parity, bytes) of each piece read.
    std::vector<std::pair<SimParity, Bytes>> Read() {
        std::vector<std::pair<SimParity, Bytes>> out;
        for (const SimChunk& c : pty.Read()) {
            out.emplace_back(c.parity, c.bytes);
        }
        return out;
    }
};

const Bytes kRest = {0x02, 0x00, 0x00, 0x00, 0x07};

TEST_F(SimPtyTest, EachPieceUnderTheSettingsItWasSentWith) {
    using P = std::vector<std::pair<SimParity, Bytes>>;
    Parity(true);
    Write({0x00});
    EXPECT_EQ(Read(), (P{{SimParity::Mark, {0x00}}}));
    Parity(false);
    Write(kRest);
    EXPECT_EQ(Read(), (P{{SimParity::Space, kRest}}));
    // Nothing changed since: bytes are taken under space parity.
    Write({0x00, 0x01});
    EXPECT_EQ(Read(), (P{{SimParity::Space, {0x00, 0x01}}}));
}

TEST_F(SimPtyTest, AddressByteReadTooLateIsStillFound) {
    using P = std::vector<std::pair<SimParity, Bytes>>;
    // A previous request left the line at space parity.
    Parity(false);
    Write({0x11});
    Read();
    // The whole request is queued before this side reads anything.
    Parity(true);
    Write({0x00});
    Parity(false);
    Write(kRest);
    EXPECT_EQ(Read(), (P{{SimParity::Mark, {0x00}}, {SimParity::Space, kRest}}));
}

}  // namespace
