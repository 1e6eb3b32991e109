// Setting or resetting the vardex and changing the two times: one request to the
// controller, then the file, so that the file never holds a value the controller refused.
// The window's vardex dialog and time fields host it, as vardex2-cli set-vardex and
// set-times do.
#pragma once

#include <string>

#include "core/jobs/job_host.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

struct SettingChange {
    enum class Kind { SetVardex, ResetVardex, Times };
    Kind kind = Kind::Times;
    std::string path;  // the database file
    // SetVardex: the new vardex; ResetVardex: the one the controller holds now.
    KeyCode vardex = 0;
    // Times: the new pair (the file keeps the display format alongside).
    int timeOpen = 0;
    int retryRead = 0;
    int typeFormat = 0;
    // Times: which of the two the operator changed, for the wait text.
    bool timeOpenChanged = true;
};

// The wait text of the change's request ("Установка вардекса", "Сброс вардекса",
// "Сохранение времени открывания замка", ...).
std::string SettingChangeText(const SettingChange& change);

class TSettingChangeJob : public TJob {
  public:
    TSettingChangeJob(TJobHost& host, SettingChange change);

    void Start() override;  // posts the request
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    const SettingChange& Change() const { return change_; }

    bool InController = false;  // the controller accepted the request
    bool InFile = false;        // and the file holds the new value
    int Result = Ok;            // the failing request's result (Ok when none failed)
    bool FileFailed = false;    // the file write failed; its text went to Failed
    bool Complete() const { return InController && InFile; }

  private:
    // The journal's line of this change against the file as it was before it.
    journal::Entry Entry(const DbModel& before) const;

    SettingChange change_;
    journal::Entry asked_;
    journaled::Change intent_;  // from before the request to the outcome
};
