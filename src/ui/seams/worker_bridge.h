// Brings the worker's completions back to the user-interface thread.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>

#include "core/link/command_set.h"
#include "core/link/frame.h"
#include "core/link/requester.h"

// A completion as the user-interface side hears it: on its own thread.
using UiDone =
    std::function<void(int result, const FrameHeader& reply, const FrameData& replyData)>;

// Wraps `done` so that it runs on the user-interface thread, and only while `receiver`
// still exists, whichever thread the requester completes on.
TRequester::Completion PostToUi(QObject* receiver, UiDone done);

// Loads one request into `requester`; `done` runs later on the user-interface thread, and
// never once `receiver` is gone.
inline void LoadOnUi(TRequester& requester, const FrameHeader& request,
                     const FrameData& requestData, QObject* receiver, UiDone done) {
    requester.Load(request, requestData, PostToUi(receiver, std::move(done)));
}
// The same for a request built with options of its own (RequestFrame::options).
inline void LoadOnUi(TRequester& requester, const RequestFrame& request, QObject* receiver,
                     UiDone done) {
    requester.LoadWith(request.header, request.data, request.options,
                       PostToUi(receiver, std::move(done)));
}

// The process-wide requester every dialog uses (set by the main window when it creates
// the worker; tests set a scripted one). Without one, requests fail as unsent.
TRequester& AppRunner();
void SetAppRunner(TRequester* runner);
