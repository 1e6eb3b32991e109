// The scan of a line against scripted answers per address: bytes that come when no
// address was due are listed, against the address whose late reply they most likely are,
// and never cost the address being asked its own answer.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include "core/jobs/scan_job.h"
#include "core/link/command_set.h"
#include "support/recording_job_host.h"

namespace {

// Each request is answered at once by `answer` for its address and command.
class ScriptedScanLine : public TRequester {
  public:
    std::function<int(int address, int command, FrameHeader& reply, FrameData& data)> answer;
    std::vector<std::pair<int, int>> sent;  // address, command

    void Load(const FrameHeader& request, const FrameData&, Completion done) override {
        sent.push_back({request[0], request[1]});
        FrameHeader reply{request[0], request[1], 0, 0, 0, 0};
        FrameData data{};
        const int result = answer(request[0], request[1], reply, data);
        done(result, reply, data);
    }
};

TEST(ScanJob, BytesWhenNoAddressWasDueAreListedAndTheAddressAskedAgain) {
    ScriptedScanLine line;
    std::map<int, int> asked;  // check-link requests per address
    line.answer = [&](int address, int command, FrameHeader& reply, FrameData& data) {
        if (address == 1) {
            reply = {0x01, 0x02, 0x00, 0x00, 0x00, 0x00};  // two answers garbled together
            return int(ReadFailed);
        }
        if (command == CheckLink && ++asked[address] == 1 && address == 2) {
            reply = {0x07, 0x00, 0x00, 0x00, 0x00, 0x00};  // the rest of address 1's garble
            return int(StrayBytes);
        }
        if (command == CheckLink && asked[address] == 1 && (address == 3 || address == 5)) {
            reply = {0x02, 0x02, 0x00, 0x00, 0x00, 0x61};  // address 2's reply, come late
            return int(StrayBytes);
        }
        if (command == CheckLink && address == 5) {
            reply = {0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA};  // bytes again: noise
            return int(StrayBytes);
        }
        if (address != 3)
            return int(TimedOut);
        if (command == ReadKeyCount) {
            reply[4] = 2;
            data = {2, 4, 0};
        }
        return int(Ok);
    };
    TJobLoop loop;
    TRecordingJobHost host(loop, line);
    ScanSettings settings;
    settings.to = 6;
    TScanJob job(host, nullptr, settings);
    host.Attach(job);
    ASSERT_TRUE(host.RunJob());
    EXPECT_TRUE(job.Complete());

    std::vector<ScanEntry> found = job.Entries();
    ASSERT_EQ(found.size(), 5u);
    // Address 1's garbled answer is listed once: the rest of it, before address 2, is not.
    EXPECT_EQ(found[0].address, 1);
    found.erase(found.begin());
    EXPECT_EQ(asked[2], 2);
    // Before address 3 was asked: listed against address 2, which had said nothing.
    EXPECT_EQ(found[0].address, 2);
    EXPECT_TRUE(found[0].doubtful);
    EXPECT_EQ(found[0].Text(),
              "Адрес 2: сомнительный ответ (байты на линии, когда ответа не ждали: 02 02 00 "
              "00 00 61); вероятная причина: запоздалый ответ контроллера (увеличьте время "
              "ожидания) или помеха на линии");
    // Address 3, asked again, is the controller it is.
    EXPECT_EQ(found[1].address, 3);
    EXPECT_FALSE(found[1].doubtful);
    EXPECT_EQ(found[1].keyCount, 4);
    // Before address 5 twice: the first against address 4, the second is noise at 5.
    EXPECT_EQ(found[2].address, 4);
    EXPECT_EQ(found[3].address, 5);
    EXPECT_EQ(found[3].cause, "помеха на линии");
    EXPECT_EQ(job.Done(), 7);
    EXPECT_EQ(asked[3], 2);
    EXPECT_EQ(asked[6], 1);
}

}  // namespace
