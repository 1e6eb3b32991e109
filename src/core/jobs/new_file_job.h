// The controller side of creating a new, empty database: check the link, clear the
// controller completely, read its vardex (what stays after a clear), each after the
// pause. The main window runs the same three requests as wait dialogs; the command line
// runs them here with a log of its own.
#pragma once

#include "core/jobs/job_host.h"

class TNewFileJob : public TJob {
  public:
    explicit TNewFileJob(TJobHost& host);

    void Start() override;  // posts step 0
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    bool Complete() const { return complete_; }

    int Step = 0;            // 0 link check, 1 full clear, 2 vardex
    KeyCode VardexCode = 0;  // 0 also when the reply carried no payload

  private:
    bool complete_ = false;
};
