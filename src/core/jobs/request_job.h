// One request and its answer: the link check, the full clear, one key record, the times,
// the vardex read. The wait dialog hosts it, as the command line does.
#pragma once

#include "core/jobs/job_host.h"

class TRequestJob : public TJob {
  public:
    TRequestJob(TJobHost& host, const RequestFrame& request);

    void Start() override;  // sends at once
    void OnStep(int) override {}
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    RequestFrame Request;
    FrameHeader Reply{};
    FrameData ReplyData{};
    int Result = NotRun;  // -1 … until the answer; then the request's result
};
