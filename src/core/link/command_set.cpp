#include "core/link/command_set.h"

namespace {

// All bytes zero, then the command, the record selector and the payload length.
RequestFrame MakeRequest(CommandCode command, std::uint8_t record, std::uint8_t length) {
    RequestFrame frame;
    frame.header[1] = command;
    frame.header[3] = record;
    frame.header[4] = length;
    frame.data[0] = length;
    return frame;
}

// Payload byte i lives at data byte i + 1.
void PutKeyCode(FrameData& data, int at, KeyCodeValue code) {
    data[at + 1] = static_cast<std::uint8_t>((code >> 16) & 0xFF);
    data[at + 2] = static_cast<std::uint8_t>((code >> 8) & 0xFF);
    data[at + 3] = static_cast<std::uint8_t>(code & 0xFF);
}

KeyCodeValue GetKeyCode(const FrameData& data, int at) {
    return static_cast<KeyCodeValue>(data[at + 1]) << 16 |
           static_cast<KeyCodeValue>(data[at + 2]) << 8 | static_cast<KeyCodeValue>(data[at + 3]);
}

}  // namespace

RequestFrame MakeClearAll() {
    return MakeRequest(ClearAll, 0x00, 0);
}

RequestFrame MakeCheckLink() {
    return MakeRequest(CheckLink, 0x00, 0);
}

RequestFrame MakeWriteKey(KeyCodeValue code, bool store, bool vardex, KeyFiller filler) {
    RequestFrame frame = MakeRequest(WriteKey, vardex ? 0xFF : 0x00, 12);
    if (vardex && !store) {
        // The vardex record is removed by a record of all ones, whoever sends it.
        for (int i = 1; i <= 12; ++i) {
            frame.data[i] = 0xFF;
        }
        return frame;
    }
    PutKeyCode(frame.data, 0, code);
    const std::uint8_t action = store ? 0x00 : 0xFF;
    for (int i = 3; i < 6; ++i) {
        frame.data[i + 1] = action;
    }
    for (int i = 6; i < 12; ++i) {
        frame.data[i + 1] = static_cast<std::uint8_t>(filler);
    }
    return frame;
}

RequestFrame MakeWriteSettings(int timeOpen, int retryRead) {
    RequestFrame frame = MakeRequest(WriteSettings, 0x00, 5);
    frame.data[1] = static_cast<std::uint8_t>(timeOpen & 0xFF);
    frame.data[2] = static_cast<std::uint8_t>(retryRead & 0xFF);
    return frame;
}

RequestFrame MakeReadKeyCount() {
    return MakeRequest(ReadKeyCount, 0x00, 0);
}

RequestFrame MakeReadPresentedKey() {
    return MakeRequest(ReadPresentedKey, 0x00, 0);
}

RequestFrame MakeReadKey(std::uint16_t slot) {
    RequestFrame frame = MakeRequest(ReadKey, 0x00, 2);
    frame.data[1] = static_cast<std::uint8_t>(slot & 0xFF);
    frame.data[2] = static_cast<std::uint8_t>(slot >> 8);
    return frame;
}

RequestFrame MakeReadSettings() {
    return MakeRequest(ReadSettings, 0x00, 0);
}

int DecodeKeyCount(const FrameData& replyData) {
    return replyData[1] | replyData[2] << 8;
}

bool DecodePresentedKey(const FrameHeader& reply, const FrameData& replyData, KeyCodeValue& code) {
    if (reply[4] == 0) {
        return false;  // nobody at the reader yet
    }
    code = GetKeyCode(replyData, 1);
    return true;
}

KeyCodeValue DecodeKey(const FrameData& replyData) {
    return GetKeyCode(replyData, 0);
}

void DecodeSettings(const FrameData& replyData, int& timeOpen, int& retryRead) {
    timeOpen = replyData[1];
    retryRead = replyData[2];
}
