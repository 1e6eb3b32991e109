// Loading the controller's whole contents (settings, vardex, every key) into a new
// database file. The read comes first and writes nothing; the save afterwards writes the
// new file in one piece.
#pragma once

#include <string>
#include <vector>

#include "core/jobs/controller_read.h"
#include "core/keys/database.h"

class TLoadJob : public TControllerRead {
  public:
    explicit TLoadJob(TJobHost& host);

    // The controller's address on its line, for the new file (its host sends every request
    // of the job there).
    int Address = 0;

    // True once the whole read has succeeded: only then may the result be saved.
    bool ReadComplete() const { return complete_; }

    // The new file as the read found it: the two times, TypeFormat 0 (iButton), the vardex,
    // the address, and every key once (a code stored in two slots is one key of the file), its
    // decimal text as the description.
    DbModel NewFileModel() const;
    // Writes NewFileModel() under `path` as one replacement and reads it back into `loaded`
    // (what the main window then shows). On failure nothing under `path` has changed, or,
    // when only the read-back failed, the file is complete; `loaded` is then untouched.
    DbResult SaveTo(const std::string& path, DbModel& loaded) const;

  protected:
    // Every slot read: the key count is read again, and only the same count as at the
    // start makes the read complete (keys changed meanwhile make it no copy of anything).
    void ReadFinished() override;
    void ReadFailed(int result) override;
    void LaterStep(int step) override;
    void LaterCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

  private:
    static constexpr int CountCheckStep = AfterRead;
    void Fail(const std::string& description);

    bool complete_ = false;
};
