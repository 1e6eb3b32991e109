// A line of several virtual controllers, driven in-process: each answers only its own
// address, a broadcast is carried out by all and answered by none, and two controllers
// on one address answer together so that neither reply survives.
#include <gtest/gtest.h>

#include "core/link/command_set.h"
#include "core/link/frame.h"
#include "sim/sim_line.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Wire(RequestFrame frame, std::uint8_t address) {
    frame.header[0] = address;
    Bytes b(frame.header.begin(), frame.header.end());
    Crc8(b.data(), 5, b[5]);
    const int n = frame.header[4];
    if (n > 0) {
        b.insert(b.end(), frame.data.begin() + 1, frame.data.begin() + 1 + n);
        std::uint8_t crc = 0;
        Crc8(b.data() + 6, n, crc);
        b.push_back(crc);
    }
    return b;
}

SimState Keys(std::vector<std::uint32_t> keys) {
    SimState s;
    s.keys = std::move(keys);
    return s;
}

class SimLineTest : public ::testing::Test {
  protected:
    SimLine line;
    double now = 0;

    SimExchange Send(const RequestFrame& frame, std::uint8_t address) {
        const Bytes b = Wire(frame, address);
        now += 500;
        SimChunk mark{now, SimParity::Mark, false, "", {b[0]}};
        SimChunk space{now + 4, SimParity::Space, false, "", Bytes(b.begin() + 1, b.end())};
        auto out = line.Receive(mark);
        auto more = line.Receive(space);
        out.insert(out.end(), more.begin(), more.end());
        EXPECT_EQ(out.size(), 1u);
        return out.empty() ? SimExchange{} : out.back();
    }
};

TEST_F(SimLineTest, EachControllerAnswersOnlyItsOwnAddress) {
    line.Add(1, Keys({11}));
    line.Add(2, Keys({21, 22}));
    line.Add(7, Keys({71, 72, 73}));
    struct Case {
        std::uint8_t address;
        bool answered;
        int count;
    };
    for (const Case& c : {Case{1, true, 1}, Case{2, true, 2}, Case{7, true, 3}, Case{0, false, 0},
                          Case{9, false, 0}}) {
        SCOPED_TRACE(static_cast<int>(c.address));
        const SimExchange ex = Send(MakeReadKeyCount(), c.address);
        ASSERT_EQ(ex.answered, c.answered) << ex.verdict;
        if (!c.answered)
            continue;
        ASSERT_EQ(ex.reply.size(), 6u + 2u + 1u);
        EXPECT_EQ(ex.reply[0], c.address);  // the reply names who sent it
        std::uint8_t crc = 0;
        Crc8(ex.reply.data(), 5, crc);
        EXPECT_EQ(crc, ex.reply[5]);
        EXPECT_EQ(ex.reply[6], c.count);
        EXPECT_EQ(ex.verdict.rfind(std::string(c.address < 10 ? "0" : "") +
                                       std::to_string(c.address) + " ok: key count",
                                   0),
                  0u)
            << ex.verdict;
    }
    // A write for one controller leaves the others as they were.
    Send(MakeWriteKey(0x123456, true, false, KeyFiller::Export), 2);
    EXPECT_EQ(line.AtAddress(2).front()->State().keys,
              (std::vector<std::uint32_t>{21, 22, 0x123456}));
    EXPECT_EQ(line.AtAddress(1).front()->State().keys, (std::vector<std::uint32_t>{11}));
    EXPECT_EQ(line.AtAddress(7).front()->State().keys.size(), 3u);
}

TEST_F(SimLineTest, BroadcastCarriedOutByAllAnsweredByNone) {
    line.Add(1);
    line.Add(2);
    line.Add(7);
    const SimExchange ex = Send(MakeWriteSettings(9, 4), 0xFF);
    EXPECT_FALSE(ex.answered);
    EXPECT_TRUE(ex.valid);
    for (std::size_t i = 0; i < line.Size(); ++i) {
        EXPECT_EQ(line.At(i).State().timeOpen, 9);
        EXPECT_EQ(line.At(i).State().retryRead, 4);
    }
}

TEST_F(SimLineTest, TwoControllersOnOneAddressCollide) {
    // Even two controllers that say the same thing garble each other.
    line.Add(1);
    line.Add(5, Keys({1, 2}));
    line.Add(5, Keys({1, 2}));
    for (const RequestFrame& r : {MakeCheckLink(), MakeReadKeyCount(), MakeReadKey(0)}) {
        const SimExchange ex = Send(r, 5);
        ASSERT_TRUE(ex.answered);
        EXPECT_NE(ex.verdict.find("2 replies collide"), std::string::npos) << ex.verdict;
        ASSERT_GE(ex.reply.size(), 7u);  // one character longer than either reply
        std::uint8_t crc = 0;
        Crc8(ex.reply.data(), 5, crc);
        EXPECT_NE(crc, ex.reply[5]);
    }
    // One of them silent: the other is heard whole.
    line.AtAddress(5)[1]->SetFault(SimFault::Silence);
    const SimExchange alone = Send(MakeCheckLink(), 5);
    ASSERT_TRUE(alone.answered);
    EXPECT_EQ(alone.reply.size(), 6u);
}

TEST(SimLineCollide, CheckByteNeverHolds) {
    // Every pair of headers, shifted by a character: the header read fails its check.
    for (int a = 0; a < 256; a += 5) {
        for (int b = 0; b < 256; b += 7) {
            Bytes first = {static_cast<std::uint8_t>(a), 0x02, 0, 0, 0, 0};
            Bytes second = {static_cast<std::uint8_t>(b), 0x02, 0, 0, 0, 0};
            Crc8(first.data(), 5, first[5]);
            Crc8(second.data(), 5, second[5]);
            const Bytes line = SimLine::Collide(first, second);
            std::uint8_t crc = 0;
            Crc8(line.data(), 5, crc);
            ASSERT_NE(crc, line[5]) << a << " " << b;
        }
    }
}

}  // namespace
