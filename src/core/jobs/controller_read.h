// Reading a controller's whole contents (key count, settings, vardex, every slot): the
// first phase of the load and of the reconcile. One request at a time, the log in the
// iButton format, the progress bar counting the settings, the vardex and each slot.
#pragma once

#include <string>
#include <vector>

#include "core/jobs/job_host.h"

// The count check that ends every job which reads or rewrites the whole controller (the
// load, the export, the reconcile): the log line of its request, and the text when the
// count is not the one expected.
extern const char* const CountCheckText;  // "Проверка кол-ва карт(ключей) в контроллере ... "
std::string CountMismatchText(int count, int expected);

class TControllerRead : public TJob {
  public:
    explicit TControllerRead(TJobHost& host);

    void Start() override;  // posts step -1
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    // The steps of the read; a derived job numbers its own from AfterRead on.
    enum ReadStep { CountStep = -1, SettingsStep = 0, VardexStep = 1, KeysStep = 2, AfterRead = 3 };

    // The state of the read.
    int Step = 0;  // a ReadStep while reading; the derived job's own step afterwards
    int KeyIndex = 0;
    int KeyCount = 0;
    int TimeOpen = 0;
    int RetryRead = 0;
    KeyCode VardexCode = 0;
    std::vector<std::string> KeyList;  // one decimal text per slot read, in slot order
    std::vector<KeyCode> SlotCodes;    // the same codes as numbers

  protected:
    // Every slot has been read (KeysStep with KeyIndex >= KeyCount).
    virtual void ReadFinished() = 0;
    // A request of the read failed with `result`.
    virtual void ReadFailed(int result) = 0;
    // Steps and completions after the read (AfterRead and on) belong to the derived job.
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
