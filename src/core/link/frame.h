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
    // Bytes were on the line before the request went out: a reply nobody waited for (one
    // that came after its time-out) or noise. Only a request that asks for it
    // (RequestOptions::reportStrayBytes) ends so, unsent, with those bytes as its reply;
    // every other request purges them unseen.
    StrayBytes = 5,
};

// The controller answered and refused the request: the reply's status (byte 2) was not 0.
// Such a result carries the status, RefusedBase + status (0x101 to 0x1FF), and is a
// failure like the codes above; its text is "Контроллер отказал (состояние 0xNN)".
constexpr int RefusedBase = 0x100;
constexpr int RefusedResult(std::uint8_t status) {
    return RefusedBase + status;
}
constexpr bool IsRefusal(int code) {
    return code > RefusedBase && code <= RefusedBase + 0xFF;
}

// Address, command, status, record selector, payload length, CRC-8 of bytes 0..4.
using FrameHeader = std::array<std::uint8_t, 6>;
// Byte 0 is the payload length, then the payload, then room for its CRC byte.
using FrameData = std::array<std::uint8_t, 258>;

// The 1-Wire (Dallas/Maxim) CRC-8 table, reflected polynomial 0x8C.
extern const std::uint8_t _dscrc_table[256];

// CRC-8 of `length` bytes. False, and `crc` untouched, for no bytes or length <= 0.
bool Crc8(const std::uint8_t* bytes, int length, std::uint8_t& crc);

// The outcome of a completed request as its requester must take it: a success whose reply
// carries a non-zero status is the controller's refusal (RefusedResult), anything else the
// result as it came.
int RequestOutcome(int result, const FrameHeader& reply);

// The operator's text for a result code (UTF-8; "\r" marks a line break).
std::string ResultText(int code);
