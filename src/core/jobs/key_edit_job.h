// Adding, changing and deleting one key of the open database: the controller first, the
// file second, so that the file never lists a key the controller refused. A number change
// is a removal of the old number and an addition of the new one, each in both places; a
// failure on the way leaves one of the partial outcomes the flags below describe.
//
// The job writes the edit's line in the journal of changes however it ends: "OK" when
// done, else the error's text. A line whose outcome is "OK" is a change that happened;
// the removal half of a number change that stopped after it is such a change, so it
// gets its own "key-remove" line before the failed "key-renumber" one. When the
// controller took a change the file did not, the outcome says so before the error.
#pragma once

#include <string>

#include "core/jobs/job_host.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

struct KeyEdit {
    enum class Kind { Add, Change, Remove };
    Kind kind = Kind::Add;
    std::string path;  // the database file
    int typeFormat = 0;
    KeyCode oldCode = 0;      // Change, Remove
    KeyCode newCode = 0;      // Add, Change
    std::string description;  // as the file keeps it (Windows-1251); Add, Change
};

// The wait texts of the two requests.
std::string AddingKeyText(int typeFormat, KeyCode code);  // "Добавление карты(ключа) %s"
std::string RemovingKeyText(int typeFormat, KeyCode code);  // "Удаление карты(ключа) %s"

class TKeyEditJob : public TJob {
  public:
    TKeyEditJob(TJobHost& host, KeyEdit edit);

    void Start() override;  // posts the first request
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    const KeyEdit& Edit() const { return edit_; }

    // Where things stand (all false before the job ran).
    bool OldGoneFromController = false;
    bool OldGoneFromFile = false;
    bool NewInController = false;
    bool NewInFile = false;
    // The failing request's result (Ok when no request failed).
    int Result = Ok;
    // A file write failed; its text went to the host's Failed box.
    bool FileFailed = false;
    // Everything the edit asked for is done.
    bool Complete() const;

  private:
    enum Step { RemoveOld = 0, StoreNew = 1 };
    bool WriteFile(bool store, KeyCode code);
    void End();
    // The edit's lines in the journal; `error` says why it is not complete.
    void Journal(const std::string& error = {});

    KeyEdit edit_;
    int step_ = RemoveOld;
    // The lines, worked out from the file before the first request.
    journaled::Change intent_;  // from before the first request to the outcome
    journal::Entry asked_;
    journal::Entry removed_;      // Change: its first half
    std::string oldDescription_;  // Change: the description the old number had (UTF-8)
};
