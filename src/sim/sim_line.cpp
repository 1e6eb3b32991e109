#include "sim/sim_line.h"

#include <algorithm>

#include "core/link/frame.h"

namespace {

constexpr std::uint8_t kBroadcast = 0xFF;

}  // namespace

std::string SimAddressText(std::uint8_t address) {
    static const char digits[] = "0123456789ABCDEF";
    return std::string{digits[address >> 4], digits[address & 15]};
}

SimController& SimLine::Add(std::uint8_t address, SimState state) {
    auto controller = std::make_unique<SimController>(std::move(state));
    controller->SetAddress(address);
    controllers_.push_back(std::move(controller));
    return *controllers_.back();
}

std::vector<SimController*> SimLine::AtAddress(std::uint8_t address) {
    std::vector<SimController*> found;
    for (auto& c : controllers_) {
        if (c->Address() == address)
            found.push_back(c.get());
    }
    return found;
}

std::vector<std::uint8_t> SimLine::Collide(const std::vector<std::uint8_t>& first,
                                           const std::vector<std::uint8_t>& second) {
    const std::size_t size = std::max(first.size(), second.size() + 1);
    std::vector<std::uint8_t> line(size, 0xFF);  // an idle line reads as ones
    for (std::size_t i = 0; i < size; ++i) {
        if (i < first.size())
            line[i] &= first[i];
        if (i >= 1 && i - 1 < second.size())
            line[i] &= second[i - 1];
    }
    if (line.size() >= 6) {
        std::uint8_t crc = 0;
        Crc8(line.data(), 5, crc);
        if (crc == line[5])
            line[5] ^= 0x01;
    }
    return line;
}

std::vector<SimExchange> SimLine::Receive(const SimChunk& chunk) {
    // Every controller frames the same bytes the same way: their exchanges pair up.
    std::vector<std::vector<SimExchange>> heard;
    heard.reserve(controllers_.size());
    for (auto& c : controllers_)
        heard.push_back(c->Receive(chunk));
    if (heard.size() == 1)
        return std::move(heard.front());

    std::vector<SimExchange> out;
    if (heard.empty())
        return out;
    const std::size_t count = heard.front().size();
    for (std::size_t i = 0; i < count; ++i) {
        SimExchange merged = heard.front()[i];
        const std::uint8_t address = merged.request.empty() ? 0 : merged.request.front();
        if (!merged.framed) {
            out.push_back(std::move(merged));
            continue;
        }
        std::vector<const SimExchange*> addressed;
        std::string verdict;
        for (std::size_t k = 0; k < heard.size(); ++k) {
            const SimController& c = *controllers_[k];
            if (c.Address() != address && address != kBroadcast)
                continue;
            const SimExchange& ex = heard[k][i];
            addressed.push_back(&ex);
            verdict +=
                (verdict.empty() ? "" : "; ") + SimAddressText(c.Address()) + " " + ex.verdict;
        }
        merged.answered = false;
        merged.reply.clear();
        merged.delayMs = 0;
        if (addressed.empty()) {
            merged.valid = false;
            merged.verdict = "ignored: no controller at address " + SimAddressText(address);
            out.push_back(std::move(merged));
            continue;
        }
        merged.valid = std::any_of(addressed.begin(), addressed.end(),
                                   [](const SimExchange* ex) { return ex->valid; });
        int answers = 0;
        for (const SimExchange* ex : addressed) {
            if (!ex->answered)
                continue;
            if (answers++ == 0) {
                merged.reply = ex->reply;
                merged.delayMs = ex->delayMs;
            } else {
                merged.reply = Collide(merged.reply, ex->reply);
            }
        }
        merged.answered = answers > 0;
        if (answers > 1)
            verdict += " (" + std::to_string(answers) + " replies collide)";
        merged.verdict = verdict;
        out.push_back(std::move(merged));
    }
    return out;
}
