// The line trace over a scripted line: what each attempt sent, under which parity,
// what came back, and how it ended.
#include "core/link/line_trace.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <regex>

#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "scripted_line.h"

namespace {

// The trace's lines without their times, after one request through a fresh worker.
std::vector<std::string> Trace(ScriptedLine& line, const RequestFrame& request) {
    std::mutex mutex;
    std::vector<std::string> lines;
    TLineTrace trace(line, [&](const std::string& text) {
        std::lock_guard lock(mutex);
        lines.push_back(std::regex_replace(text, std::regex("^\\+\\d+ ms "), ""));
    });
    std::promise<int> done;
    {
        TCommands worker(trace, &trace);
        worker.Load(
            request.header, request.data,
            [&](int result, const FrameHeader&, const FrameData&) { done.set_value(result); });
        EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    }
    return lines;
}

TEST(LineTrace, EachAttemptWithItsPartsRepliesAndResult) {
    ScriptedLine line;
    ByteVector badCrc = ReplyFrame(0x61, {0x12, 0x34, 0x56});
    badCrc[5] ^= 0x10;
    line.QueueReply({badCrc});
    ByteVector cut = ReplyFrame(0x61, {0x12, 0x34, 0x56});
    cut.resize(8);  // the payload stops short
    line.QueueReply({cut});
    line.QueueReply({ReplyFrame(0x61, {0x12, 0x34, 0x56})});
    const std::vector<std::string> lines = Trace(line, MakeReadKey(3));
    ASSERT_EQ(lines.size(), 3u);
    // A header with a bad CRC: its payload is not read.
    EXPECT_EQ(lines[0],
              "attempt 1/3: sent mark{00} space{61 00 00 02 A3} space{03 00 55}; received {00 61 "
              "00 00 03 ED}; result 2 Ошибка чтения из контроллера\n");
    EXPECT_NE(lines[1].find("attempt 2/3: "), std::string::npos) << lines[1];
    EXPECT_NE(lines[1].find(" 12 34 (2 of 4)}; result 4 Истекло время ожидания ответа от "
                            "контроллера. Возможно контроллер не подключен\n"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("attempt 3/3: "), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find(" 12 34 56 "), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("}; result 0 OK\n"), std::string::npos) << lines[2];
}

TEST(LineTrace, AFailedWriteSaysHowFarItGot) {
    ScriptedLine line;
    line.failWriteAt = 2;  // the header after the address
    const std::vector<std::string> lines = Trace(line, MakeCheckLink());
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].rfind("attempt 1/3: sent mark{00} space{", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("(write failed after "), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find("; received {}; result 1 Ошибка записи в контроллер\n"),
              std::string::npos)
        << lines[0];
}

}  // namespace

// The trace stands between the worker and the port: the port's stale-request guard must
// see through it, or a request left by a closed dialog goes out on the next one's open.
TEST(LineTrace, ForwardsTheLinesGenerationToItsGuard) {
    struct GuardedLine : ScriptedLine {
        std::uint64_t generation = 7;
        std::vector<std::uint64_t> bound;
        std::uint64_t Generation() const override { return generation; }
        void Bind(std::uint64_t g) override { bound.push_back(g); }
    } line;
    line.QueueReply({ReplyFrame(0x02)});
    const std::vector<std::string> lines = Trace(line, MakeCheckLink());
    ASSERT_EQ(lines.size(), 1u);
    // Bound to the generation the request was loaded in, and released afterwards.
    EXPECT_EQ(line.bound, (std::vector<std::uint64_t>{7, 0}));
}
