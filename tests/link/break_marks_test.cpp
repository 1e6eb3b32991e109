// A break on the line, marked by the driver, fails the read; a doubled FF reads as one.
// A pseudo-terminal cannot make a break, so the marked bytes come from a scripted line;
// the doubling a pseudo-terminal does make is read through the real port.
#include <gtest/gtest.h>

#include <pty.h>
#include <unistd.h>

#include "core/link/break_marks.h"
#include "core/link/serial_port.h"
#include "core/link/transact.h"
#include "scripted_line.h"

namespace {

// As the driver delivers it: every FF of `bytes` doubled.
ByteVector Marked(const ByteVector& bytes) {
    ByteVector out;
    for (std::uint8_t b : bytes) {
        out.push_back(b);
        if (b == 0xFF)
            out.push_back(0xFF);
    }
    return out;
}

int RunOn(ScriptedLine& raw, ScriptedReply reply, FrameData& replyData) {
    TBreakMarkedLine line(raw, [&raw] { return raw.NowMs(); });
    raw.QueueReply(std::move(reply));
    FrameHeader request = {0x00, 0x02, 0x00, 0x00, 0x00, 0x00};
    FrameData requestData{};
    FrameHeader header{};
    replyData.fill(0);
    return Transact(line, request, requestData, replyData, header);
}

TEST(BreakMarks, BreakIsAReadFailureAndDoubledFfIsOneByte) {
    ScriptedLine raw;
    FrameData data{};
    // A reply whose payload and CRC hold FF, doubled by the driver, split in the middle
    // of a doubled FF: read as the reply it is.
    const ByteVector frame = ReplyFrame(0x02, {0xFF, 0x12, 0xFF});
    const ByteVector marked = Marked(frame);
    const auto split = static_cast<std::ptrdiff_t>(7);  // after the first FF of the payload
    ASSERT_EQ(marked[6], 0xFF);
    ScriptedReply reply;
    reply.bytes.assign(marked.begin(), marked.begin() + split);
    reply.delayMs = 5;
    reply.tail.assign(marked.begin() + split, marked.end());
    reply.tailDelayMs = 20;
    EXPECT_EQ(RunOn(raw, reply, data), Ok);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(ByteVector(data.begin() + 1, data.begin() + 4), (ByteVector{0xFF, 0x12, 0xFF}));

    // A break and then zeros: six zero bytes pass the header CRC, but the break fails it.
    EXPECT_EQ(RunOn(raw, {{0xFF, 0x00, 0x00, 0, 0, 0, 0, 0, 0}, 5}, data), ReadFailed);
    // A break inside the payload too.
    ByteVector broken = Marked(ReplyFrame(0x02, {1, 2, 3}));
    broken.insert(broken.begin() + 7, {0xFF, 0x00, 0x00});
    EXPECT_EQ(RunOn(raw, {broken, 5}, data), ReadFailed);
    // A genuine reply without payload still reads as zeros.
    EXPECT_EQ(RunOn(raw, {ReplyFrame(0x02), 5}, data), Ok);
}

TEST(BreakMarks, DecoderKeepsAMarkSplitBetweenReads) {
    TBreakMarkDecoder d;
    std::uint8_t out[8] = {};
    int produced = 0;
    const std::uint8_t a[] = {1, 0xFF};
    const std::uint8_t b[] = {0xFF, 2, 0xFF};
    const std::uint8_t c[] = {0x00};
    const std::uint8_t e[] = {0x00};
    EXPECT_TRUE(d.Feed(a, 2, out, produced));
    EXPECT_TRUE(d.Pending());
    EXPECT_TRUE(d.Feed(b, 3, out, produced));
    EXPECT_EQ(ByteVector(out, out + produced), (ByteVector{1, 0xFF, 2}));
    EXPECT_TRUE(d.Feed(c, 1, out, produced));
    EXPECT_FALSE(d.Feed(e, 1, out, produced));
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
