#include "core/jobs/reader_poll_job.h"

const char* const ReaderPollErrorCaption = "Ошибка связи с контроллером";

namespace {
constexpr int PollStep = 0;
}

TReaderPollJob::TReaderPollJob(TReaderPollHost& host) : host_(host) {
    RequestFrame frame = MakeReadPresentedKey();
    Request = frame.header;
    RequestData = frame.data;
    // Cancel closes a capture dialog at once, even with a request in flight.
    CanClose = true;
}

void TReaderPollJob::Start() {
    if (!CheckLinkFirst) {
        Poll();
        return;
    }
    checking_ = true;
    host_.SendRequest(MakeCheckLink());
}

void TReaderPollJob::OnStep(int /*step*/) {
    if (waiting_)
        Poll();
}

void TReaderPollJob::Poll() {
    RequestFrame frame;
    frame.header = Request;
    frame.data = RequestData;
    ++Polls;
    host_.SendRequest(frame);
}

void TReaderPollJob::OnCompletion(int result, const FrameHeader& reply,
                                  const FrameData& replyData) {
    if (!waiting_)
        return;  // the dialog stopped waiting: a late completion
    Result = result;
    const bool check = checking_;
    checking_ = false;
    if (!IsSuccess(result)) {
        waiting_ = false;
        host_.PollFailed(JobBox{ReaderPollErrorCaption, ResultText(result), BoxIcon::Error});
        return;
    }
    if (check) {
        if (LinkChecked)
            LinkChecked();
        if (waiting_)  // LinkChecked may have stopped the capture
            host_.ContinueAfterPause(PollStep);
        return;
    }
    Reply = reply;
    ReplyData = replyData;
    KeyCodeValue code = 0;
    if (!DecodePresentedKey(Reply, ReplyData, code)) {
        host_.ContinueAfterPause(PollStep);  // nobody at the reader yet
        return;
    }
    waiting_ = false;
    if (KeyRead)
        KeyRead(code);
}

void TReaderPollJob::Stop() {
    waiting_ = false;
    checking_ = false;
    CancelRequested = true;
}
