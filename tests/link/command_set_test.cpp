#include <gtest/gtest.h>

#include <vector>

#include "core/link/command_set.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The header as it leaves the port (byte 5 sealed the way the transaction does).
Bytes Header(const RequestFrame& f) {
    FrameHeader h = f.header;
    Crc8(h.data(), 5, h[5]);
    return Bytes(h.begin(), h.end());
}

Bytes Payload(const RequestFrame& f) {
    return Bytes(f.data.begin() + 1, f.data.begin() + 1 + f.data[0]);
}

// Everything past the payload must stay zero.
void ExpectZeroTail(const RequestFrame& f) {
    for (std::size_t i = 1 + f.data[0]; i < f.data.size(); ++i) {
        ASSERT_EQ(f.data[i], 0) << i;
    }
}

TEST(CommandSet, RequestsWithoutPayload) {
    EXPECT_EQ(Header(MakeCheckLink()), (Bytes{0x00, 0x02, 0x00, 0x00, 0x00, 0x07}));
    for (const auto& [frame, code] :
         {std::pair{MakeClearAll(), 0x01}, std::pair{MakeCheckLink(), 0x02},
          std::pair{MakeReadKeyCount(), 0x42}, std::pair{MakeReadPresentedKey(), 0x43},
          std::pair{MakeReadSettings(), 0x63}}) {
        EXPECT_EQ(frame.header[1], code);
        EXPECT_EQ(frame.header[0], 0);
        EXPECT_EQ(frame.header[2], 0);
        EXPECT_EQ(frame.header[3], 0);
        EXPECT_EQ(frame.header[4], 0);
        EXPECT_EQ(frame.data[0], 0);
        ExpectZeroTail(frame);
    }
}

TEST(CommandSet, ReadKeySlots) {
    const RequestFrame vardex = MakeReadKey(VardexSlot);
    EXPECT_EQ(Header(vardex), (Bytes{0x00, 0x61, 0x00, 0x00, 0x02, 0xA3}));
    EXPECT_EQ(Payload(vardex), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(Payload(MakeReadKey(5)), (Bytes{0x05, 0x00}));
    EXPECT_EQ(Payload(MakeReadKey(0x0102)), (Bytes{0x02, 0x01}));
    ExpectZeroTail(vardex);
}

TEST(CommandSet, WriteKeyRecords) {
    const RequestFrame store = MakeWriteKey(0x0A1B2C, true, false, KeyFiller::KeyDialog);
    EXPECT_EQ(Header(store), (Bytes{0x00, 0x22, 0x00, 0x00, 0x0C, 0xD4}));
    EXPECT_EQ(Payload(store),
              (Bytes{0x0A, 0x1B, 0x2C, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    ExpectZeroTail(store);

    EXPECT_EQ(Payload(MakeWriteKey(0x0A1B2C, false, false, KeyFiller::KeyDialog)),
              (Bytes{0x0A, 0x1B, 0x2C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Payload(MakeWriteKey(0x0A1B2C, true, false, KeyFiller::Export)),
              (Bytes{0x0A, 0x1B, 0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    const RequestFrame setVardex = MakeWriteKey(0x123456, true, true, KeyFiller::Export);
    EXPECT_EQ(setVardex.header[3], 0xFF);
    EXPECT_EQ(Payload(setVardex), (Bytes{0x12, 0x34, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // Removing the vardex is twelve 0xFF from either sender.
    for (KeyFiller filler : {KeyFiller::KeyDialog, KeyFiller::Export}) {
        const RequestFrame removeVardex = MakeWriteKey(0, false, true, filler);
        EXPECT_EQ(Header(removeVardex), (Bytes{0x00, 0x22, 0x00, 0xFF, 0x0C, 0x55}));
        EXPECT_EQ(Payload(removeVardex), Bytes(12, 0xFF));
    }

    // Only the low 24 bits of a code travel.
    EXPECT_EQ(Payload(MakeWriteKey(0xAB123456, true, false, KeyFiller::Export)),
              (Bytes{0x12, 0x34, 0x56, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CommandSet, WriteSettings) {
    const RequestFrame f = MakeWriteSettings(5, 255);
    EXPECT_EQ(f.header[1], 0x23);
    EXPECT_EQ(f.header[4], 5);
    EXPECT_EQ(Payload(f), (Bytes{5, 255, 0, 0, 0}));
}

TEST(CommandSet, ReplyDecoding) {
    FrameHeader reply{};
    FrameData data{};
    data[1] = 0x0A;
    data[2] = 0x01;
    EXPECT_EQ(DecodeKeyCount(data), 266);

    KeyCodeValue code = 77;
    EXPECT_FALSE(DecodePresentedKey(reply, data, code));
    EXPECT_EQ(code, 77u);
    reply[4] = 4;
    data = FrameData{};
    data[1] = 0x01;
    data[2] = 0x12;
    data[3] = 0x34;
    data[4] = 0x56;
    ASSERT_TRUE(DecodePresentedKey(reply, data, code));
    EXPECT_EQ(code, 1193046u);

    data = FrameData{};
    data[1] = 0x12;
    data[2] = 0x34;
    data[3] = 0x56;
    EXPECT_EQ(DecodeKey(data), 0x123456u);

    data[1] = 7;
    data[2] = 3;
    int timeOpen = 0;
    int retryRead = 0;
    DecodeSettings(data, timeOpen, retryRead);
    EXPECT_EQ(timeOpen, 7);
    EXPECT_EQ(retryRead, 3);
}

}  // namespace
