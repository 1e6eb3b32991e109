#include "sim/sim_controller.h"

#include <algorithm>
#include <utility>

#include "core/link/frame.h"

namespace {

constexpr std::uint8_t kBroadcast = 0xFF;

std::uint8_t CrcOf(const std::vector<std::uint8_t>& bytes, size_t from, size_t count) {
    std::uint8_t crc = 0;
    Crc8(bytes.data() + from, static_cast<int>(count), crc);
    return crc;
}

// The payload length each command must carry.
int ExpectedLength(std::uint8_t command) {
    switch (command) {
        case 0x01:
        case 0x02:
        case 0x42:
        case 0x43:
        case 0x63:
            return 0;
        case 0x22:
            return 12;
        case 0x23:
            return 5;
        case 0x61:
            return 2;
        default:
            return -1;
    }
}

std::string Hex(std::uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string{digits[b >> 4], digits[b & 15]};
}

struct FaultName {
    SimFault fault;
    const char* name;
};
constexpr FaultName kFaultNames[] = {
    {SimFault::None, "off"},
    {SimFault::Silence, "silence"},
    {SimFault::AnswerFromAttempt, "answer-from-attempt"},
    {SimFault::BadHeaderCrc, "bad-header-crc"},
    {SimFault::BadPayloadCrc, "bad-payload-crc"},
    {SimFault::Truncated, "truncated"},
    {SimFault::StatusNonzeroNoPayload, "status-nonzero-no-payload"},
    {SimFault::Noise, "noise"},
    {SimFault::Late, "late"},
    {SimFault::SilentFromSlot, "silent-from-slot"},
    {SimFault::SilentFromWrite, "silent-from-write"},
};

}  // namespace

const char* SimParityName(SimParity parity) {
    switch (parity) {
        case SimParity::Mark:
            return "mark";
        case SimParity::Space:
            return "space";
        default:
            return "other";
    }
}

bool ParseSimFault(const std::string& name, SimFault& fault) {
    for (const auto& f : kFaultNames) {
        if (name == f.name) {
            fault = f.fault;
            return true;
        }
    }
    return false;
}

const char* SimFaultName(SimFault fault) {
    for (const auto& f : kFaultNames) {
        if (fault == f.fault) {
            return f.name;
        }
    }
    return "?";
}

SimController::SimController(SimState state) : state_(std::move(state)) {}

void SimController::SetState(const SimState& state) {
    state_ = state;
    ChangeState();
}

bool SimController::TakeStateChanged() {
    return std::exchange(changed_, false);
}

void SimController::Present(std::uint32_t code) {
    presented_ = code & 0xFFFFFF;
}

void SimController::SetFault(SimFault fault, int arg, int arg2) {
    fault_ = fault;
    faultArg_ = arg;
    faultArg2_ = arg2;
    refusalSeen_ = 0;
    pendingCopy_.clear();
    copies_ = 0;
    writesSeen_ = 0;
}

std::vector<SimExchange> SimController::Receive(const SimChunk& chunk) {
    std::vector<SimExchange> out;
    if (inFrame_ && chunk.atMs - lastByteMs_ > kFrameGapMs) {
        Finish(out, false, "incomplete frame: the rest did not follow");
    }
    SimExchange stray;
    auto flushStray = [&] {
        if (!stray.request.empty()) {
            stray.verdict = "ignored: bytes outside a frame (no address byte under mark parity)";
            out.push_back(std::move(stray));
            stray = SimExchange{};
        }
    };
    for (std::uint8_t byte : chunk.bytes) {
        if (chunk.parity == SimParity::Mark) {
            flushStray();
            if (inFrame_) {
                Finish(out, false, "incomplete frame: a new address byte arrived");
            }
            StartFrame(out, chunk, chunk.atMs);
        }
        if (!inFrame_) {
            if (stray.chunks.empty()) {
                stray.chunks.push_back(chunk);
                stray.chunks.back().bytes.clear();
            }
            stray.chunks.back().bytes.push_back(byte);
            stray.request.push_back(byte);
            continue;
        }
        AddByte(out, chunk, byte);
    }
    flushStray();
    lastByteMs_ = chunk.atMs;
    return out;
}

