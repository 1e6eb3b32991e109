// Enrolling keys by presenting them in a row: the reader poll runs without end; each key
// presented that the list lacks is stored at once in the controller (0x22) and then in
// the file, with a description from a template ("Сотрудник {n}", {n} counting the keys
// added in this run from 1) or one asked for each key. A key already in the list is
// reported with its description and not written; the same key read twice in a row (held
// at the reader) counts once. Stop ends the poll; a store already sent still reaches the
// file when the controller accepts it, so the two never disagree. A file that cannot take
// a key ends the run (the key is then in the controller only, and said so).
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "core/jobs/job_host.h"
#include "core/jobs/reader_poll_job.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

struct EnrolEvent {
    enum Kind { Added, Known, FileFailed } kind = Added;
    KeyCode code = 0;
    std::string description;  // UTF-8: the one written, or the one the list has
    int n = 0;                // Added: the key's number in this run, from 1
    std::string error;        // FileFailed: the file's error (the controller has the key)
};

class TEnrolJob : public TJob {
  public:
    // `known`: the keys of the open file with their descriptions (Windows-1251).
    TEnrolJob(TJobHost& host, std::string path, int typeFormat, const std::vector<DbKey>& known);
    ~TEnrolJob() override;

    // The description of the n-th key added (Windows-1251); unset: use the template.
    // Returning nothing skips the key (it is not written anywhere, and not asked about
    // again while it stays at the reader). It may run a modal question: the poll waits.
    std::function<std::optional<std::string>(KeyCode code, int n)> DescriptionFor;
    // The template, Windows-1251; "{n}" becomes the key's number in this run.
    std::string Template;
    // What happened to each key presented.
    std::function<void(const EnrolEvent& event)> Reported;
    // Set before Start: the first poll checks the link first (see TReaderPollJob).
    bool CheckLinkFirst = false;

    void Start() override;
    void OnStep(int step) override;
    void OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) override;
    // Closing the dialog, Ctrl+C: no further request.
    void Stop();
    bool Stopped() const { return stopped_; }
    // A store is under way: its completion will write the file.
    bool Storing() const { return storing_; }
    // The result of the last failing request (the poll's or the store's).
    int LastResult() const { return lastResult_; }

    int AddedCount = 0;  // keys stored in the controller and in the file

    // The template with {n} filled in.
    static std::string Expand(const std::string& templ, int n);

  private:
    // The journal's line of the key being stored, with `outcome`.
    journal::Entry StoreEntry(const std::string& outcome) const;
    // The reader poll runs through this adapter, so its steps and completions come back
    // here and are told apart from the store's.
    class PollHost;
    void Poll();
    void OnKey(KeyCode code);
    void Report(const EnrolEvent& event);

    std::string path_;
    int typeFormat_;
    std::unordered_map<KeyCode, std::string> known_;
    std::unique_ptr<PollHost> pollHost_;
    std::unique_ptr<TReaderPollJob> poll_;
    bool storing_ = false;
    int lastResult_ = Ok;
    bool stopped_ = false;
    bool polled_ = false;  // a poll has been made: the link check is behind us
    KeyCode last_ = 0;
    KeyCode skipped_ = 0;  // declined, and the reader has not been empty since
    KeyCode storeCode_ = 0;
    std::string storeDescription_;
    journaled::Change intent_;  // the key being stored: before its request, to its outcome
};
