#include <gtest/gtest.h>

#include "core/link/frame.h"
#include "core/link/line.h"

namespace {

// Bitwise 1-Wire CRC-8, independent of the table.
std::uint8_t BitwiseCrc(const std::uint8_t* bytes, int length) {
    std::uint8_t crc = 0;
    for (int i = 0; i < length; ++i) {
        std::uint8_t b = bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            const bool mix = ((crc ^ b) & 1) != 0;
            crc >>= 1;
            if (mix) {
                crc ^= 0x8C;
            }
            b >>= 1;
        }
    }
    return crc;
}

TEST(Crc8, KnownVectors) {
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    std::uint8_t crc = 0;
    ASSERT_TRUE(Crc8(digits, 9, crc));
    EXPECT_EQ(crc, 0xA1);
    EXPECT_EQ(_dscrc_table[1], 0x5E);
    EXPECT_EQ(_dscrc_table[2], 0xBC);

    const std::uint8_t header[] = {0x00, 0x02, 0x00, 0x00, 0x00};
    ASSERT_TRUE(Crc8(header, 5, crc));
    EXPECT_EQ(crc, 0x07);
    const std::uint8_t slot[] = {0xFF, 0xFF};
    ASSERT_TRUE(Crc8(slot, 2, crc));
    EXPECT_EQ(crc, 0xB4);
}

TEST(Crc8, TableMatchesBitwiseForEveryByte) {
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t b = static_cast<std::uint8_t>(i);
        EXPECT_EQ(_dscrc_table[i], BitwiseCrc(&b, 1)) << i;
    }
}

TEST(Crc8, NothingToCheckLeavesOutputAlone) {
    const std::uint8_t bytes[] = {1, 2, 3};
    std::uint8_t crc = 0x5A;
    EXPECT_FALSE(Crc8(bytes, 0, crc));
    EXPECT_FALSE(Crc8(bytes, -1, crc));
    EXPECT_FALSE(Crc8(nullptr, 3, crc));
    EXPECT_EQ(crc, 0x5A);
}

TEST(ResultText, EveryCode) {
    EXPECT_EQ(ResultText(NotRun), "OK");
    EXPECT_EQ(ResultText(Ok), "OK");
    EXPECT_EQ(ResultText(WriteFailed), "Ошибка записи в контроллер");
    EXPECT_EQ(ResultText(ReadFailed), "Ошибка чтения из контроллера");
    EXPECT_EQ(ResultText(BadLink), "Ошибка чтения из контроллера (плохая связь)");
    EXPECT_EQ(ResultText(TimedOut),
              "Истекло время ожидания ответа от контроллера.\rВозможно контроллер не подключен");
    EXPECT_EQ(ResultText(StrayBytes), "На линии были байты, которых никто не ждал");
    EXPECT_EQ(ResultText(6), "");
    EXPECT_EQ(ResultText(-2), "");
}

TEST(WaitCharsMs, TransactionWaits) {
    EXPECT_EQ(WaitCharsMs(2), 4);
    EXPECT_EQ(WaitCharsMs(7), 10);
    EXPECT_EQ(WaitCharsMs(3), 5);    // 2-byte payload + CRC
    EXPECT_EQ(WaitCharsMs(6), 9);    // 5-byte payload + CRC
    EXPECT_EQ(WaitCharsMs(13), 17);  // 12-byte payload + CRC
    EXPECT_EQ(WaitCharsMs(100), 116);
}

}  // namespace
