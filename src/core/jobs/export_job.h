// Exporting the open database into the controller: a full clear, the two times, the
// vardex, then every key in the list's displayed order; the key count read at the end
// must be the number of keys written, or the export has not succeeded.
#pragma once

#include <string>
#include <vector>

#include "core/jobs/job_host.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

// What the export writes, as the main window shows it.
struct ExportKey {
    KeyCode code = 0;
    std::string caption;      // the key's display text
    std::string description;  // UTF-8
};

struct ExportSource {
    int TimeOpen = 1;
    int RetryRead = 1;
    KeyCode Vardex = 0;
    std::string VardexCaption = "Отсутствует";  // the vardex button's caption
    std::vector<ExportKey> keys;                // in displayed (sorted) order
    // The database whose journal gets the export's line when the export ends (done,
    // failed or cancelled); empty: none.
    std::string databasePath;
};

// The main window's view of a database in the display format `typeFormat`: keys sorted by
// their display text (ties keep the file order), descriptions converted to UTF-8.
ExportSource ExportSourceOf(const DbModel& model, int typeFormat);
// The vardex button's caption: the formatted vardex, or "Отсутствует" for none.
std::string VardexCaption(int typeFormat, KeyCode vardex);

class TExportJob : public TJob {
  public:
    // Sets the progress maximum to the number of keys + 4.
    TExportJob(TJobHost& host, ExportSource source);

    void Start() override;  // posts step 0
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    const ExportSource& Source() const { return source_; }

    // Before its first request the job takes the lock of the database at `path`, reads it
    // again and writes what it holds then (in `typeFormat`'s order), keeping the lock to
    // its end: the questions before the export are asked without the lock, and a change
    // made meanwhile is neither lost nor undone. Without it the job writes its source.
    void RereadBeforeWriting(const std::string& path, int typeFormat);

    enum ExportStep { ClearStep, SettingsStep, VardexStep, KeysStep, CountCheckStep };
    int Step = ClearStep;
    int KeyIndex = 0;
    // The count the check at the end expects: the distinct codes that reach the controller.
    int ExpectedCount() const;

  private:
    void Finish();
    void Fail(int result);
    bool TakeCancelAndJournal();
    // The controller has been cleared at least: whatever the end, the journal says what
    // was done to it, stamped when it was done.
    void Journal(const std::string& outcome);
    void FailWith(const std::string& description);
    bool BeginIntent();  // false when the job has failed

    bool Reread();  // false when the job has failed

    ExportSource source_;
    journaled::Change intent_;  // from before the clear to the export's outcome
    int position_ = 0;
    std::string path_;
    int typeFormat_ = 0;
    DbLock lock_;
};
