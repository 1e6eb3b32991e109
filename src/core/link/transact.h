#pragma once

#include "core/link/frame.h"
#include "core/link/line.h"

// One request/reply exchange. Writes Request[5] and RequestData[0] and the payload
// CRC, fills Reply and ReplyData. Returns a TErrorPort code. `replyTimeoutMs` 0 waits
// the command's own time-out for the reply (5000 ms for the full clear, else 1000 ms).
// With `reportStray`, bytes already waiting on the line end it before anything is sent:
// StrayBytes, the first six of them in Reply (the rest purged).
int Transact(TLine& link, FrameHeader& Request, FrameData& RequestData, FrameData& ReplyData,
             FrameHeader& Reply, int replyTimeoutMs = 0, bool reportStray = false);
