// A serial line for tests: it records every operation in order on a virtual clock
// and plays scripted replies, so exact timings are checked without sleeping.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/link/frame.h"
#include "core/link/line.h"

using ByteVector = std::vector<std::uint8_t>;

// What the far end sends once a request is complete (DTR back on).
struct ScriptedReply {
    ByteVector bytes{};    // arrive together...
    int delayMs = 0;       // ...this long after the request ended
    bool ioError = false;  // the next read fails with 2 instead
    ByteVector tail{};     // the rest of the reply, arriving...
    int tailDelayMs = 0;   // ...this long after the request ended
};

// A reply frame with correct CRCs: header (status, length) and, if any, payload + CRC.
inline ByteVector ReplyFrame(std::uint8_t command, const ByteVector& payload = {},
                             std::uint8_t status = 0) {
    ByteVector frame = {0x00, command, status, 0x00, static_cast<std::uint8_t>(payload.size()), 0};
    Crc8(frame.data(), 5, frame[5]);
    if (!payload.empty()) {
        frame.insert(frame.end(), payload.begin(), payload.end());
        std::uint8_t crc = 0;
        Crc8(payload.data(), static_cast<int>(payload.size()), crc);
        frame.push_back(crc);
    }
    return frame;
}

inline std::string HexBytes(const std::uint8_t* bytes, int count) {
    std::string text;
    char part[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(part, sizeof part, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += part;
    }
    return text;
}

class ScriptedLine : public TLine {
  public:
    struct Op {
        std::int64_t atMs;
        std::string what;
    };

    // Replies for the coming requests, one per request; when they run out the
    // responder (if any) is asked, else the far end stays silent.
    void QueueReply(ScriptedReply reply) {
        std::lock_guard lock(mutex_);
        replies_.push_back(std::move(reply));
    }
    void QueueSilence() { QueueReply({}); }
    std::function<ScriptedReply(const ByteVector& request)> responder;

    // Bytes already waiting in the receive buffer (noise, a late reply).
    void InjectInput(const ByteVector& bytes) {
        std::lock_guard lock(mutex_);
        for (std::uint8_t b : bytes) {
            input_.push_back({b, nowMs_});
        }
    }

    // The n-th WriteBytes call (counting from 1) fails; 0 = none.
    int failWriteAt = 0;
    // Every operation fails from now on, as on a closed port.
    bool closed = false;

    std::vector<Op> Ops() const {
        std::lock_guard lock(mutex_);
        return ops_;
    }
    std::vector<std::string> OpNames() const {
        std::lock_guard lock(mutex_);
        std::vector<std::string> names;
        for (const Op& op : ops_) {
            names.push_back(op.what);
        }
        return names;
    }
    std::int64_t NowMs() const {
        std::lock_guard lock(mutex_);
        return nowMs_;
    }
    // Every byte the requests carried, in order, since the last ClearLog.
    ByteVector Written() const {
        std::lock_guard lock(mutex_);
        return written_;
    }
    void ClearLog() {
        std::lock_guard lock(mutex_);
        ops_.clear();
        written_.clear();
    }

    int WriteBytes(const std::uint8_t* bytes, int count, int& written) override {
        std::lock_guard lock(mutex_);
        written = 0;
        ++writeCalls_;
        Log("write " + HexBytes(bytes, count));
        if (closed || writeCalls_ == failWriteAt) {
            return 1;
        }
        written_.insert(written_.end(), bytes, bytes + count);
        request_.insert(request_.end(), bytes, bytes + count);
        written = count;
        return 0;
    }

    int ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) override {
        std::lock_guard lock(mutex_);
        read = 0;
        Log("read " + std::to_string(count) + " within " + std::to_string(timeoutMs));
        if (closed || ioError_) {
            ioError_ = false;
            return 2;
        }
        const std::int64_t deadline = nowMs_ + timeoutMs;
        std::int64_t last = nowMs_;
        while (read < count && !input_.empty() && input_.front().atMs <= deadline) {
            buffer[read++] = input_.front().byte;
            last = std::max(last, input_.front().atMs);
            input_.pop_front();
        }
        if (read < count) {
            nowMs_ = deadline;
            return 4;
        }
        nowMs_ = last;
        return 0;
    }

    void WaitChars(int n) override {
        std::lock_guard lock(mutex_);
        Log("wait " + std::to_string(WaitCharsMs(n)));
        nowMs_ += WaitCharsMs(n);
    }

    bool Purge(bool receive, bool transmit) override {
        std::lock_guard lock(mutex_);
        Log(std::string("purge") + (receive ? " rx" : "") + (transmit ? " tx" : ""));
        if (receive) {
            // Only what has already arrived is thrown away.
            while (!input_.empty() && input_.front().atMs <= nowMs_) {
                input_.pop_front();
            }
        }
        request_.clear();
        ioError_ = false;
        return true;
    }

    bool SetParity(bool mark) override {
        std::lock_guard lock(mutex_);
        Log(mark ? "parity mark" : "parity space");
        return true;
    }

    bool SetDtr(bool on) override {
        std::lock_guard lock(mutex_);
        Log(on ? "dtr on" : "dtr off");
        if (on && !request_.empty()) {
            Respond();
        }
        return !closed;
    }

  private:
    struct Incoming {
        std::uint8_t byte;
        std::int64_t atMs;
    };

    void Log(std::string what) { ops_.push_back({nowMs_, std::move(what)}); }

    void Respond() {
        ScriptedReply reply;
        if (!replies_.empty()) {
            reply = std::move(replies_.front());
            replies_.pop_front();
        } else if (responder) {
            reply = responder(request_);
        }
        request_.clear();
        ioError_ = reply.ioError;
        for (std::uint8_t b : reply.bytes) {
            Arrive({b, nowMs_ + reply.delayMs});
        }
        for (std::uint8_t b : reply.tail) {
            Arrive({b, nowMs_ + std::max(reply.delayMs, reply.tailDelayMs)});
        }
    }

    // Bytes reach the receive buffer in the order of their arrival: a late reply to an
    // earlier request comes after a prompt reply to a later one.
    void Arrive(Incoming byte) {
        auto at = std::upper_bound(
            input_.begin(), input_.end(), byte.atMs,
            [](std::int64_t t, const Incoming& queued) { return t < queued.atMs; });
        input_.insert(at, byte);
    }

    mutable std::mutex mutex_;
    std::int64_t nowMs_ = 0;
    std::vector<Op> ops_;
    ByteVector written_;
    ByteVector request_;
    std::deque<ScriptedReply> replies_;
    std::deque<Incoming> input_;
    int writeCalls_ = 0;
    bool ioError_ = false;
};
