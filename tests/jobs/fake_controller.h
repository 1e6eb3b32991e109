// A controller in memory behind the worker interface: it executes the requests of the
// jobs on its own state at once, records them, and fails or stays "in flight" on demand.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/jobs/job_host.h"

class FakeController : public TRequester {
  public:
    std::vector<std::uint32_t> keys;  // slots 0 .. count - 1
    std::uint32_t vardex = 0;
    int timeOpen = 5;
    int retryRead = 3;
    int reportedCount = -1;  // the count 0x42 reports; -1: the number of keys

    // The request with this 0-based number gets `failResult` instead of an answer.
    int failAt = -1;
    int failResult = TimedOut;
    // Slots answered successfully but without payload.
    std::vector<int> emptySlots;
    // Every request answers with this result (e.g. NotRun) when set.
    std::optional<int> resultOverride;
    // Keep the next completion until Release(): the request is "in flight".
    bool hold = false;

    std::vector<RequestFrame> requests;
    // Runs after each request has been executed, before its completion (checks of the
    // state at every moment).
    std::function<void()> afterEach;

    void Load(const FrameHeader& request, const FrameData& requestData,
              TCommands::Completion done) override {
        requests.push_back({request, requestData});
        if (hold) {
            held_ = std::move(done);
            return;
        }
        Answer(std::move(done));
    }

    bool Holding() const { return static_cast<bool>(held_); }
    void Release() {
        hold = false;
        auto done = std::move(held_);
        held_ = nullptr;
        Answer(std::move(done));
    }

  private:
    TCommands::Completion held_;

    static void PutCode(FrameHeader& reply, FrameData& data, std::uint32_t code) {
        reply[4] = 3;
        data[0] = 3;
        data[1] = static_cast<std::uint8_t>(code >> 16);
        data[2] = static_cast<std::uint8_t>(code >> 8);
        data[3] = static_cast<std::uint8_t>(code);
    }

    void Answer(TCommands::Completion done) {
        const RequestFrame& r = requests.back();
        FrameHeader reply{};
        FrameData data{};
        reply[1] = r.header[1];
        const int index = static_cast<int>(requests.size()) - 1;
        if (index == failAt) {
            done(failResult, reply, data);
            return;
        }
        const std::uint8_t* p = &r.data[1];
        switch (r.header[1]) {
            case ClearAll:
                keys.clear();
                vardex = 0;
                break;
            case WriteSettings:
                timeOpen = p[0];
                retryRead = p[1];
                break;
            case WriteKey: {
                std::uint32_t code = p[0] << 16 | p[1] << 8 | p[2];
                if (r.header[3] == 0xFF)
                    vardex = (p[3] == 0xFF) ? 0 : code;
                else if (p[3] == 0x00 && std::find(keys.begin(), keys.end(), code) == keys.end())
                    keys.push_back(code);  // stored by its code: a second store changes nothing
                else if (p[3] == 0xFF) {
                    auto it = std::find(keys.begin(), keys.end(), code);
                    if (it != keys.end())
                        keys.erase(it);  // one slot, as the virtual controller does
                }
                break;
            }
            case ReadKeyCount: {
                int count = reportedCount >= 0 ? reportedCount : static_cast<int>(keys.size());
                reply[4] = 2;
                data[0] = 2;
                data[1] = static_cast<std::uint8_t>(count & 0xFF);
                data[2] = static_cast<std::uint8_t>(count >> 8);
                break;
            }
            case ReadSettings:
                reply[4] = 2;
                data[0] = 2;
                data[1] = static_cast<std::uint8_t>(timeOpen);
                data[2] = static_cast<std::uint8_t>(retryRead);
                break;
            case ReadKey: {
                int slot = p[0] | p[1] << 8;
                if (slot == 0xFFFF) {
                    PutCode(reply, data, vardex);
                } else if (std::find(emptySlots.begin(), emptySlots.end(), slot) ==
                           emptySlots.end()) {
                    PutCode(reply, data,
                            slot < static_cast<int>(keys.size()) ? keys[slot] : 0xABCDEFu);
                }
                break;
            }
            default:
                break;
        }
        if (afterEach)
            afterEach();
        done(resultOverride.value_or(Ok), reply, data);
    }
};
