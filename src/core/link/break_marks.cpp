#include "core/link/break_marks.h"

#include <algorithm>
#include <vector>

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

int TBreakMarkedLine::ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) {
    read = 0;
    const std::int64_t deadline = nowMs_() + std::max(timeoutMs, 0);
    std::vector<std::uint8_t> raw(static_cast<std::size_t>(std::max(count, 1)));
    for (;;) {
        // Never more raw bytes than data bytes still wanted: a read must not take bytes
        // of what follows. A mark begun needs one more byte to be decided.
        const int want = std::max(count - read, decoder_.Pending() ? 1 : 0);
        if (want == 0)
            return 0;
        int got = 0;
        const int left = static_cast<int>(std::max<std::int64_t>(deadline - nowMs_(), 0));
        const int result = raw_.ReadBytes(raw.data(), want, left, got);
        if (!decoder_.Feed(raw.data(), got, buffer, read)) {
            decoder_.Reset();
            return 2;
        }
        if (read == count && !decoder_.Pending())
            return 0;
        if (result != 0)
            return result;
    }
}
