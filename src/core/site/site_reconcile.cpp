#include "core/site/site_reconcile.h"

#include <mutex>

#include "core/jobs/job_host.h"
#include "core/jobs/reconcile_job.h"
#include "core/keys/database.h"

namespace {

// The host of one door's reconcile: the site has asked its one question, so the door's
// own question is answered yes; the failure's text is kept.
class ReconcileHost : public TLoopJobHost {
  public:
    using TLoopJobHost::TLoopJobHost;
    bool AskYesNo(const JobBox&) override { return approved; }
    bool approved = false;
};

}  // namespace

struct TSiteReconcile::Door {
    std::size_t index = 0;  // in doors_
    TJobLoop loop;
    std::unique_ptr<ReconcileHost> host;
    std::unique_ptr<TReconcileJob> job;
    TRequester* requester = nullptr;
};

TSiteReconcile::TSiteReconcile(const SiteRun& run, TSiteLines& lines) : run_(run), lines_(lines) {}

void TSiteReconcile::CancelOnStop(Door& d) const {
    if (!d.job->CancelRequested && run_.stop && run_.stop())
        d.job->RequestCancel();
}

TSiteReconcile::~TSiteReconcile() {
    for (auto& d : work_) {
        if (d && d->job)
            d->job->RequestCancel();
        if (d && d->host)
            d->host->RunUntil([] { return false; });
    }
}

void TSiteReconcile::Plan() {
    const Site& site = *run_.site;
    order_ = SiteDoorsOrAll(site, {});
    doors_.assign(order_.size(), {});
    work_.clear();
    for (std::size_t i = 0; i < order_.size(); ++i) {
        doors_[i].door = order_[i];
        work_.push_back(std::make_unique<Door>());
        work_.back()->index = i;
    }
    std::mutex guard;
    RunByLine(run_, order_, &lines_, [&](const SiteTarget& t) {
        Door& d = *work_[t.door];
        SiteReconcileDoor& out = doors_[t.door];
        if (!t.requester) {
            out.state = SiteReconcileDoor::State::Unreachable;
            out.text = t.lineError;
            return;
        }
        if (run_.stop && run_.stop())
            return;
        ReconcileOptions options;
        options.databasePath = t.path;
        DbResult read = LoadDbFile(t.path, options.file);
        if (!read || !read.error.empty()) {
            out.state = SiteReconcileDoor::State::Unreachable;
            out.text = read.error;
            return;
        }
        options.typeFormat = site.typeFormat;
        if (!run_.backupFolder.empty())
            options.backupFolder = run_.backupFolder;
        d.requester = t.requester;
        d.host = std::make_unique<ReconcileHost>(d.loop, *t.requester);
        d.job = std::make_unique<TReconcileJob>(*d.host, std::move(options));
        d.host->Attach(*d.job);
        d.job->Start();
        d.host->RunUntil([&] {
            CancelOnStop(d);  // the read ends between two requests; the door is "Прервано"
            const ReconcilePhase p = d.job->Phase();
            return p != ReconcilePhase::Reading && d.host->outstanding == 0;
        });
        out.backup = d.job->BackupPath();
        switch (d.job->Phase()) {
            case ReconcilePhase::Review: {
                const Differences& diff = d.job->Diff();
                out.state = SiteReconcileDoor::State::Differs;
                out.write = diff.Count(DiffKind::Write);
                out.remove = diff.Count(DiffKind::Extra);
                out.settings = diff.Count(DiffKind::Times) + diff.Count(DiffKind::Vardex) > 0;
                out.same = diff.same;
                out.duplicates = diff.Count(DiffKind::Duplicate);
                break;
            }
            case ReconcilePhase::Done:
                out.state = SiteReconcileDoor::State::Agrees;
                out.same = d.job->Diff().same;
                out.duplicates = d.job->Diff().Count(DiffKind::Duplicate);
                break;
            default:
                out.state = SiteReconcileDoor::State::Unreachable;
                out.text = d.host->failed ? d.host->failed->text : "Прервано";
                break;
        }
        std::lock_guard<std::mutex> hold(guard);
    });
}

bool TSiteReconcile::AnythingToApply() const {
    for (const SiteReconcileDoor& d : doors_)
        if (d.state == SiteReconcileDoor::State::Differs)
            return true;
    return false;
}

bool TSiteReconcile::Apply() {
    std::vector<std::size_t> pending;
    for (std::size_t i = 0; i < doors_.size(); ++i)
        if (doors_[i].state == SiteReconcileDoor::State::Differs)
            pending.push_back(order_[i]);
    // Each door on its own line's thread, as planned; the plan's requesters stay open.
    RunByLine(run_, pending, nullptr, [&](const SiteTarget& t) {
        Door& d = *work_[t.door];
        SiteReconcileDoor& out = doors_[t.door];
        if (run_.stop && run_.stop()) {
            out.state = SiteReconcileDoor::State::NotRun;
            out.text = "Прервано";
            return;
        }
        d.host->approved = true;
        d.host->failed.reset();
        if (!d.job->Apply()) {
            out.state = d.job->Phase() == ReconcilePhase::Failed
                            ? SiteReconcileDoor::State::Failed
                            : SiteReconcileDoor::State::Differs;
            out.text = d.host->failed ? d.host->failed->text : std::string();
            return;
        }
        d.host->RunUntil([&] {
            // A stop asked during this door's apply ends it between two requests (its
            // journal says so); the doors after it are not begun.
            CancelOnStop(d);
            const ReconcilePhase p = d.job->Phase();
            return (p == ReconcilePhase::Done || p == ReconcilePhase::Failed ||
                    p == ReconcilePhase::Cancelled) &&
                   d.host->outstanding == 0;
        });
        if (d.job->Agree()) {
            out.state = SiteReconcileDoor::State::Done;
        } else if (d.job->Phase() == ReconcilePhase::Cancelled) {
            out.state = SiteReconcileDoor::State::Failed;
            out.text = "прервано, повторите сверку";
        } else {
            out.state = SiteReconcileDoor::State::Failed;
            out.text = d.host->failed ? d.host->failed->text
                                      : (d.host->finished ? d.host->finished->text : "");
        }
    });
    return AllAgree();
}

bool TSiteReconcile::AllAgree() const {
    for (const SiteReconcileDoor& d : doors_)
        if (d.state != SiteReconcileDoor::State::Agrees &&
            d.state != SiteReconcileDoor::State::Done)
            return false;
    return true;
}

std::string SiteReconcilePlanText(const SiteReconcileDoor& d) {
    using State = SiteReconcileDoor::State;
    switch (d.state) {
        case State::Unreachable:
            return "нет связи: " + d.text;
        case State::NotRun:
            return "не выполнено (прервано)";
        case State::Failed:
            return "ошибка: " + d.text;
        case State::Agrees:
        case State::Differs:
        case State::Done:
            break;
    }
    std::string text;
    auto add = [&](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
    if (d.state == State::Done) {
        add("выполнено");
        if (d.write)
            add("записано: " + std::to_string(d.write));
        if (d.remove)
            add("удалено: " + std::to_string(d.remove));
        if (d.settings)
            add("настройки записаны");
    }
    if (d.state == State::Agrees)
        add("совпадает");
    if (d.state == State::Differs) {
        if (d.write)
            add("записать: " + std::to_string(d.write));
        if (d.remove)
            add("удалить: " + std::to_string(d.remove));
        if (d.settings)
            add("настройки");
    }
    add("без изменений: " + std::to_string(d.same));
    if (d.duplicates)
        add("повторов: " + std::to_string(d.duplicates));
    return text;
}
