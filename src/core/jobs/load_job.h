// Loading the controller's whole contents (settings, vardex, every key) into a new
// database file. The read comes first and writes nothing; the save afterwards writes the
// new file in one piece.
#pragma once

#include <string>
#include <vector>

#include "core/jobs/job_host.h"
#include "core/keys/database.h"

class TLoadJob : public TJob {
  public:
    explicit TLoadJob(TJobHost& host);

    void Start() override;  // posts step -1
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    // True once the whole read has succeeded: only then may the result be saved.
    bool ReadComplete() const { return complete_; }

    // The new file as the read found it: the two times, TypeFormat 0 (iButton), the vardex,
    // and every key once (a code stored in two slots is one key of the file), its decimal
    // text as the description.
    DbModel NewFileModel() const;
    // Writes NewFileModel() under `path` as one replacement and reads it back into `loaded`
    // (what the main window then shows). On failure nothing under `path` has changed, or,
    // when only the read-back failed, the file is complete; `loaded` is then untouched.
    DbResult SaveTo(const std::string& path, DbModel& loaded) const;

    // The state of the read.
    int Step = 0;  // -1 link check, 0 settings, 1 vardex, 2 keys
    int KeyIndex = 0;
    int KeyCount = 0;
    int TimeOpen = 0;
    int RetryRead = 0;
    KeyCode VardexCode = 0;
    std::vector<std::string> KeyList;  // one decimal text per slot read, in slot order

  private:
    void Advance();
    void Finish();
    void Fail(int result);

    int position_ = 0;
    bool complete_ = false;
};
