// Frames exchanged with the controller: the 6-byte header, the payload buffers,
// the CRC-8 that protects both, and the result code of one transaction.
#pragma once

#include <array>
#include <cstdint>
#include <string>

// Result of one request. -1 and 0 both count as success everywhere.
enum TErrorPort : std::int32_t {
    NotRun = -1,
    Ok = 0,
    WriteFailed = 1,
    ReadFailed = 2,
    BadLink = 3,
    TimedOut = 4,
};

// Address, command, status, record selector, payload length, CRC-8 of bytes 0..4.
using FrameHeader = std::array<std::uint8_t, 6>;
// Byte 0 is the payload length, then the payload, then room for its CRC byte.
using FrameData = std::array<std::uint8_t, 258>;

// The 1-Wire (Dallas/Maxim) CRC-8 table, reflected polynomial 0x8C.
extern const std::uint8_t _dscrc_table[256];

// CRC-8 of `length` bytes. False, and `crc` untouched, for no bytes or length <= 0.
bool Crc8(const std::uint8_t* bytes, int length, std::uint8_t& crc);

// The operator's text for a result code (UTF-8; "\r" marks a line break).
std::string ResultText(int code);
