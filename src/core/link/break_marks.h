// The serial driver marks a break in what it received (PARMRK without INPCK): a break
// arrives as FF 00 00, and a real FF byte of data arrives doubled. Without the marking a
// break, or a line that delivers zeros, reads as a reply of zero bytes whose header CRC
// happens to fit.
#pragma once

#include <cstdint>
#include <functional>

#include "core/link/line.h"

// Undoes the marking byte by byte; the state carries a mark split between two reads.
class TBreakMarkDecoder {
  public:
    // Appends the data bytes of `raw` to `out` (room for `n` more), adding their number
    // to `produced`. False once a break (or any other mark) is in the input: the bytes
    // around it are not a reply.
    bool Feed(const std::uint8_t* raw, int n, std::uint8_t* out, int& produced);
    void Reset() { state_ = State::Data; }
    // A mark has begun and its next byte is still to come.
    bool Pending() const { return state_ != State::Data; }

  private:
    enum class State { Data, AfterFF, AfterFF00 };
    State state_ = State::Data;
};

// A line whose reads deliver the driver's marked bytes, read as data: a break fails the
// read (2), FF FF reads as one FF. `nowMs` is the clock the read's time-out runs on.
class TBreakMarkedLine : public TLine {
  public:
    TBreakMarkedLine(TLine& raw, std::function<std::int64_t()> nowMs)
        : raw_(raw), nowMs_(std::move(nowMs)) {}

    int WriteBytes(const std::uint8_t* bytes, int count, int& written) override {
        return raw_.WriteBytes(bytes, count, written);
    }
    int ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) override;
    void WaitChars(int n) override { raw_.WaitChars(n); }
    bool Purge(bool receive, bool transmit) override {
        if (receive)
            decoder_.Reset();
        return raw_.Purge(receive, transmit);
    }
    bool SetParity(bool mark) override { return raw_.SetParity(mark); }
    bool SetDtr(bool on) override { return raw_.SetDtr(on); }

  private:
    TLine& raw_;
    std::function<std::int64_t()> nowMs_;
    TBreakMarkDecoder decoder_;
};
