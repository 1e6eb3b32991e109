#pragma once

#include "core/link/frame.h"
#include "core/link/line.h"

// One request/reply exchange. Writes Request[5] and RequestData[0] and the payload
// CRC, fills Reply and ReplyData. Returns a TErrorPort code.
int Transact(TLine& link, FrameHeader& Request, FrameData& RequestData, FrameData& ReplyData,
             FrameHeader& Reply);
