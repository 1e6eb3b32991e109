#include "core/link/break_marks.h"

bool TBreakMarkDecoder::Feed(const std::uint8_t* raw, int n, std::uint8_t* out, int& produced) {
    for (int i = 0; i < n; ++i) {
        const std::uint8_t b = raw[i];
        switch (state_) {
            case State::Data:
                if (b == 0xFF)
                    state_ = State::AfterFF;
                else
                    out[produced++] = b;
                break;
            case State::AfterFF:
                if (b == 0xFF) {
                    out[produced++] = 0xFF;
                    state_ = State::Data;
                } else {
                    state_ = State::AfterFF00;  // FF 00: a mark follows
                }
                break;
            case State::AfterFF00:
                // FF 00 00 is a break; FF 00 x (a parity or framing mark, which this line
                // does not ask for) is no better.
                state_ = State::Data;
                return false;
        }
    }
    return true;
}
