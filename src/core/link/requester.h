// Where a request goes: the one worker thread (TCommands) in the program, a scripted
// controller in tests. Every host of a job, the dialogs and the command line alike, sends
// through this one interface.
#pragma once

#include <functional>

#include "core/link/frame.h"

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
};
