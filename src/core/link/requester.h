// Where a request goes: the one worker thread (TCommands) in the program, a scripted
// controller in tests. Every host of a job, the dialogs and the command line alike, sends
// through this one interface.
#pragma once

#include <cstdint>
#include <functional>

#include "core/link/frame.h"

// How one request is carried, where it differs from the usual three attempts within the
// command's own reply time-out (the scan of a line: one short attempt per address).
struct RequestOptions {
    int attempts = 3;
    int replyTimeoutMs = 0;  // 0: the command's own (5000 ms for the full clear, else 1000)
    // After a request one of whose attempts timed out, the line is left to fall quiet (the
    // reply wait plus three character times without a byte) and purged, so that a reply
    // arriving late is never read for a later request. A scan of the line, whose empty
    // addresses all time out, may turn it off and confirm what it finds with a request
    // of its own instead.
    bool quietAfterTimeOut = true;
    // Bytes already on the line when the request is about to go out end it unsent with
    // StrayBytes (those bytes in the reply's header), instead of being purged unseen: the
    // scan lists them, since a late reply there means a controller it may have missed.
    bool reportStrayBytes = false;

    bool operator==(const RequestOptions&) const = default;
};

class TRequester {
  public:
    // Called once the request has run, on whatever thread ran it, with copies of the
    // reply buffers: it must only hand the result over to its own side (a queued Qt call
    // guarded by QPointer, an event loop).
    using Completion =
        std::function<void(int result, const FrameHeader& reply, const FrameData& replyData)>;

    virtual ~TRequester() = default;
    // Only while idle: at the start of a job or after the previous completion.
    virtual void Load(const FrameHeader& request, const FrameData& requestData,
                      Completion done) = 0;
    // The same with options of its own. A requester that cannot honour them (a scripted
    // one in tests) carries the request as usual.
    virtual void LoadWith(const FrameHeader& request, const FrameData& requestData,
                          const RequestOptions& options, Completion done) {
        (void)options;
        Load(request, requestData, std::move(done));
    }
};

// Every request of a job for one controller on a shared line: its address in byte 0,
// given once for the whole job, so that no request of it need know where it goes. At
// address 0 (a controller alone on its line) every byte stays as the job built it.
class TAddressedRequester : public TRequester {
  public:
    explicit TAddressedRequester(TRequester& inner, std::uint8_t address = 0)
        : inner_(inner), address_(address) {}

    void SetAddress(std::uint8_t address) { address_ = address; }
    std::uint8_t Address() const { return address_; }
    TRequester& Inner() const { return inner_; }

    void Load(const FrameHeader& request, const FrameData& requestData, Completion done) override {
        inner_.Load(Stamped(request), requestData, std::move(done));
    }
    void LoadWith(const FrameHeader& request, const FrameData& requestData,
                  const RequestOptions& options, Completion done) override {
        inner_.LoadWith(Stamped(request), requestData, options, std::move(done));
    }

  private:
    FrameHeader Stamped(FrameHeader request) const {
        request[0] = address_;
        return request;
    }

    TRequester& inner_;
    std::uint8_t address_;
};

// The addresses of a line: 0 to 254 each name one controller; 255 (0xFF) names all of
// them and none answers.
constexpr int MaxControllerAddress = 254;
