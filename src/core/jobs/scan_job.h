// The scan of a line: which controllers answer on it, for when nobody remembers their
// addresses. For each address one link check, a single attempt with a short reply
// time-out and no pause after it; an address that answers is confirmed by its key count,
// and only a confirmed answer lists a controller (a late reply of the address before is
// thus never taken for one). Replies that are there but wrong are listed as doubtful,
// with what came back and the likely cause, and so are bytes that come when no address
// was due (listed against the address before, whose late reply they most likely are,
// unless it was listed as doubtful already). Nothing is written to any controller.
#pragma once

#include <string>
#include <vector>

#include "core/jobs/job_host.h"
#include "core/link/requester.h"

struct ScanSettings {
    int from = 0;
    int to = MaxControllerAddress;
    int timeoutMs = 50;  // for each reply, after the prescribed 116 ms
};

// One address that answered.
struct ScanEntry {
    int address = 0;
    bool doubtful = false;
    int keyCount = 0;   // a controller: its key count
    std::string seen;   // doubtful: what came back (the bytes, or what was missing)
    std::string cause;  // doubtful: the likely cause
    // "Адрес 7: контроллер, карт(ключей): 3", or "Адрес 5: сомнительный ответ ..."
    std::string Text() const;
};

// Hears of each address as soon as it has been judged (the window's growing list).
class TScanSink {
  public:
    virtual ~TScanSink() = default;
    virtual void ScanAnswered(const ScanEntry& entry) = 0;
};

class TScanJob : public TJob {
  public:
    // `sink` hears of every answer; without one they go into the log. The settings are
    // taken as given (the host checks them).
    TScanJob(TJobHost& host, TScanSink* sink, const ScanSettings& settings);

    void Start() override;
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;

    const ScanSettings& Settings() const { return settings_; }
    const std::vector<ScanEntry>& Entries() const { return entries_; }
    int Done() const { return done_; }  // addresses judged so far
    int Total() const { return settings_.to - settings_.from + 1; }
    bool Stopped() const { return stopped_; }
    bool Complete() const { return complete_; }
    // What the rest takes at most: every address left unanswered.
    int MsLeft() const;

    // The time one address takes when nobody answers: the link check's prescribed waits
    // and bytes, then the reply time-out.
    static int SilentAddressMs(int timeoutMs);
    // The link check's prescribed waits (4 + 4 + 10 ms and 116 ms) and its six bytes.
    static int ScheduleMs();

  private:
    void Send(CommandCode command);
    void Record(const ScanEntry& entry);  // listed; the scan goes on at the same address
    void Judge(const ScanEntry& entry);   // listed; the next address
    void Next(bool doubtful = false);     // `doubtful`: this address was listed as such
    void End();

    TScanSink* sink_;
    ScanSettings settings_;
    std::vector<ScanEntry> entries_;
    int address_ = 0;
    bool confirming_ = false;
    int previous_ = -1;              // the address judged last
    bool previousDoubtful_ = false;  // ...and listed as doubtful
    bool strayAgain_ = false;        // this address's request has met stray bytes once already
    int done_ = 0;
    bool stopped_ = false;
    bool complete_ = false;
};
