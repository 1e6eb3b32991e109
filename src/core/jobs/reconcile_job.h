// Bringing the controller in line with the open database without clearing it: read the
// controller as the load does, keep a copy of what it held, compare, and after one
// question write only the differences (missing keys first, extra keys last), then read
// the key count again to verify. The file is read again under its lock after the answer
// and held until the apply ends, so a change made meanwhile is neither undone nor lost.
#pragma once

#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "core/jobs/controller_read.h"
#include "core/jobs/reconcile.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

// The most keys a controller holds (its key count is 16 bits).
constexpr int MaxControllerKeys = 65535;

struct ReconcileOptions {
    std::string databasePath;  // the open file: names the copy, receives adopted keys
    DbModel file;              // the open file, read whole (read again before any write)
    int typeFormat = TypeFormatIButton;
    std::string backupFolder;          // where the copy goes (BackupFolder() by default)
    std::function<std::time_t()> now;  // the wall clock for the copy's name
    // The comparison is ready (the list of differences to show), or the job found nothing
    // to do. Called once, before the question.
    std::function<void(const Differences&)> differencesReady;
};

enum class ReconcilePhase {
    Reading,   // the read runs
    Review,    // differences listed, waiting for Apply
    Applying,  // writing the differences or verifying
    Done,      // ended (agreeing or not: see Agree())
    Failed,    // the read, the copy, the file or a write failed
    Cancelled,
};

class TReconcileJob : public TControllerRead {
  public:
    TReconcileJob(TJobHost& host, ReconcileOptions options);

    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    ReconcilePhase Phase() const { return phase_; }
    // The differences; the host changes the ticks and the per-key choice before Apply.
    Differences& Diff() { return diff_; }
    const Differences& Diff() const { return diff_; }
    // The copy of what the controller held (empty until the read has succeeded).
    const std::string& BackupPath() const { return backupPath_; }
    // File and controller agree now: nothing differed, or everything was applied, no code
    // is held twice and the verifying count matched.
    bool Agree() const { return agree_; }
    // The keys that Apply added to the file (for the main window's list).
    const std::vector<DbKey>& Adopted() const { return adopted_; }
    // The count the verify expects (distinct keys), and the count it read (-1 before).
    int ExpectedCount() const { return expected_; }
    int VerifiedCount() const { return verified_; }
    // What the apply has and has not done so far.
    std::string DoneSummary() const;

    // Asks once, then writes the adopted keys to the file and the ticked differences to the
    // controller. False when there was nothing to do, the answer was No, or the file could
    // not be written (the job has then failed).
    bool Apply();

  protected:
    void ReadFinished() override;
    void ReadFailed(int result) override;
    void LaterStep(int step) override;
    void LaterCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

  private:
    enum class ActionKind { Store, Settings, Vardex, Remove };
    struct Action {
        ActionKind kind;
        size_t item;  // in diff_.items: the key, the times or the vardex
        bool done = false;
    };
    static constexpr int ApplyStep = AfterRead;
    static constexpr int VerifyStep = AfterRead + 1;

    // The ticked differences as requests and the keys to adopt.
    void Collect(std::vector<Action>& stores, std::vector<Action>& settings,
                 std::vector<Action>& removals, std::vector<DbKey>& adopt) const;
    // After the answer: takes the file's lock (held to the end of the apply), reads the
    // file again and works the differences out from what it holds now. False when the
    // job has failed.
    bool RereadUnderLock();
    bool FailBeforeWrites(const std::string& text);  // always false
    void SendAction(Action& action);
    void Verify(int count);
    void StopApply();  // cancel while applying
    void FailApply(const std::string& description);

    ReconcileOptions options_;
    DbLock lock_;  // the file's, from the reread after the answer to the end of the apply
    ReconcilePhase phase_ = ReconcilePhase::Reading;
    Differences diff_;
    std::string backupPath_;
    journaled::Change intent_;  // the apply's, from before its first change to its outcome
    std::vector<Action> plan_;
    size_t applyIndex_ = 0;
    std::vector<DbKey> adopted_;
    bool removalsFirst_ = false;
    bool agree_ = false;
    int expected_ = 0;
    int verified_ = -1;
    int position_ = 0;
};
