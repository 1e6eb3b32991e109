// The serial driver marks a break in what it received (PARMRK without INPCK): a break
// arrives as FF 00 00, and a real FF byte of data arrives doubled. Without the marking a
// break, or a line that delivers zeros, reads as a reply of zero bytes whose header CRC
// happens to fit.
#pragma once

#include <cstdint>

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
