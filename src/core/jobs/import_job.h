// Importing keys from a CSV file (see core/keys/key_csv.h for the preview): the ticked
// description updates go to the file first, in one write, before the controller is
// touched; then each new key goes to the controller (0x22 store, one request each, the
// pause between) and, once accepted, to the file. Accepted keys are written in batches
// as one replacement of the file each, at least every half second, so that a key the
// controller holds reaches the file within about a second, and a failure, a cancel or a
// crash never leaves the file half-written. The journal has an intent for every 50 keys
// before the first of them is sent and its outcome once they are in the file: a job cut
// short names the batch to check; the last batch's outcome is the import's summary.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/jobs/job_host.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

struct ImportPlan {
    std::string path;            // the database file
    int typeFormat = 0;          // how keys are named in the log
    std::vector<DbKey> newKeys;  // to the controller, then the file, in this order
    std::vector<DbKey> updates;  // descriptions for the file only
};

// The one question before an import: how many keys go to the controller and the file,
// how many descriptions change, "Продолжить?".
std::string ImportQuestion(const ImportPlan& plan);

class TImportJob : public TJob {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // Sets the progress maximum to the number of new keys.
    TImportJob(TJobHost& host, ImportPlan plan, Clock clock = {});

    void Start() override;  // posts step 0
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    // Runs after each write of the file with the keys it added (the window adds their
    // rows) and the descriptions it changed.
    std::function<void(const std::vector<DbKey>& added, const std::vector<DbKey>& updated)> Written;

    int Stored = 0;               // new keys the controller accepted
    int Added = 0;                // of them, in the file
    int Updated = 0;              // descriptions changed in the file
    bool Cancelled = false;       // stopped by Cancel between two keys
    std::string Error;            // why the job stopped early, empty when it did not
    std::string Summary() const;  // "Добавлено карт(ключей): 3 из 5 ..."

  private:
    // The accepted keys not yet written, as one write; false with the file's error.
    bool Flush(std::string& error);
    void End();  // the journal line, the summary in the log
    // A line per description changed, with the one it replaced (read from `before`).
    void JournalUpdates(const DbModel& before);
    void EndBatch();  // a whole batch in both: its intent's outcome
    void Stop(const std::string& text);

    ImportPlan plan_;
    Clock clock_;
    std::vector<DbKey> pending_;
    std::chrono::steady_clock::time_point pendingSince_{};
    std::size_t next_ = 0;
    bool stopped_ = false;
    // The journal's intent for the batch of keys under way (at most kBatchKeys): written
    // before its first key goes to the controller, ended once its keys are in the file.
    journaled::Change batch_;
    DbLock lock_;  // from the first write of the file to the job's end
    journal::Entry batchEntry_;
    int batchStored_ = 0;
};
