// Requests and reply decoding of the controller's eight commands.
#pragma once

#include <cstdint>

#include "core/link/frame.h"
#include "core/link/requester.h"

using KeyCodeValue = std::uint32_t;  // same as KeyCode of the key layer

enum CommandCode : std::uint8_t {
    ClearAll = 0x01,
    CheckLink = 0x02,
    WriteKey = 0x22,
    WriteSettings = 0x23,
    ReadKeyCount = 0x42,
    ReadPresentedKey = 0x43,
    ReadKey = 0x61,
    ReadSettings = 0x63,
};

constexpr std::uint16_t VardexSlot = 0xFFFF;

// One request as a sender builds it: header (byte 5 is filled by Transact) and data.
struct RequestFrame {
    FrameHeader header{};
    FrameData data{};
    RequestOptions options{};  // how it is carried: the usual unless a job says otherwise
};

// Filler bytes p[6..11] differ between the key dialog (0xFF) and the export (0x00).
enum class KeyFiller : std::uint8_t { KeyDialog = 0xFF, Export = 0x00 };

RequestFrame MakeClearAll();
RequestFrame MakeCheckLink();
// store = true writes the record (p[3..5] = 00), false removes it (FF FF FF).
// vardex selects record 0xFF. Removing the vardex sends twelve 0xFF.
RequestFrame MakeWriteKey(KeyCodeValue code, bool store, bool vardex, KeyFiller filler);
RequestFrame MakeWriteSettings(int timeOpen, int retryRead);
RequestFrame MakeReadKeyCount();
RequestFrame MakeReadPresentedKey();
RequestFrame MakeReadKey(std::uint16_t slot);
RequestFrame MakeReadSettings();

// Reply decoding. Payload bytes the controller did not send read as 0.
int DecodeKeyCount(const FrameData& replyData);  // 0x42
bool DecodePresentedKey(const FrameHeader& reply, const FrameData& replyData,
                        KeyCodeValue& code);         // 0x43: false = no key yet
KeyCodeValue DecodeKey(const FrameData& replyData);  // 0x61
void DecodeSettings(const FrameData& replyData, int& timeOpen, int& retryRead);  // 0x63
