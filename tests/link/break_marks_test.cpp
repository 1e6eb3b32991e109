// A break on the line, marked by the driver, fails the read; a doubled FF reads as one.
// A pseudo-terminal cannot make a break, so the marked bytes go through the decoder the
// port uses; FF on a pseudo-terminal is read through the real port.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include "core/link/break_marks.h"
#include "core/link/serial_port.h"
#include "scripted_line.h"

namespace {

// The decoder is what TSerialPort feeds every byte through when the driver marks breaks
// (a real adapter; a pseudo-terminal has no breaks and no marking).
std::vector<std::uint8_t> Decoded(TBreakMarkDecoder& d, const std::vector<std::uint8_t>& raw,
                                  bool& ok) {
    std::vector<std::uint8_t> out(raw.size());
    int produced = 0;
    ok = d.Feed(raw.data(), static_cast<int>(raw.size()), out.data(), produced);
    out.resize(static_cast<std::size_t>(produced));
    return out;
}

TEST(BreakMarks, BreakFailsTheReadAndDoubledFfIsOneByte) {
    bool ok = false;
    {
        // A reply whose payload and CRC hold FF, doubled by the driver.
        TBreakMarkDecoder d;
        EXPECT_EQ(Decoded(d, {0x00, 0x02, 0xFF, 0xFF, 0x12, 0xFF, 0xFF}, ok),
                  (std::vector<std::uint8_t>{0x00, 0x02, 0xFF, 0x12, 0xFF}));
        EXPECT_TRUE(ok);
        EXPECT_FALSE(d.Pending());
    }
    {
        // A break and then zeros: six zero bytes would pass a header CRC, the break not.
        TBreakMarkDecoder d;
        Decoded(d, {0xFF, 0x00, 0x00, 0, 0, 0, 0, 0, 0}, ok);
        EXPECT_FALSE(ok);
    }
    {
        // A break inside a payload.
        TBreakMarkDecoder d;
        Decoded(d, {0x00, 0x02, 0x00, 0x00, 0x03, 0x01, 0xFF, 0x00, 0x00, 0x02}, ok);
        EXPECT_FALSE(ok);
    }
}

// On a pseudo-terminal (no breaks there) FF reads as it comes; a request bound to an
// earlier open of the port does not go out over a later one.
TEST(BreakMarks, SerialPortReadsFfAndKeepsToItsOpen) {
    int master = -1, slave = -1;
    char name[128] = {};
    ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
    TSerialPort port;
    std::string error;
    ASSERT_TRUE(port.Open(name, error)) << error;
    const std::uint8_t reply[] = {0xFF, 0x01, 0xFF};
    ASSERT_EQ(write(master, reply, 3), 3);
    std::uint8_t in[3] = {};
    int read = 0;
    EXPECT_EQ(port.ReadBytes(in, 3, 1000, read), 0);
    EXPECT_EQ(ByteVector(in, in + read), (ByteVector{0xFF, 0x01, 0xFF}));

    const std::uint64_t first = port.Generation();
    port.Bind(first);
    int written = 0;
    EXPECT_EQ(port.WriteBytes(reply, 1, written), 0);
    port.Close();
    ASSERT_TRUE(port.Open(name, error)) << error;
    EXPECT_NE(port.Generation(), first);
    EXPECT_EQ(port.WriteBytes(reply, 1, written), 1);
    EXPECT_EQ(port.ReadBytes(in, 1, 10, read), 2);
    port.Bind(0);
    EXPECT_EQ(port.WriteBytes(reply, 1, written), 0);
    port.Close();
    close(master);
    close(slave);
}

}  // namespace
