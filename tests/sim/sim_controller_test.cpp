// The virtual controller's logic, driven in-process byte by byte.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/link/command_set.h"
#include "core/link/frame.h"
#include "sim/sim_controller.h"
#include "sim/sim_state.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint8_t Crc(const Bytes& b, size_t from, size_t n) {
    std::uint8_t crc = 0;
    Crc8(b.data() + from, static_cast<int>(n), crc);
    return crc;
}

// The bytes a client puts on the line for a request.
Bytes Wire(const RequestFrame& frame) {
    Bytes b(frame.header.begin(), frame.header.end());
    b[5] = Crc(b, 0, 5);
    const int n = frame.header[4];
    if (n > 0) {
        b.insert(b.end(), frame.data.begin() + 1, frame.data.begin() + 1 + n);
        b.push_back(Crc(b, 6, static_cast<size_t>(n)));
    }
    return b;
}

SimChunk Chunk(double at, SimParity parity, Bytes bytes) {
    SimChunk c;
    c.atMs = at;
    c.parity = parity;
    c.bytes = std::move(bytes);
    return c;
}

class SimControllerTest : public ::testing::Test {
  protected:
    SimController sim;
    double now = 0;

    // Sends the address byte under mark parity and the rest under space parity, as
    // the client does, and returns the exchanges it produced.
    std::vector<SimExchange> SendBytes(const Bytes& b) {
        now += 500;
        auto out = sim.Receive(Chunk(now, SimParity::Mark, {b[0]}));
        auto more = sim.Receive(Chunk(now + 4, SimParity::Space, Bytes(b.begin() + 1, b.end())));
        out.insert(out.end(), more.begin(), more.end());
        return out;
    }
    SimExchange Send(const RequestFrame& frame) {
        auto out = SendBytes(Wire(frame));
        EXPECT_EQ(out.size(), 1u);
        return out.empty() ? SimExchange{} : out.back();
    }
    // The reply's payload after checking the frame around it.
    Bytes Payload(const SimExchange& ex) {
        EXPECT_TRUE(ex.answered) << ex.verdict;
        const Bytes& r = ex.reply;
        if (r.size() < 6) {
            ADD_FAILURE() << "short reply";
            return {};
        }
        EXPECT_EQ(Crc(r, 0, 5), r[5]);
        EXPECT_EQ(r[2], 0) << "status";
        const size_t n = r[4];
        if (n == 0) {
            EXPECT_EQ(r.size(), 6u);
            return {};
        }
        if (r.size() != 6 + n + 1) {
            ADD_FAILURE() << "reply of " << r.size() << " bytes announces " << n;
            return {};
        }
        EXPECT_EQ(Crc(r, 6, n), r.back());
        return Bytes(r.begin() + 6, r.begin() + 6 + static_cast<long>(n));
    }
    int Count() {
        Bytes p = Payload(Send(MakeReadKeyCount()));
        return p.size() == 2 ? p[0] | p[1] << 8 : -1;
    }
    std::uint32_t Slot(std::uint16_t slot) {
        Bytes p = Payload(Send(MakeReadKey(slot)));
        return p.size() == 3 ? static_cast<std::uint32_t>(p[0] << 16 | p[1] << 8 | p[2]) : 0xDEAD;
    }
    void Store(std::uint32_t code, KeyFiller filler = KeyFiller::KeyDialog) {
        Payload(Send(MakeWriteKey(code, true, false, filler)));
    }
};

TEST_F(SimControllerTest, KeysStoreWithoutDuplicatesAndRemovalClosesTheGap) {
    Store(0x0A1B2C);
    Store(0x000001, KeyFiller::Export);
    Store(0x0A1B2C);  // already there
    Store(0x123456);
    EXPECT_EQ(Count(), 3);
    Payload(Send(MakeWriteKey(0x000001, false, false, KeyFiller::KeyDialog)));
    EXPECT_EQ(Count(), 2);
    EXPECT_EQ(Slot(0), 0x0A1B2Cu);
    EXPECT_EQ(Slot(1), 0x123456u);
    // Removing a key that is not there changes nothing and is still answered.
    Payload(Send(MakeWriteKey(0x777777, false, false, KeyFiller::KeyDialog)));
    EXPECT_EQ(sim.State().keys, (std::vector<std::uint32_t>{0x0A1B2C, 0x123456}));
    // A slot past the end is refused with a non-zero status and no payload.
    const SimExchange past = Send(MakeReadKey(2));
    ASSERT_TRUE(past.answered);
    EXPECT_NE(past.reply[2], 0);
    EXPECT_EQ(past.reply[4], 0);
    // Only the low 24 bits of a code travel and are stored.
    Store(0xFF000042);
    EXPECT_EQ(Slot(2), 0x42u);
    EXPECT_TRUE(sim.TakeStateChanged());
    EXPECT_FALSE(sim.TakeStateChanged());
}

