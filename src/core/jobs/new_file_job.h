// Creating a new, empty database: check the link, clear the controller completely, read
// its vardex (what stays after a clear) and its two times, each after the pause; then the
// file, with that vardex and those times and nothing else, so that the file agrees with
// its controller from the start. The window's "&Новый файл" hosts it in its wait dialog,
// the command line's `new` with a log of its own.
#pragma once

#include <string>

#include "core/jobs/job_host.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

// The file of a controller just cleared: its vardex and times, its address on the line,
// no keys (journaled as one new-file line).
DbResult WriteNewDbFile(const std::string& path, KeyCode vardex, int timeOpen, int retryRead,
                        int address = 0);

class TNewFileJob : public TJob {
  public:
    explicit TNewFileJob(TJobHost& host);

    void Start() override;  // posts step 0
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    bool Complete() const { return complete_; }

    // The file the job makes: its journal gets the intent before the clear (no intent, no
    // clear), and the outcome once WriteFile has written it or the job has failed.
    // Without it nothing is journaled (tests of the sequence).
    void JournalBeside(const std::string& path) { path_ = path; }
    // The file of the controller just cleared (WriteNewDbFile), with the intent's outcome.
    DbResult WriteFile(const std::string& path, int address = 0);

    enum NewFileStep { CheckStep, ClearStep, VardexStep, SettingsStep };
    int Step = CheckStep;
    KeyCode VardexCode = 0;  // 0 also when the reply carried no payload
    // The controller's times; the defaults of a new file when they could not be read.
    int TimeOpen = DbModel{}.TimeOpen;
    int RetryRead = DbModel{}.RetryRead;
    bool SettingsRead = false;

  private:
    void EndIntent(const std::string& outcome);

    bool complete_ = false;
    std::string path_;
    journaled::Change intent_;
};
