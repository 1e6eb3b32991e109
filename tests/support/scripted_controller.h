// A controller in memory for the window tests' fake runner: it answers the reads from
// its keys, vardex and times and takes the writes, as the virtual controller would.
//
//     ScriptedController state;
//     state.keys = {1, 2};
//     runner.makeReply = [&](const FrameHeader& h, FrameHeader& r, FrameData& d) { ... };
//     state.Reply(request, requestData, reply, replyData);
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "core/link/command_set.h"
#include "core/link/frame.h"

struct ScriptedController {
    std::vector<std::uint32_t> keys;
    std::uint32_t vardex = 0;
    int timeOpen = 9;
    int retryRead = 2;

    void Reply(const FrameHeader& request, const FrameData& data, FrameHeader& reply,
               FrameData& replyData) {
        auto put = [&](std::initializer_list<int> bytes) {
            int i = 1;
            for (int b : bytes)
                replyData[i++] = static_cast<std::uint8_t>(b);
            replyData[0] = reply[4] = static_cast<std::uint8_t>(bytes.size());
        };
        const std::uint32_t code = data[1] << 16 | data[2] << 8 | data[3];
        switch (request[1]) {
            case ClearAll:
                keys.clear();
                break;
            case WriteSettings:
                timeOpen = data[1];
                retryRead = data[2];
                break;
            case ReadKeyCount:
                put({int(keys.size() & 0xFF), int(keys.size() >> 8)});
                break;
            case ReadSettings:
                put({timeOpen, retryRead});
                break;
            case ReadKey: {
                const int slot = data[1] | data[2] << 8;
                const std::uint32_t c = slot == 0xFFFF ? vardex : keys[static_cast<size_t>(slot)];
                put({int(c >> 16 & 0xFF), int(c >> 8 & 0xFF), int(c & 0xFF)});
                break;
            }
            case WriteKey: {
                auto it = std::find(keys.begin(), keys.end(), code);
                if (request[3] == 0xFF)
                    vardex = data[4] == 0 ? code : 0;
                else if (data[4] == 0 && it == keys.end())
                    keys.push_back(code);
                else if (data[4] == 0xFF && it != keys.end())
                    keys.erase(it);
                break;
            }
            default:
                break;
        }
    }
};
