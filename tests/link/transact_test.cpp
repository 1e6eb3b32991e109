#include <gtest/gtest.h>

#include "core/link/command_set.h"
#include "core/link/transact.h"
#include "scripted_line.h"

namespace {

using Names = std::vector<std::string>;

struct Exchange {
    RequestFrame request;
    FrameData replyData{};
    FrameHeader reply{};

    int Run(ScriptedLine& line) {
        return Transact(line, request.header, request.data, replyData, reply);
    }
};

// The header part every transaction starts with.
Names RequestOps(const std::string& header) {
    return {"purge rx tx", "dtr off",      "wait 4",          "parity mark", "write 00",
            "wait 4",      "parity space", "write " + header, "wait 10"};
}

Names Join(Names a, const Names& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(Transact, CheckLinkOrderTimesAndReply) {
    ScriptedLine line;
    line.QueueReply({ReplyFrame(0x02), 3});
    Exchange x{MakeCheckLink()};
    EXPECT_EQ(x.Run(line), Ok);
    EXPECT_EQ(line.OpNames(),
              Join(RequestOps("02 00 00 00 07"), {"dtr on", "wait 116", "read 6 within 1000"}));
    // 4 + 4 + 10 ms of request, 116 ms of turnaround, then the reply's own delay.
    const auto ops = line.Ops();
    EXPECT_EQ(ops[4].atMs, 4);     // address after DTR off + 4 ms
    EXPECT_EQ(ops[7].atMs, 8);     // header rest 4 ms after the address
    EXPECT_EQ(ops[9].atMs, 18);    // DTR on 10 ms after the header
    EXPECT_EQ(ops[11].atMs, 134);  // reply read after 116 ms
    EXPECT_EQ(line.NowMs(), 134);  // the reply came 3 ms after DTR on: already there
    EXPECT_EQ(x.request.header, (FrameHeader{0x00, 0x02, 0x00, 0x00, 0x00, 0x07}));
    EXPECT_EQ(x.reply, (FrameHeader{0x00, 0x02, 0x00, 0x00, 0x00, 0x07}));
}

TEST(Transact, PayloadBothWaysWithCrcs) {
    ScriptedLine line;
    line.QueueReply({ReplyFrame(0x61, {0x12, 0x34, 0x56})});
    Exchange x{MakeReadKey(VardexSlot)};
    EXPECT_EQ(x.Run(line), Ok);
    EXPECT_EQ(line.OpNames(),
              Join(RequestOps("61 00 00 02 A3"), {"write FF FF B4", "wait 5", "dtr on", "wait 116",
                                                  "read 6 within 1000", "read 4 within 1000"}));
    EXPECT_EQ(line.Ops()[9].atMs, 18);  // payload right after the 10 ms header wait
    EXPECT_EQ(x.request.data[0], 2);
    EXPECT_EQ(x.request.data[3], 0xB4);
    EXPECT_EQ(x.replyData[0], 3);
    EXPECT_EQ(DecodeKey(x.replyData), 0x123456u);
}

TEST(Transact, TwelveBytePayloadSendsNineteenBytes) {
    ScriptedLine line;
    line.QueueReply({ReplyFrame(0x22)});
    Exchange x{MakeWriteKey(0x0A1B2C, true, false, KeyFiller::KeyDialog)};
    EXPECT_EQ(x.Run(line), Ok);
    const ByteVector sent = line.Written();
    ASSERT_EQ(sent.size(), 19u);
    EXPECT_EQ(ByteVector(sent.begin(), sent.begin() + 6),
              (ByteVector{0x00, 0x22, 0x00, 0x00, 0x0C, 0xD4}));
    std::uint8_t crc = 0;
    Crc8(sent.data() + 6, 12, crc);
    EXPECT_EQ(sent[18], crc);
    EXPECT_EQ(line.OpNames()[10], "wait 17");
}

TEST(Transact, TimeOuts) {
    ScriptedLine line;
    Exchange check{MakeCheckLink()};
    EXPECT_EQ(check.Run(line), TimedOut);
    EXPECT_EQ(line.NowMs(), 18 + 116 + 1000);

    ScriptedLine clearLine;
    Exchange clear{MakeClearAll()};
    EXPECT_EQ(clear.Run(clearLine), TimedOut);
    EXPECT_EQ(clearLine.OpNames().back(), "read 6 within 5000");
    EXPECT_EQ(clearLine.NowMs(), 18 + 116 + 5000);

    // A reply later than the time-out is as good as none.
    ScriptedLine lateLine;
    lateLine.QueueReply({ReplyFrame(0x02), 116 + 1001});
    Exchange late{MakeCheckLink()};
    EXPECT_EQ(late.Run(lateLine), TimedOut);

    // The payload read gets a full time-out of its own, and misses it here.
    ScriptedLine shortLine;
    ByteVector truncated = ReplyFrame(0x42, {0x0A, 0x01});
    truncated.pop_back();
    shortLine.QueueReply({truncated});
    Exchange count{MakeReadKeyCount()};
    EXPECT_EQ(count.Run(shortLine), TimedOut);
    EXPECT_EQ(shortLine.NowMs(), 134 + 1000);
}

TEST(Transact, BroadcastReadsNothing) {
    ScriptedLine line;
    line.QueueReply({ReplyFrame(0x02)});
    Exchange x{MakeCheckLink()};
    x.request.header[0] = 0xFF;
    EXPECT_EQ(x.Run(line), Ok);
    EXPECT_EQ(line.OpNames().back(), "dtr on");
}

TEST(Transact, BadHeaderCrcSkipsPayload) {
    ScriptedLine line;
    ByteVector frame = ReplyFrame(0x61, {1, 2, 3});
    frame[5] ^= 0x01;
    line.QueueReply({frame});
    Exchange x{MakeReadKey(0)};
    EXPECT_EQ(x.Run(line), ReadFailed);
    EXPECT_EQ(line.OpNames().back(), "read 6 within 1000");
}

TEST(Transact, NonZeroStatusIsOkWithoutPayload) {
    ScriptedLine line;
    ByteVector frame = {0x00, 0x61, 0x01, 0x00, 0x03, 0x00};
    Crc8(frame.data(), 5, frame[5]);
    line.QueueReply({frame});
    Exchange x{MakeReadKey(0)};
    x.replyData[1] = 0x77;
    EXPECT_EQ(x.Run(line), Ok);
    EXPECT_EQ(line.OpNames().back(), "read 6 within 1000");
    EXPECT_EQ(x.replyData[0], 0);
    EXPECT_EQ(x.replyData[1], 0x77);  // left as it was
}

TEST(Transact, BadPayloadCrcKeepsWhatWasRead) {
    ScriptedLine line;
    ByteVector frame = ReplyFrame(0x61, {1, 2, 3});
    frame.back() ^= 0xFF;
    line.QueueReply({frame});
    Exchange x{MakeReadKey(0)};
    EXPECT_EQ(x.Run(line), ReadFailed);
    EXPECT_EQ(x.reply[4], 3);
    EXPECT_EQ(x.replyData[0], 3);
    EXPECT_EQ(x.replyData[3], 3);
}

TEST(Transact, ReadAndWriteFailures) {
    ScriptedLine ioLine;
    ioLine.QueueReply({{}, 0, true});
    Exchange read{MakeCheckLink()};
    EXPECT_EQ(read.Run(ioLine), ReadFailed);

    // Each of the three writes: nothing more is sent, DTR stays off.
    for (int failing = 1; failing <= 3; ++failing) {
        ScriptedLine line;
        line.failWriteAt = failing;
        Exchange x{MakeReadKey(1)};
        EXPECT_EQ(x.Run(line), WriteFailed) << failing;
        const Names ops = line.OpNames();
        EXPECT_EQ(ops.back().rfind("write", 0), 0u) << failing;
        EXPECT_EQ(std::count(ops.begin(), ops.end(), "dtr on"), 0) << failing;
    }
}

// Bytes on the line before a request are purged unseen, or, when asked for, end the
// request unsent with those bytes (a scan lists them).
TEST(Transact, StaleBytesArePurgedOrReported) {
    for (const bool report : {false, true}) {
        SCOPED_TRACE(report);
        ScriptedLine line;
        line.InjectInput({0xAA, 0x55, 0x00});
        line.QueueReply({ReplyFrame(0x02)});
        Exchange x{MakeCheckLink()};
        const int result =
            Transact(line, x.request.header, x.request.data, x.replyData, x.reply, 0, report);
        if (!report) {
            EXPECT_EQ(result, Ok);
            continue;
        }
        EXPECT_EQ(result, StrayBytes);
        EXPECT_EQ(x.reply, (FrameHeader{0xAA, 0x55, 0x00, 0, 0, 0}));
        EXPECT_TRUE(line.Written().empty());
        // They are gone: the request goes out the next time.
        EXPECT_EQ(x.Run(line), Ok);
    }
}

}  // namespace
