// Arbitrary reply bytes, delays and line failures fed through the scripted line into
// Transact: no crash, no access outside the frame buffers, and every outcome one of
// the result codes.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "core/link/transact.h"
#include "scripted_line.h"

namespace {

constexpr std::uint8_t Commands[] = {0x01, 0x02, 0x22, 0x23, 0x42, 0x43, 0x61, 0x63};

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) {
        return 0;
    }
    // Byte 0: command, broadcast, a failing write, an input/output failure.
    // Byte 1: request payload length. Byte 2: where the reply splits and how late its
    // second part comes. The rest: the reply bytes as they arrive.
    const std::uint8_t control = data[0];
    const std::uint8_t payloadLength = data[1];
    const std::uint8_t timing = data[2];
    const ByteVector reply(data + 3, data + size);

    // Each buffer on the heap by itself, so any access past it is caught.
    auto request = std::make_unique<FrameHeader>();
    auto requestData = std::make_unique<FrameData>();
    auto replyHeader = std::make_unique<FrameHeader>();
    auto replyData = std::make_unique<FrameData>();
    (*request)[0] = (control & 0x08) ? 0xFF : 0x00;
    (*request)[1] = Commands[control & 0x07];
    (*request)[4] = payloadLength;
    for (int i = 1; i <= payloadLength; ++i) {
        (*requestData)[i] = static_cast<std::uint8_t>(i * 31);
    }

    ScriptedLine line;
    if (control & 0x10) {
        line.failWriteAt = 1 + (control >> 5) % 3;
    }
    const std::size_t split = std::min<std::size_t>(reply.size(), (timing & 0x0F) * 2);
    ScriptedReply scripted;
    scripted.bytes.assign(reply.begin(), reply.begin() + static_cast<std::ptrdiff_t>(split));
    scripted.tail.assign(reply.begin() + static_cast<std::ptrdiff_t>(split), reply.end());
    scripted.tailDelayMs = (timing >> 4) * 400;  // up to 6 s: beyond either time-out
    scripted.ioError = (control & 0xE0) == 0xE0;
    line.QueueReply(scripted);

    const int result = Transact(line, *request, *requestData, *replyData, *replyHeader);
    Require(result == NotRun || result == Ok || result == WriteFailed || result == ReadFailed ||
            result == TimedOut);
    std::uint8_t crc = 0;
    Crc8(request->data(), 5, crc);
    Require((*request)[5] == crc && (*requestData)[0] == payloadLength);
    if (result == Ok && (*request)[0] != 0xFF && (*replyHeader)[2] == 0 && (*replyHeader)[4] != 0) {
        // Success with a payload: the whole payload and a matching CRC were read.
        const int m = (*replyHeader)[4];
        Crc8(replyData->data() + 1, m, crc);
        Require((*replyData)[0] == m && crc == (*replyData)[m + 1]);
    }
    return 0;
}
