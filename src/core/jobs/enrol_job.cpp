#include "core/jobs/enrol_job.h"

#include "core/keys/cp1251.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

namespace {
constexpr int kPollStep = 0;
constexpr int kStoreStep = 1;
}  // namespace

class TEnrolJob::PollHost : public TReaderPollHost {
  public:
    explicit PollHost(TJobHost& outer) : outer_(outer) {}
    void SendRequest(const RequestFrame& request) override { outer_.SendRequest(request); }
    void PostStep(int) override { outer_.PostStep(kPollStep); }
    void ContinueAfterPause(int) override { outer_.ContinueAfterPause(kPollStep); }
    void PollFailed(const JobBox& box) override {
        outer_.Failed(box);
        outer_.CloseJob(JobEnd::Cancel);
    }

  private:
    TJobHost& outer_;
};

TEnrolJob::TEnrolJob(TJobHost& host, std::string path, int typeFormat,
                     const std::vector<DbKey>& known)
    : TJob(host), path_(std::move(path)), typeFormat_(typeFormat) {
    for (const DbKey& k : known)
        known_.emplace(k.code, k.description);
    pollHost_ = std::make_unique<PollHost>(host);
    // The dialog closes at once, a request in flight or not.
    CanClose = true;
}

TEnrolJob::~TEnrolJob() = default;

std::string TEnrolJob::Expand(const std::string& templ, int n) {
    std::string out = templ;
    const std::string number = std::to_string(n);
    for (std::size_t at = out.find("{n}"); at != std::string::npos;
         at = out.find("{n}", at + number.size()))
        out.replace(at, 3, number);
    return out;
}

void TEnrolJob::Start() {
    // The keys go to the file as they come: a file that cannot take them is refused
    // before the first request.
    if (DbResult r = CheckDbWritable(path_); !r) {
        stopped_ = true;
        host_.Failed({"Ошибка", r.error, BoxIcon::Error});
        host_.CloseJob(JobEnd::Cancel);
        return;
    }
    Poll();
}

void TEnrolJob::Poll() {
    if (stopped_)
        return;
    poll_ = std::make_unique<TReaderPollJob>(*pollHost_);
    poll_->KeyRead = [this](KeyCode code) { OnKey(code); };
    poll_->CheckLinkFirst = CheckLinkFirst && !polled_;
    polled_ = true;
    poll_->Start();
}

void TEnrolJob::OnStep(int step) {
    if (stopped_)
        return;
    if (step == kStoreStep) {
        // No intent in the journal, no request: a key cut short must leave its trace.
        if (const std::string error = intent_.Begin(path_, StoreEntry("")); !error.empty()) {
            stopped_ = true;
            host_.Failed({"Ошибка", error, BoxIcon::Error});
            host_.CloseJob(JobEnd::Cancel);
            return;
        }
        storing_ = true;
        host_.SendRequest(MakeWriteKey(storeCode_, true, false, KeyFiller::KeyDialog));
        return;
    }
    if (poll_ && poll_->Waiting())
        poll_->OnStep(step);
    else
        Poll();
}

void TEnrolJob::OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) {
    if (!IsSuccess(result))
        lastResult_ = result;
    if (!storing_) {
        // Nobody at the reader: a key skipped a moment ago has been taken away.
        if (IsSuccess(result) && reply[4] == 0)
            skipped_ = 0;
        if (poll_)
            poll_->OnCompletion(result, reply, replyData);  // dropped once stopped
        return;
    }
    storing_ = false;
    if (!IsSuccess(result)) {
        intent_.End(StoreEntry(ResultText(result)), false);
        if (stopped_)
            return;
        stopped_ = true;
        host_.Failed({"Ошибка связи с контроллером", ResultText(result), BoxIcon::Error});
        host_.CloseJob(JobEnd::Cancel);
        return;
    }
    // The controller holds the key: the file gets it too, even after Stop.
    DbResult r = SaveKey(path_, storeCode_, storeDescription_);
    intent_.End(StoreEntry(journaled::Outcome(r)), r.ok);
    if (!r) {
        // Every further key would go the same way, into the controller alone: the run
        // ends here, and only the keys in both count as added.
        Report({EnrolEvent::FileFailed, storeCode_, Cp1251ToUtf8(storeDescription_), AddedCount + 1,
                r.error});
        const bool wasStopped = stopped_;
        Stop();
        const std::string text = "Карта(ключ) " + Format(typeFormat_, storeCode_) +
                                 " записана в контроллер, но не в файл: " + r.error;
        host_.Failed({"Ошибка", text, BoxIcon::Error});
        if (!wasStopped)
            host_.CloseJob(JobEnd::Cancel);
        return;
    }
    const int n = ++AddedCount;
    known_[storeCode_] = storeDescription_;
    Report({EnrolEvent::Added, storeCode_, Cp1251ToUtf8(storeDescription_), n, ""});
    if (!stopped_)
        host_.ContinueAfterPause(kPollStep);
}

void TEnrolJob::OnKey(KeyCode code) {
    if (stopped_)
        return;
    if (code == last_) {
        // Still held at the reader: it counted already.
        host_.ContinueAfterPause(kPollStep);
        return;
    }
    if (code == skipped_) {
        // Still at the reader after the operator declined it: not asked about again
        // until it has been taken away.
        host_.ContinueAfterPause(kPollStep);
        return;
    }
    skipped_ = 0;
    last_ = code;
    if (auto it = known_.find(code); it != known_.end()) {
        Report({EnrolEvent::Known, code, Cp1251ToUtf8(it->second), 0, ""});
        host_.ContinueAfterPause(kPollStep);
        return;
    }
    std::optional<std::string> description;
    if (DescriptionFor)
        description = DescriptionFor(code, AddedCount + 1);
    else
        description = Expand(Template, AddedCount + 1);
    if (stopped_)
        return;  // stopped while the description was asked for
    if (!description) {
        // Skipped: presenting it again asks again.
        last_ = 0;
        skipped_ = code;
        host_.ContinueAfterPause(kPollStep);
        return;
    }
    storeCode_ = code;
    storeDescription_ = *description;
    host_.ContinueAfterPause(kStoreStep);
}

journal::Entry TEnrolJob::StoreEntry(const std::string& outcome) const {
    return {journal::kEnrol,
            journal::KeyField(typeFormat_, storeCode_),
            Cp1251ToUtf8(storeDescription_),
            "",
            "",
            outcome};
}

void TEnrolJob::Report(const EnrolEvent& event) {
    if (Reported)
        Reported(event);
}

void TEnrolJob::Stop() {
    stopped_ = true;
    if (poll_)
        poll_->Stop();
}