void SimController::StartFrame(std::vector<SimExchange>&, const SimChunk&, double atMs) {
    frame_ = SimExchange{};
    inFrame_ = true;
    lastByteMs_ = atMs;
}

void SimController::AddByte(std::vector<SimExchange>& out, const SimChunk& chunk,
                            std::uint8_t byte) {
    // A chunk's bytes are recorded in the frame as one piece, whatever else they carried.
    if (frame_.chunks.empty() || frame_.chunks.back().atMs != chunk.atMs ||
        frame_.chunks.back().parity != chunk.parity) {
        frame_.chunks.push_back(chunk);
        frame_.chunks.back().bytes.clear();
    }
    frame_.chunks.back().bytes.push_back(byte);
    frame_.request.push_back(byte);

    const auto& r = frame_.request;
    if (r.size() == 6) {
        if (CrcOf(r, 0, 5) != r[5]) {
            Finish(out, false,
                   "ignored: wrong header CRC (" + Hex(r[5]) + ", expected " + Hex(CrcOf(r, 0, 5)) +
                       ")");
            return;
        }
        if (r[4] == 0) {
            Finish(out, true, "ok");
        }
        return;
    }
    if (r.size() > 6 && r.size() == 6u + r[4] + 1u) {
        const std::uint8_t crc = CrcOf(r, 6, r[4]);
        if (crc != r.back()) {
            Finish(out, false,
                   "ignored: wrong payload CRC (" + Hex(r.back()) + ", expected " + Hex(crc) + ")");
            return;
        }
        Finish(out, true, "ok");
    }
}

void SimController::Finish(std::vector<SimExchange>& out, bool valid, const std::string& verdict) {
    inFrame_ = false;
    frame_.valid = valid;
    frame_.framed = valid;
    frame_.verdict = verdict;
    if (valid) {
        Execute(frame_);
    }
    out.push_back(std::move(frame_));
    frame_ = SimExchange{};
}

bool SimController::Ignore(SimExchange& exchange, const std::string& verdict) {
    exchange.answered = false;
    exchange.reply.clear();
    exchange.verdict = verdict;
    return false;
}

