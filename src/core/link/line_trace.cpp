#include "core/link/line_trace.h"

#include <cstdio>

#include "core/link/frame.h"

namespace {

void AppendHex(std::string& out, const std::uint8_t* bytes, int count) {
    char hex[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", bytes[i]);
        out += hex;
    }
}

}  // namespace

TLineTrace::TLineTrace(TLine& inner, Writer write)
    : inner_(inner), write_(std::move(write)), start_(std::chrono::steady_clock::now()) {}

int TLineTrace::WriteBytes(const std::uint8_t* bytes, int count, int& written) {
    const int result = inner_.WriteBytes(bytes, count, written);
    // Each write is one part, under the parity the line had when it went out.
    if (!sent_.empty())
        sent_ += ' ';
    sent_ += mark_ ? "mark{" : "space{";
    AppendHex(sent_, bytes, written > 0 ? written : 0);
    sent_ += '}';
    if (result != 0)
        sent_ +=
            "(write failed after " + std::to_string(written) + " of " + std::to_string(count) + ")";
    return result;
}

int TLineTrace::ReadBytes(std::uint8_t* buffer, int count, int timeoutMs, int& read) {
    const int result = inner_.ReadBytes(buffer, count, timeoutMs, read);
    if (!received_.empty() && read > 0)
        received_ += ' ';
    AppendHex(received_, buffer, read > 0 ? read : 0);
    if (result != 0)
        received_ += (received_.empty() ? "" : " ") + std::string("(") + std::to_string(read) +
                     " of " + std::to_string(count) + ")";
    return result;
}

bool TLineTrace::SetParity(bool mark) {
    mark_ = mark;
    return inner_.SetParity(mark);
}

void TLineTrace::AttemptStarted(int attempt, int attempts) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - start_)
                        .count();
    head_ = "+" + std::to_string(ms) + " ms attempt " + std::to_string(attempt) + "/" +
            std::to_string(attempts);
    sent_.clear();
    received_.clear();
}

void TLineTrace::AttemptEnded(int result) {
    std::string text = ResultText(result);
    for (char& c : text) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    write_(head_ + ": sent " + sent_ + "; received {" + received_ + "}; result " +
           std::to_string(result) + " " + text + "\n");
}
