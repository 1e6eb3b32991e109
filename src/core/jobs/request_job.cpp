#include "core/jobs/request_job.h"

TRequestJob::TRequestJob(TJobHost& host, const RequestFrame& request)
    : TJob(host), Request(request) {}

void TRequestJob::Start() {
    host_.SendRequest(Request);
}

void TRequestJob::OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) {
    Result = result;
    CanClose = true;
    if (!IsSuccess(result)) {
        host_.Failed({"Ошибка связи с контроллером", ResultText(result), BoxIcon::Error});
        return;
    }
    Reply = reply;
    ReplyData = replyData;
    host_.Finished({"", "", BoxIcon::Information});
}
