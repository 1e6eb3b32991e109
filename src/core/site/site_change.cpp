#include "core/site/site_change.h"

#include <map>
#include <mutex>
#include <optional>

#include "core/jobs/job_host.h"
#include "core/jobs/key_edit_job.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"
#include "core/link/command_set.h"

namespace {

using State = SiteDoorOutcome::State;

const char* Operation(SiteChange::Kind kind) {
    switch (kind) {
        case SiteChange::Kind::Grant:
            return journal::kSiteGrant;
        case SiteChange::Kind::Revoke:
            return journal::kSiteRevoke;
        case SiteChange::Kind::Describe:
            break;
    }
    return journal::kSiteDescription;
}

SiteDoorOutcome Failed(std::size_t door, std::string text) {
    return {door, State::Failed, std::move(text)};
}

SiteDoorOutcome WorkDoor(const SiteTarget& t, const SiteChange& change, int typeFormat) {
    DbModel model;
    DbResult read = LoadDbFile(t.path, model);
    if (!read)
        return Failed(t.door, read.error);
    if (!read.error.empty())
        return Failed(t.door, read.error);  // a file read only in part
    const DbKey* held = nullptr;
    for (const DbKey& k : model.keys)
        if (k.code == change.code) {
            held = &k;
            break;
        }

    if (change.kind == SiteChange::Kind::Describe) {
        if (!held)
            return {t.door, State::Unchanged, {}};
        if (held->description == change.description)
            return {t.door, State::Unchanged, {}};
        // A description lives only in the file: nothing goes to the controller.
        DbResult r = journaled::SaveKey(t.path, change.code, change.description);
        if (!r)
            return Failed(t.door, r.error);
        return {t.door, State::Done, {}};
    }
    const bool grant = change.kind == SiteChange::Kind::Grant;
    if (grant == (held != nullptr))
        return {t.door, State::Unchanged, {}};
    if (!t.requester)
        return Failed(t.door, t.lineError);

    DbLock lock;
    if (DbResult r = LockDbForWrite(t.path, lock); !r)
        return Failed(t.door, r.error);
    KeyEdit edit;
    edit.kind = grant ? KeyEdit::Kind::Add : KeyEdit::Kind::Remove;
    edit.path = t.path;
    edit.typeFormat = typeFormat;
    edit.oldCode = grant ? 0 : change.code;
    edit.newCode = grant ? change.code : 0;
    edit.description = change.description;
    TJobLoop loop;
    std::optional<TKeyEditJob> job;
    std::string failure;
    {
        TSiteDoorHost host(loop, *t.requester);
        job.emplace(host, edit);
        host.Attach(*job);
        host.RunJob();
        if (host.failed)
            failure = host.failed->text;
    }
    if (job->Complete())
        return {t.door, State::Done, {}};
    if (failure.empty())
        failure = ResultText(job->Result);
    return Failed(t.door, failure);
}

std::string DoorList(const Site& site, const std::vector<SiteDoorOutcome>& outcomes, State state,
                     bool withText) {
    std::string list;
    for (const SiteDoorOutcome& o : outcomes) {
        if (o.state != state)
            continue;
        if (!list.empty())
            list += "; ";
        list += site.doors[o.door].name;
        if (withText && !o.text.empty())
            list += " (" + o.text + ")";
    }
    return list;
}

}  // namespace

std::vector<SiteDoorOutcome> RunSiteChange(const SiteRun& run, const SiteChange& change,
                                           TSiteLines& lines, const SiteProgress& progress) {
    const Site& site = *run.site;
    const std::vector<std::size_t> doors = SiteDoorsOrAll(site, change.doors);
    std::vector<SiteDoorOutcome> outcomes(doors.size());
    std::map<std::size_t, std::size_t> slot;  // door -> its place in `outcomes`
    for (std::size_t i = 0; i < doors.size(); ++i) {
        slot[doors[i]] = i;
        outcomes[i].door = doors[i];
    }
    std::mutex told;
    // A description lives in the files alone: no line is opened for it.
    TSiteLines* used = change.kind == SiteChange::Kind::Describe ? nullptr : &lines;
    RunByLine(run, doors, used, [&](const SiteTarget& t) {
        SiteDoorOutcome o{t.door, State::NotRun, "Прервано"};
        if (!run.stop || !run.stop())
            o = WorkDoor(t, change, site.typeFormat);
        std::lock_guard<std::mutex> hold(told);
        outcomes[slot[t.door]] = o;
        if (progress)
            progress(o);
    });

    journal::Entry entry;
    entry.operation = Operation(change.kind);
    entry.key = journal::KeyField(site.typeFormat, change.code);
    entry.description = Cp1251ToUtf8(change.description);
    entry.newValue = DoorList(site, outcomes, State::Done, false);
    std::string failed = DoorList(site, outcomes, State::Failed, true);
    std::string notRun = DoorList(site, outcomes, State::NotRun, false);
    if (failed.empty() && notRun.empty()) {
        entry.outcome = journal::kOk;
    } else {
        entry.outcome.clear();
        if (!failed.empty())
            entry.outcome = "не выполнено: " + failed;
        if (!notRun.empty())
            entry.outcome +=
                (entry.outcome.empty() ? "" : "; ") + std::string("прервано: ") + notRun;
    }
    journal::Record(run.sitePath, entry);
    return outcomes;
}

std::string SiteOutcomeText(const SiteChange& change, const SiteDoorOutcome& o) {
    switch (o.state) {
        case State::Done:
            switch (change.kind) {
                case SiteChange::Kind::Grant:
                    return "добавлена";
                case SiteChange::Kind::Revoke:
                    return "удалена";
                case SiteChange::Kind::Describe:
                    return "описание изменено";
            }
            break;
        case State::Unchanged:
            switch (change.kind) {
                case SiteChange::Kind::Grant:
                    return "уже была";
                case SiteChange::Kind::Revoke:
                    return "не было";
                case SiteChange::Kind::Describe:
                    return "без изменений";
            }
            break;
        case State::Failed:
            return "ошибка: " + o.text;
        case State::NotRun:
            break;
    }
    return "не выполнено (прервано)";
}

bool SiteChangeComplete(const std::vector<SiteDoorOutcome>& outcomes) {
    for (const SiteDoorOutcome& o : outcomes)
        if (o.state == State::Failed || o.state == State::NotRun)
            return false;
    return true;
}