TEST_F(SimControllerTest, VardexTimesAndClear) {
    EXPECT_EQ(Slot(VardexSlot), 0u);
    Payload(Send(MakeWriteKey(0x345678, true, true, KeyFiller::KeyDialog)));
    EXPECT_EQ(Slot(VardexSlot), 0x345678u);
    EXPECT_EQ(Count(), 0);  // the vardex is no key slot

    Payload(Send(MakeWriteSettings(7, 0)));
    Bytes times = Payload(Send(MakeReadSettings()));
    EXPECT_EQ(times, (Bytes{7, 0}));

    Store(1);
    Store(2);
    Payload(Send(MakeClearAll()));
    EXPECT_EQ(Count(), 0);
    // The full clear removes the keys only.
    EXPECT_EQ(Slot(VardexSlot), 0x345678u);
    EXPECT_EQ(Payload(Send(MakeReadSettings())), (Bytes{7, 0}));

    Payload(Send(MakeWriteKey(0, false, true, KeyFiller::Export)));  // twelve 0xFF
    EXPECT_EQ(Slot(VardexSlot), 0u);
    EXPECT_TRUE(Payload(Send(MakeCheckLink())).empty());
}

TEST_F(SimControllerTest, PresentedKeyIsReportedOnce) {
    EXPECT_TRUE(Payload(Send(MakeReadPresentedKey())).empty());
    sim.Present(0x123456);
    const SimExchange ex = Send(MakeReadPresentedKey());
    FrameHeader h{};
    FrameData d{};
    std::copy(ex.reply.begin(), ex.reply.begin() + 6, h.begin());
    std::copy(ex.reply.begin() + 6, ex.reply.end(), d.begin() + 1);
    KeyCodeValue code = 0;
    ASSERT_TRUE(DecodePresentedKey(h, d, code));
    EXPECT_EQ(code, 1193046u);
    EXPECT_TRUE(Payload(Send(MakeReadPresentedKey())).empty());
}

TEST_F(SimControllerTest, InvalidFramesAreLoggedAndIgnored) {
    Bytes good = Wire(MakeCheckLink());
    Bytes badHeader = good;
    badHeader[5] ^= 1;
    auto out = SendBytes(badHeader);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].valid);
    EXPECT_FALSE(out[0].answered);
    EXPECT_NE(out[0].verdict.find("header CRC"), std::string::npos);

    Bytes badPayload = Wire(MakeReadKey(0));
    badPayload.back() ^= 1;
    out = SendBytes(badPayload);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].answered);
    EXPECT_NE(out[0].verdict.find("payload CRC"), std::string::npos);

    // A known command with the wrong payload length, an unknown command, another device.
    RequestFrame wrongLength = MakeReadKey(0);
    wrongLength.header[4] = 3;
    wrongLength.data[0] = 3;
    RequestFrame unknown = MakeCheckLink();
    unknown.header[1] = 0x55;
    RequestFrame other = MakeCheckLink();
    other.header[0] = 0x07;
    for (const RequestFrame& f : {wrongLength, unknown, other}) {
        out = SendBytes(Wire(f));
        ASSERT_EQ(out.size(), 1u);
        EXPECT_FALSE(out[0].answered) << out[0].verdict;
    }

    // Broadcast: executed, never answered.
    RequestFrame broadcast = MakeWriteSettings(9, 9);
    broadcast.header[0] = 0xFF;
    out = SendBytes(Wire(broadcast));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].answered);
    EXPECT_EQ(sim.State().timeOpen, 9);
}

