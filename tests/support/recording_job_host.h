// A loop host that records everything a job asks for, for the tests and the benchmarks:
// the requests with their times on the loop's clock, the log, every box, the keys the
// check offered and added; questions take scripted answers.
#pragma once

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "core/jobs/check_job.h"
#include "core/jobs/job_host.h"

class TRecordingJobHost : public TLoopJobHost, public TCheckKeys {
  public:
    using TLoopJobHost::TLoopJobHost;

    void SendRequest(const RequestFrame& request) override {
        requests.push_back({request, loop_.Clock().Now()});
        TLoopJobHost::SendRequest(request);
    }
    void AddLine(const std::string& line) override { log.push_back(line); }
    void AppendToLastLine(const std::string& text) override {
        if (log.empty())
            log.push_back(text);
        else
            log.back() += text;
    }
    void ClosePort() override { ++portClosings; }
    void Finished(const JobBox& box) override {
        TLoopJobHost::Finished(box);
        boxes.push_back(box);
    }
    void Failed(const JobBox& box) override {
        TLoopJobHost::Failed(box);
        boxes.push_back(box);
    }
    bool AskYesNo(const JobBox& question) override {
        boxes.push_back(question);
        if (answers.empty())
            return false;
        const bool yes = answers.front();
        answers.pop_front();
        return yes;
    }
    void OfferMissingKey(KeyCode code, const std::string& text) override {
        offered.emplace_back(code, text);
    }
    bool AddMissingKeys(const Keys& keys) override {
        ++addWrites;
        if (addFailsAt >= 0 && static_cast<int>(added.size() + keys.size()) > addFailsAt)
            return false;
        added.insert(added.end(), keys.begin(), keys.end());
        return true;
    }

    struct SentRequest {
        RequestFrame frame;
        TJobClock::TimePoint at;
    };
    std::vector<SentRequest> requests;
    std::vector<std::string> log;  // the lines of mInfo
    int portClosings = 0;
    std::vector<JobBox> boxes;  // every box shown, questions included, in order
    std::vector<std::pair<KeyCode, std::string>> offered;
    std::vector<std::pair<KeyCode, std::string>> added;

    // Scripted answers: questions take them in order (No when none is left);
    // a write of missing keys fails when it would take the added keys past `addFailsAt`
    // (-1 never).
    std::deque<bool> answers;
    int addFailsAt = -1;
    int addWrites = 0;  // writes of missing keys asked for
};
