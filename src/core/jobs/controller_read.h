// Reading a controller's whole contents (key count, settings, vardex, every slot): the
// first phase of the load and of the reconcile. One request at a time, the log in the
// iButton format, the progress bar counting the settings, the vardex and each slot.
#pragma once

#include <string>
#include <vector>

#include "core/jobs/job_host.h"

class TControllerRead : public TJob {
  public:
    explicit TControllerRead(TJobHost& host);

    void Start() override;  // posts step -1
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    // The state of the read.
    int Step = 0;  // -1 link check, 0 settings, 1 vardex, 2 keys; later steps are the job's
    int KeyIndex = 0;
    int KeyCount = 0;
    int TimeOpen = 0;
    int RetryRead = 0;
    KeyCode VardexCode = 0;
    std::vector<std::string> KeyList;  // one decimal text per slot read, in slot order
    std::vector<KeyCode> SlotCodes;    // the same codes as numbers

  protected:
    // Every slot has been read (step 2 with KeyIndex >= KeyCount).
    virtual void ReadFinished() = 0;
    // A request of the read failed with `result`.
    virtual void ReadFailed(int result) = 0;
    // Steps and completions after the read (Step > 2) belong to the derived job.
    virtual void LaterStep(int step) { (void)step; }
    virtual void LaterCompletion(int result, const FrameHeader& reply, const FrameData& replyData) {
        (void)result;
        (void)reply;
        (void)replyData;
    }

  private:
    void Advance();

    int position_ = 0;
};