TEST_F(SimControllerTest, FramesBeginOnlyWithAMarkByte) {
    // A whole request under space parity is noise to a 9-bit receiver.
    const Bytes good = Wire(MakeCheckLink());
    auto out = sim.Receive(Chunk(now += 500, SimParity::Space, good));
    ASSERT_EQ(out.size(), 1u);
    EXPECT_FALSE(out[0].answered);

    // Noise, then a broken frame cut short by a new address byte: the new one counts.
    out = sim.Receive(Chunk(now += 500, SimParity::Space, {0x12, 0x34}));
    auto more = sim.Receive(Chunk(now += 1, SimParity::Mark, {0x00}));
    more = sim.Receive(Chunk(now += 4, SimParity::Space, {0x02, 0x00}));
    EXPECT_TRUE(more.empty());
    out = SendBytes(good);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_FALSE(out[0].valid);
    EXPECT_TRUE(out[1].answered);
    EXPECT_EQ(out[1].chunks.size(), 2u);
    EXPECT_EQ(out[1].chunks[0].bytes, Bytes{0x00});

    // A frame whose rest never comes is dropped after a gap.
    sim.Receive(Chunk(now += 500, SimParity::Mark, {0x00}));
    out = sim.Receive(Chunk(now += 1000, SimParity::Space, {0x02}));
    ASSERT_EQ(out.size(), 2u);
    EXPECT_NE(out[0].verdict.find("incomplete"), std::string::npos);
}

TEST_F(SimControllerTest, FaultsShapeTheReply) {
    const Bytes normal = Send(MakeReadKeyCount()).reply;
    ASSERT_EQ(normal.size(), 9u);

    sim.SetFault(SimFault::BadHeaderCrc);
    Bytes r = Send(MakeReadKeyCount()).reply;
    EXPECT_NE(Crc(r, 0, 5), r[5]);

    sim.SetFault(SimFault::BadPayloadCrc);
    r = Send(MakeReadKeyCount()).reply;
    EXPECT_EQ(Crc(r, 0, 5), r[5]);
    EXPECT_NE(Crc(r, 6, r[4]), r.back());
    r = Send(MakeCheckLink()).reply;  // a reply without payload gets a bad one
    ASSERT_EQ(r.size(), 8u);
    EXPECT_NE(Crc(r, 6, r[4]), r.back());

    sim.SetFault(SimFault::Truncated);
    EXPECT_LT(Send(MakeReadKeyCount()).reply.size(), normal.size());

    sim.SetFault(SimFault::StatusNonzeroNoPayload);
    Send(MakeWriteKey(0x4242, true, false, KeyFiller::Export));
    r = Send(MakeReadKeyCount()).reply;
    ASSERT_EQ(r.size(), 6u);
    EXPECT_NE(r[2], 0);
    EXPECT_NE(r[4], 0);
    EXPECT_EQ(Crc(r, 0, 5), r[5]);
    EXPECT_TRUE(sim.State().keys.empty());  // refused, not stored

    sim.SetFault(SimFault::Noise, 3);
    r = Send(MakeCheckLink()).reply;
    ASSERT_EQ(r.size(), 9u);
    EXPECT_NE(Crc(r, 0, 5), r[5]);  // what the client takes for the header fails

    sim.SetFault(SimFault::Late);
    EXPECT_GT(Send(MakeCheckLink()).delayMs, 116 + 1000);
    EXPECT_GT(Send(MakeClearAll()).delayMs, 116 + 5000);

    sim.SetFault(SimFault::Silence);
    EXPECT_FALSE(Send(MakeCheckLink()).answered);
    Send(MakeWriteKey(5, true, false, KeyFiller::Export));
    EXPECT_TRUE(sim.State().keys.empty());

    sim.SetFault(SimFault::None);
    EXPECT_EQ(Send(MakeReadKeyCount()).reply, normal);
}