void SimController::Execute(SimExchange& ex) {
    const auto& r = ex.request;
    ex.answered = false;
    ex.reply.clear();
    if (r.size() < 6 || r.size() != (r[4] == 0 ? 6u : 7u + r[4])) {
        ex.valid = false;
        Ignore(ex, "ignored: incomplete frame");
        return;
    }
    const std::uint8_t address = r[0];
    const std::uint8_t command = r[1];
    const int length = r[4];
    const std::uint8_t* p = r.data() + 6;  // payload
    if (address != address_ && address != kBroadcast) {
        ex.valid = false;
        Ignore(ex, "ignored: addressed to device " + Hex(address));
        return;
    }
    const int expected = ExpectedLength(command);
    if (expected < 0) {
        ex.valid = false;
        Ignore(ex, "ignored: unknown command " + Hex(command));
        return;
    }
    if (length != expected) {
        ex.valid = false;
        Ignore(ex, "ignored: command " + Hex(command) + " with payload length " +
                       std::to_string(length) + ", expected " + std::to_string(expected));
        return;
    }
    if (command == 0x22 && r[3] != 0x00 && r[3] != 0xFF) {
        ex.valid = false;
        Ignore(ex, "ignored: record selector " + Hex(r[3]));
        return;
    }

    // Faults that make the controller deaf to the request: it is not executed.
    switch (fault_) {
        case SimFault::Silence:
            Ignore(ex, "not answered (fault silence)");
            return;
        case SimFault::AnswerFromAttempt:
            if (r == pendingCopy_) {
                ++copies_;
            } else {
                pendingCopy_ = r;
                copies_ = 1;
            }
            if (copies_ < faultArg_) {
                Ignore(ex, "not answered (fault answer-from-attempt " + std::to_string(faultArg_) +
                               ", copy " + std::to_string(copies_) + ")");
                return;
            }
            pendingCopy_.clear();
            copies_ = 0;
            break;
        case SimFault::SilentFromSlot:
            if (command == 0x61) {
                const int slot = p[0] | p[1] << 8;
                if (slot != 0xFFFF && slot >= faultArg_) {
                    Ignore(ex, "not answered (fault silent-from-slot " + std::to_string(faultArg_) +
                                   ")");
                    return;
                }
            }
            break;
        case SimFault::SilentFromWrite:
            if (command == 0x22 && ++writesSeen_ >= faultArg_) {
                Ignore(ex,
                       "not answered (fault silent-from-write " + std::to_string(faultArg_) + ")");
                return;
            }
            break;
        default:
            break;
    }

    // The refusal: every request, or the chosen command's from its K-th request on.
    bool refuse = false;
    if (fault_ == SimFault::StatusNonzeroNoPayload) {
        if (faultArg_ == 0)
            refuse = true;
        else if (command == faultArg_)
            refuse = ++refusalSeen_ >= std::max(faultArg2_, 1);
    }

    std::uint8_t status = 0;
    std::vector<std::uint8_t> payload;
    std::string what;
    if (refuse) {
        status = 1;
        what = "refused (fault status-nonzero-no-payload)";
    } else {
        switch (command) {
            case 0x01:
                // The full clear removes the keys; the vardex and the times stay.
                if (!state_.keys.empty()) {
                    state_.keys.clear();
                    ChangeState();
                }
                what = "cleared all keys";
                break;
            case 0x02:
                what = "link check";
                break;
            case 0x22: {
                const std::uint32_t code =
                    static_cast<std::uint32_t>(p[0]) << 16 | p[1] << 8 | p[2];
                const bool store = p[3] == 0x00 && p[4] == 0x00 && p[5] == 0x00;
                const bool remove = p[3] == 0xFF && p[4] == 0xFF && p[5] == 0xFF;
                if (!store && !remove) {
                    status = 2;
                    what = "refused: action bytes " + Hex(p[3]) + " " + Hex(p[4]) + " " + Hex(p[5]);
                } else if (r[3] == 0xFF) {
                    const std::uint32_t vardex = store ? code : 0;
                    if (vardex != state_.vardex) {
                        state_.vardex = vardex;
                        ChangeState();
                    }
                    what = store ? "vardex set to " + std::to_string(code) : "vardex removed";
                } else {
                    auto it = std::find(state_.keys.begin(), state_.keys.end(), code);
                    if (store && it == state_.keys.end()) {
                        state_.keys.push_back(code);
                        ChangeState();
                        what = "stored key " + std::to_string(code) + " in slot " +
                               std::to_string(state_.keys.size() - 1);
                    } else if (store) {
                        what = "key " + std::to_string(code) + " already stored";
                    } else if (it != state_.keys.end()) {
                        state_.keys.erase(it);
                        ChangeState();
                        what = "removed key " + std::to_string(code);
                    } else {
                        what = "key " + std::to_string(code) + " was not stored";
                    }
                }
                break;
            }
            case 0x23:
                if (state_.timeOpen != p[0] || state_.retryRead != p[1]) {
                    state_.timeOpen = p[0];
                    state_.retryRead = p[1];
                    ChangeState();
                }
                what = "times set to " + std::to_string(p[0]) + " and " + std::to_string(p[1]);
                break;
            case 0x42: {
                const size_t count = state_.keys.size();
                payload = {static_cast<std::uint8_t>(count & 0xFF),
                           static_cast<std::uint8_t>((count >> 8) & 0xFF)};
                what = "key count " + std::to_string(count);
                break;
            }
            case 0x43:
                if (presented_) {
                    const std::uint32_t c = *presented_;
                    payload = {0x01, static_cast<std::uint8_t>(c >> 16),
                               static_cast<std::uint8_t>(c >> 8), static_cast<std::uint8_t>(c)};
                    what = "reported presented key " + std::to_string(c);
                    presented_.reset();
                } else {
                    what = "no key at the reader";
                }
                break;
            case 0x61: {
                const int slot = p[0] | p[1] << 8;
                std::uint32_t code = 0;
                if (slot == 0xFFFF) {
                    code = state_.vardex;
                    what = "vardex " + std::to_string(code);
                } else if (slot < static_cast<int>(state_.keys.size())) {
                    code = state_.keys[static_cast<size_t>(slot)];
                    what = "slot " + std::to_string(slot) + ": " + std::to_string(code);
                } else {
                    status = 3;
                    what = "refused: no slot " + std::to_string(slot);
                }
                if (status == 0) {
                    payload = {static_cast<std::uint8_t>(code >> 16),
                               static_cast<std::uint8_t>(code >> 8),
                               static_cast<std::uint8_t>(code)};
                }
                break;
            }
            case 0x63:
                payload = {static_cast<std::uint8_t>(state_.timeOpen),
                           static_cast<std::uint8_t>(state_.retryRead)};
                what = "times " + std::to_string(state_.timeOpen) + " and " +
                       std::to_string(state_.retryRead);
                break;
        }
    }
    ex.verdict = "ok: " + what;
    if (address == kBroadcast) {
        ex.verdict += " (broadcast, no reply)";
        return;
    }

    // The reply: header, then the payload and its CRC when there is one.
    if (fault_ == SimFault::BadPayloadCrc && payload.empty() && status == 0) {
        payload = {0x00};  // so that the fault always reaches the client
    }
    std::uint8_t announced = static_cast<std::uint8_t>(payload.size());
    if (refuse) {
        announced = 3;
        payload.clear();
    }
    std::vector<std::uint8_t> reply = {address_, command, status, 0x00, announced, 0};
    reply[5] = CrcOf(reply, 0, 5);
    if (!payload.empty()) {
        reply.insert(reply.end(), payload.begin(), payload.end());
        reply.push_back(CrcOf(payload, 0, payload.size()));
    }
    ex.delayMs = replyDelayMs_;
    switch (fault_) {
        case SimFault::BadHeaderCrc:
            reply[5] ^= 0x5A;
            ex.verdict += " (fault bad-header-crc)";
            break;
        case SimFault::BadPayloadCrc:
            reply.back() ^= 0x5A;
            ex.verdict += " (fault bad-payload-crc)";
            break;
        case SimFault::Truncated:
            reply.resize(reply.size() / 2);
            ex.verdict += " (fault truncated)";
            break;
        case SimFault::Noise: {
            const int n = faultArg_ > 0 ? std::min(faultArg_, 64) : 4;
            std::vector<std::uint8_t> noise;
            for (int i = 0; i < n; ++i) {
                noise.push_back(static_cast<std::uint8_t>(0xA5 ^ (i * 37)));
            }
            // The six bytes the client takes for a header must fail their CRC.
            std::vector<std::uint8_t> seen(noise.begin(), noise.end());
            seen.insert(seen.end(), reply.begin(), reply.end());
            if (seen.size() >= 6 && CrcOf(seen, 0, 5) == seen[5]) {
                noise[0] ^= 0x01;
            }
            reply.insert(reply.begin(), noise.begin(), noise.end());
            ex.verdict += " (fault noise " + std::to_string(n) + ")";
            break;
        }
        case SimFault::Late: {
            // After the client's last read has given up: its 116 ms wait and its time-out.
            const int timeout = command == 0x01 ? 5000 : 1000;
            ex.delayMs = faultArg_ > 0 ? faultArg_ : 116 + timeout + 300;
            ex.verdict += " (fault late)";
            break;
        }
        default:
            break;
    }
    ex.answered = true;
    ex.reply = std::move(reply);
}
