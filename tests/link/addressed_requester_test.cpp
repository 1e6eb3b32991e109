// The address of a job's controller on a shared line: stamped into byte 0 of every
// request by the one decorator, sent alone under mark parity; at address 0 the bytes on
// the line are exactly those of an undecorated worker.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "core/link/requester.h"
#include "scripted_line.h"

namespace {

// Runs the requests one after another through `requester`; the results in order.
std::vector<int> RunAll(TRequester& requester, const std::vector<RequestFrame>& requests) {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<int> results;
    for (const RequestFrame& r : requests) {
        const std::size_t before = results.size();
        requester.LoadWith(r.header, r.data, r.options,
                           [&](int result, const FrameHeader&, const FrameData&) {
                               std::lock_guard lock(mutex);
                               results.push_back(result);
                               changed.notify_all();
                           });
        std::unique_lock lock(mutex);
        EXPECT_TRUE(changed.wait_for(lock, std::chrono::seconds(10),
                                     [&] { return results.size() > before; }));
    }
    return results;
}

// The operations of the line from each "parity mark" on: the write that follows it is
// the address byte.
std::vector<std::string> AddressWrites(const ScriptedLine& line) {
    std::vector<std::string> out;
    const auto names = line.OpNames();
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        if (names[i] == "parity mark")
            out.push_back(names[i + 1]);
    }
    return out;
}

const std::vector<RequestFrame> EveryKindOfRequest = {
    MakeCheckLink(),         MakeReadKeyCount(),
    MakeReadKey(5),          MakeWriteKey(0x12ABCD, true, false, KeyFiller::Export),
    MakeWriteSettings(7, 2), MakeClearAll(),
};

TEST(TAddressedRequester, AddressByteUnderMarkParityAndTheRestUnchanged) {
    struct Case {
        std::uint8_t address;
        const char* markWrite;
    };
    for (const Case& c : {Case{0x00, "write 00"}, Case{0x07, "write 07"}, Case{0xFE, "write FE"}}) {
        SCOPED_TRACE(static_cast<int>(c.address));
        ScriptedLine plain, addressed;
        plain.responder = [](const ByteVector& r) { return ScriptedReply{ReplyFrame(r[1])}; };
        addressed.responder = plain.responder;
        {
            TCommands worker(plain);
            RunAll(worker, EveryKindOfRequest);
        }
        {
            TCommands worker(addressed);
            TAddressedRequester door(worker, c.address);
            EXPECT_EQ(RunAll(door, EveryKindOfRequest), std::vector<int>(6, Ok));
        }
        const auto marks = AddressWrites(addressed);
        ASSERT_EQ(marks.size(), EveryKindOfRequest.size());
        for (const std::string& m : marks)
            EXPECT_EQ(m, c.markWrite);

        // Byte for byte: the address and the header CRC differ, nothing else.
        ByteVector expected = plain.Written();
        for (std::size_t at = 0, i = 0; i < EveryKindOfRequest.size(); ++i) {
            const int n = EveryKindOfRequest[i].header[4];
            expected[at] = c.address;
            Crc8(expected.data() + at, 5, expected[at + 5]);
            at += 6 + (n > 0 ? n + 1 : 0);
        }
        EXPECT_EQ(addressed.Written(), expected);
        if (c.address == 0) {
            EXPECT_EQ(addressed.Written(), plain.Written());
        }
    }
}

TEST(TAddressedRequester, OneShortAttemptWhenTheRequestSaysSo) {
    // The scan of a line: one attempt, 50 ms for the reply after the prescribed waits.
    ScriptedLine line;
    TCommands worker(line);
    TAddressedRequester door(worker, 9);
    RequestFrame check = MakeCheckLink();
    check.options = {1, 50, false};  // no quiet wait: the scan's way
    EXPECT_EQ(RunAll(door, {check}), std::vector<int>{TimedOut});
    const auto names = line.OpNames();
    EXPECT_EQ(std::count(names.begin(), names.end(), "purge rx tx"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "read 6 within 50"), 1);
    EXPECT_EQ(line.NowMs(), 4 + 4 + 10 + 116 + 50);

    // Without options: three attempts within the command's own time-out, as always.
    line.ClearLog();
    EXPECT_EQ(RunAll(door, {MakeCheckLink()}), std::vector<int>{TimedOut});
    const auto usual = line.OpNames();
    EXPECT_EQ(std::count(usual.begin(), usual.end(), "read 6 within 1000"), 3);
}

}  // namespace
