#include "core/link/transact.h"

#include <exception>

namespace {

constexpr std::uint8_t BroadcastAddress = 0xFF;
constexpr std::uint8_t ClearAllCode = 0x01;
constexpr int ClearAllTimeoutMs = 5000;
constexpr int ReplyTimeoutMs = 1000;

int Run(TLine& link, FrameHeader& Request, FrameData& RequestData, FrameData& ReplyData,
        FrameHeader& Reply, int replyTimeoutMs, bool reportStray) {
    Crc8(Request.data(), 5, Request[5]);
    const int n = Request[4];
    RequestData[0] = static_cast<std::uint8_t>(n);

    if (reportStray) {
        // What is already there, without waiting for more.
        FrameHeader stray{};
        int read = 0;
        link.ReadBytes(stray.data(), static_cast<int>(stray.size()), 0, read);
        if (read > 0) {
            Reply = stray;
            link.Purge(true, true);
            return StrayBytes;
        }
    }
    link.Purge(true, true);
    link.SetDtr(false);
    link.WaitChars(2);

    // 9-bit addressing: the address alone with the ninth bit set, the rest with it clear.
    int written = 0;
    link.SetParity(true);
    if (link.WriteBytes(Request.data(), 1, written) != 0) {
        return WriteFailed;
    }
    link.WaitChars(2);
    link.SetParity(false);
    if (link.WriteBytes(Request.data() + 1, 5, written) != 0) {
        return WriteFailed;
    }
    link.WaitChars(7);

    if (n > 0) {
        Crc8(RequestData.data() + 1, n, RequestData[n + 1]);
        if (link.WriteBytes(RequestData.data() + 1, n + 1, written) != 0) {
            return WriteFailed;
        }
        link.WaitChars(n + 1);
    }
    link.SetDtr(true);

    if (Request[0] == BroadcastAddress) {
        return Ok;  // nobody answers a broadcast
    }
    link.WaitChars(100);
    const int timeoutMs = replyTimeoutMs > 0           ? replyTimeoutMs
                          : Request[1] == ClearAllCode ? ClearAllTimeoutMs
                                                       : ReplyTimeoutMs;

    int read = 0;
    const int headerResult = link.ReadBytes(Reply.data(), 6, timeoutMs, read);
    if (headerResult != 0) {
        return headerResult == TimedOut ? TimedOut : ReadFailed;
    }
    std::uint8_t crc = 0;
    Crc8(Reply.data(), 5, crc);
    if (crc != Reply[5]) {
        return ReadFailed;
    }
    if (Reply[2] != 0) {
        return Ok;  // the controller refused; any announced payload is not read
    }
    const int m = Reply[4];
    if (m == 0) {
        return Ok;
    }
    const int payloadResult = link.ReadBytes(ReplyData.data() + 1, m + 1, timeoutMs, read);
    if (payloadResult != 0) {
        return payloadResult == TimedOut ? TimedOut : ReadFailed;
    }
    ReplyData[0] = static_cast<std::uint8_t>(m);
    Crc8(ReplyData.data() + 1, m, crc);
    return crc == ReplyData[m + 1] ? Ok : ReadFailed;
}

}  // namespace

int Transact(TLine& link, FrameHeader& Request, FrameData& RequestData, FrameData& ReplyData,
             FrameHeader& Reply, int replyTimeoutMs, bool reportStray) {
    try {
        return Run(link, Request, RequestData, ReplyData, Reply, replyTimeoutMs, reportStray);
    } catch (const std::exception&) {
        return NotRun;
    } catch (...) {
        return NotRun;
    }
}
