// The virtual controller's logic without any input/output: it receives the bytes of
// the line together with the parity under which they arrived, assembles and checks
// request frames, executes the commands on its state and builds the replies, with
// the faults that the link must survive. vardex2-sim wraps it around a
// pseudo-terminal; tests drive it directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/sim_state.h"

// The ninth bit of the line as the sender set it.
enum class SimParity { Mark, Space, Other };
const char* SimParityName(SimParity parity);

enum class SimFault {
    None,
    Silence,                 // no request is answered
    AnswerFromAttempt,       // arg K: the first K - 1 copies of each request are ignored
    BadHeaderCrc,            // the reply header carries a wrong CRC
    BadPayloadCrc,           // the reply payload carries a wrong CRC (replies without one get one)
    Truncated,               // only the first half of the reply is sent
    StatusNonzeroNoPayload,  // status 1 and an announced payload that never comes: args
                             // CMD (0 every command) and K (from CMD's K-th request on)
    Noise,                   // arg N: N garbage bytes before the reply
    Late,                    // the reply comes later than the client's time-out
    SilentFromSlot,          // arg K: 0x61 for key slots >= K is not answered
    SilentFromWrite,         // arg K: the K-th 0x22 and every later one is not answered
};

// "silence", "answer-from-attempt", ... ; false for an unknown name.
bool ParseSimFault(const std::string& name, SimFault& fault);
const char* SimFaultName(SimFault fault);

// A run of bytes that arrived together under one line setting.
struct SimChunk {
    double atMs = 0;  // when it arrived, on the caller's clock
    SimParity parity = SimParity::Other;
    bool uncertain = false;  // the settings changed just before this read: some bytes may
                             // have been queued under the earlier ones
    std::string settings;    // the line settings as text ("9600 8 mark 2stop"), for the log
    std::vector<std::uint8_t> bytes;
};

// One request as received, and what the controller did with it.
struct SimExchange {
    std::vector<SimChunk> chunks;       // how its bytes arrived
    std::vector<std::uint8_t> request;  // all its bytes
    bool valid = false;
    bool framed = false;  // a whole frame whose check bytes held, whoever it was for
    std::string verdict;  // "ok", or why it was ignored
    bool answered = false;
    std::vector<std::uint8_t> reply;  // bytes to send (with noise, truncation ...)
    int delayMs = 0;                  // after the request's last byte
};

class SimController {
  public:
    explicit SimController(SimState state = {});

    // Feeds bytes that arrived together under one parity. A byte under mark parity
    // starts a new frame (what was being assembled is dropped); bytes outside a frame
    // are ignored. Returns every request completed or dropped by these bytes, and
    // runs of ignored bytes, in order.
    std::vector<SimExchange> Receive(const SimChunk& chunk);

    // Executes one complete request frame (header CRC already checked) and fills
    // `exchange.reply`, or leaves it unanswered. Public for tests.
    void Execute(SimExchange& exchange);

    // The address the controller answers to (0 when alone on its line); it also carries
    // out every broadcast (0xFF) and answers none.
    void SetAddress(std::uint8_t address) { address_ = address; }
    std::uint8_t Address() const { return address_; }

    void Present(std::uint32_t code);  // the next 0x43 reports it, once
    // `arg2` is the second argument of a fault that takes two (status-nonzero-no-payload).
    void SetFault(SimFault fault, int arg = 0, int arg2 = 0);
    SimFault Fault() const { return fault_; }
    void SetReplyDelay(int ms) { replyDelayMs_ = ms < 0 ? 0 : ms; }
    int ReplyDelay() const { return replyDelayMs_; }

    const SimState& State() const { return state_; }
    void SetState(const SimState& state);
    // True once after every change of the state (so the caller can save it).
    bool TakeStateChanged();

    // A frame left incomplete for this long is dropped at the next byte.
    static constexpr double kFrameGapMs = 200;

  private:
    SimState state_;
    std::uint8_t address_ = 0;
    bool changed_ = false;
    std::optional<std::uint32_t> presented_;
    SimFault fault_ = SimFault::None;
    int faultArg_ = 0;
    int replyDelayMs_ = 2;

    // Frame assembly.
    SimExchange frame_;
    bool inFrame_ = false;
    double lastByteMs_ = 0;

    // answer-from-attempt: the request not yet answered and how often it came.
    std::vector<std::uint8_t> pendingCopy_;
    int copies_ = 0;
    int writesSeen_ = 0;  // silent-from-write
    int faultArg2_ = 0;
    int refusalSeen_ = 0;  // status-nonzero-no-payload: requests of its command so far

    void StartFrame(std::vector<SimExchange>& out, const SimChunk& chunk, double atMs);
    void AddByte(std::vector<SimExchange>& out, const SimChunk& chunk, std::uint8_t byte);
    void Finish(std::vector<SimExchange>& out, bool valid, const std::string& verdict);
    bool Ignore(SimExchange& exchange, const std::string& verdict);
    void ChangeState() { changed_ = true; }
};
