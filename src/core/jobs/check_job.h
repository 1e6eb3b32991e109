// Checking the controller for keys that the open database lacks: read the key count and
// every slot, list each missing code once (ticked), and add the ticked ones on request.
#pragma once

#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "core/jobs/job_host.h"

// The database's side of the check: the host lists a key the controller holds and the
// database lacks (ticked), and adds such keys to the database, all of them in one write
// of the file (false when that failed and none was added; the host has then reported
// the failure itself).
class TCheckKeys {
  public:
    using Keys = std::vector<std::pair<KeyCode, std::string>>;  // code, description
    virtual ~TCheckKeys() = default;
    virtual void OfferMissingKey(KeyCode code, const std::string& text) = 0;
    virtual bool AddMissingKeys(const Keys& keys) = 0;
};

class TCheckJob : public TJob {
  public:
    // `known`: the codes of the main window's key list; `typeFormat`: the open database's.
    TCheckJob(TJobHost& host, TCheckKeys& keys, int typeFormat, const std::vector<KeyCode>& known);

    void Start() override;  // posts step 0
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    struct MissingKey {
        KeyCode code = 0;
        std::string text;  // display text; the key gets DefaultDescription
        bool ticked = true;
        bool added = false;  // already written to the database
    };
    // In the order found; the list shows them sorted by text.
    const std::vector<MissingKey>& Missing() const { return missing_; }
    void SetTicked(KeyCode code, bool ticked);
    // Whether "Добавить" has anything to do: a ticked row not added yet.
    bool AnyToAdd() const;

    // "Добавить": asks, then adds every ticked row not added before, sorted by text, in
    // one write, and asks the host to close with OK. Adds none when that write fails.
    // Returns the number of keys added.
    int Add();
    // Set before Add: after the answer, the database at `path` is read again under its
    // lock (held until the keys are written), and a key it holds by then is not added
    // again (its description stays the one it got meanwhile). False from Add's write
    // when the lock or the read fails; the host is told through Failed.
    void AddUnderLockOf(const std::string& path) { path_ = path; }

    int Step = 0;  // 0 counting, 1 scanning
    int KeyIndex = 0;
    int KeyCount = 0;

  private:
    void Finish();
    void Fail(int result);

    TCheckKeys& keys_;
    int typeFormat_;
    std::string path_;
    std::unordered_set<KeyCode> known_;  // in the database, or listed already
    std::vector<MissingKey> missing_;
};