TEST_F(SimControllerTest, FaultsThatSilenceSomeRequests) {
    sim.SetFault(SimFault::AnswerFromAttempt, 3);
    EXPECT_FALSE(Send(MakeCheckLink()).answered);
    EXPECT_FALSE(Send(MakeCheckLink()).answered);
    EXPECT_TRUE(Send(MakeCheckLink()).answered);
    EXPECT_FALSE(Send(MakeCheckLink()).answered);     // the next request starts over
    EXPECT_FALSE(Send(MakeReadKeyCount()).answered);  // a different request starts over too

    sim.SetFault(SimFault::None);
    Store(1);
    Store(2);
    Store(3);
    sim.SetFault(SimFault::SilentFromSlot, 2);
    EXPECT_TRUE(Send(MakeReadKey(VardexSlot)).answered);
    EXPECT_TRUE(Send(MakeReadKey(1)).answered);
    EXPECT_FALSE(Send(MakeReadKey(2)).answered);

    sim.SetFault(SimFault::SilentFromWrite, 2);
    EXPECT_TRUE(Send(MakeWriteKey(10, true, false, KeyFiller::Export)).answered);
    EXPECT_FALSE(Send(MakeWriteKey(11, true, false, KeyFiller::Export)).answered);
    EXPECT_FALSE(Send(MakeWriteKey(12, true, false, KeyFiller::Export)).answered);
    EXPECT_TRUE(Send(MakeCheckLink()).answered);
    EXPECT_EQ(sim.State().keys, (std::vector<std::uint32_t>{1, 2, 3, 10}));
}

TEST_F(SimControllerTest, ArbitraryInputNeverBreaksIt) {
    std::mt19937 random(12345);
    for (int i = 0; i < 20000; ++i) {
        SimChunk c;
        c.atMs = now += random() % 300;
        c.parity = static_cast<SimParity>(random() % 3);
        const int n = static_cast<int>(random() % 40);
        for (int k = 0; k < n; ++k) {
            // Mostly plausible bytes so that frames get far.
            c.bytes.push_back(static_cast<std::uint8_t>(random() % 4 ? random() % 8 : random()));
        }
        if (random() % 50 == 0) {
            sim.SetFault(static_cast<SimFault>(random() % 11), static_cast<int>(random() % 4));
        }
        for (const SimExchange& ex : sim.Receive(c)) {
            EXPECT_FALSE(ex.verdict.empty());
        }
    }
    sim.SetFault(SimFault::None);
    EXPECT_TRUE(Send(MakeCheckLink()).answered);
}

TEST(SimState, JsonRoundTripAndErrors) {
    SimState s;
    s.keys = {1, 0xFFFFFF, 42};
    s.vardex = 0x123456;
    s.timeOpen = 255;
    s.retryRead = 0;
    SimState back;
    std::string error;
    ASSERT_TRUE(SimStateFromJson(SimStateToJson(s), back, error)) << error;
    EXPECT_EQ(back, s);

    ASSERT_TRUE(SimStateFromJson(
        " { \"note\": {\"a\": [1, \"x\", null]}, \"keys\" : [ 7 ], \"vardex\": 0 } ", back, error))
        << error;
    EXPECT_EQ(back.keys, std::vector<std::uint32_t>{7});
    EXPECT_EQ(back.timeOpen, SimState{}.timeOpen);

    for (const char* bad : {"", "[]", "{\"keys\":[1,]}", "{\"keys\":[16777216]}",
                            "{\"timeOpen\":-1}", "{\"vardex\":1.5}", "{\"keys\":[1]", "{} x",
                            "{\"keys\":7}", "{\"vardex\":\"5\"}", "{\"retryRead\":256}"}) {
        SimState untouched = s;
        EXPECT_FALSE(SimStateFromJson(bad, untouched, error)) << bad;
        EXPECT_EQ(untouched, s);
    }
}

// The state file is written like a database: a planted "F.tmp" link leads nowhere, and a
// link to nothing is not turned into a file.
TEST(SimState, StateFileIgnoresPlantedNames) {
    char tmpl[] = "/tmp/vx_sim_state.XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    const std::string path = dir + "/state.json";
    const std::string victim = dir + "/victim";
    std::ofstream(victim) << "keep\n";
    ASSERT_EQ(::symlink(victim.c_str(), (path + ".tmp").c_str()), 0);
    SimState s;
    s.keys = {5};
    std::string error;
    ASSERT_TRUE(SaveSimState(path, s, error)) << error;
    std::stringstream text;
    text << std::ifstream(victim).rdbuf();
    EXPECT_EQ(text.str(), "keep\n");
    SimState back;
    ASSERT_TRUE(LoadSimState(path, back, error)) << error;
    EXPECT_EQ(back, s);

    const std::string dangling = dir + "/dangling.json";
    ASSERT_EQ(::symlink("nowhere.json", dangling.c_str()), 0);
    EXPECT_FALSE(SaveSimState(dangling, s, error));
    EXPECT_FALSE(std::filesystem::exists(dir + "/nowhere.json"));
    std::filesystem::remove_all(dir);
}

}  // namespace
