// A controller for the job benchmarks that answers every request at once, so that what
// is timed is the job and the file, not the line.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>

#include "core/jobs/job_host.h"
#include "core/link/command_set.h"

namespace bench {

// Answers every request at once from a controller of `keys` keys, on the loop's thread.
class InstantController : public TRequester {
  public:
    explicit InstantController(int keys) : keys_(keys) {}
    // When the last reply was handed back.
    std::chrono::steady_clock::time_point lastReply;

    void Load(const FrameHeader& request, const FrameData& requestData,
              TCommands::Completion done) override {
        FrameHeader reply{};
        FrameData data{};
        reply[1] = request[1];
        auto put = [&](std::initializer_list<std::uint32_t> bytes) {
            int i = 1;
            for (auto b : bytes)
                data[i++] = static_cast<std::uint8_t>(b);
            data[0] = reply[4] = static_cast<std::uint8_t>(bytes.size());
        };
        if (request[1] == ReadKeyCount) {
            put({static_cast<std::uint32_t>(keys_) & 0xFF, static_cast<std::uint32_t>(keys_) >> 8});
        } else if (request[1] == ReadSettings) {
            put({5, 3});
        } else if (request[1] == ReadKey) {
            const std::uint32_t slot = requestData[1] | requestData[2] << 8;
            // Distinct 24-bit codes, spread over the range like real cards.
            const std::uint32_t code = slot == 0xFFFF ? 0x0A1B2C : (slot * 2654435761u) >> 8;
            put({code >> 16 & 0xFF, code >> 8 & 0xFF, code & 0xFF});
        }
        lastReply = std::chrono::steady_clock::now();
        done(Ok, reply, data);
    }

  private:
    int keys_;
};

}  // namespace bench
