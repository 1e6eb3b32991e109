#include "core/site/site_status.h"

#include <mutex>

#include "core/jobs/job_host.h"
#include "core/jobs/request_job.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/link/command_set.h"

namespace {

// One request run to its end on the door's requester; the request's result.
int Ask(TRequester& requester, const RequestFrame& request, FrameData* replyData = nullptr) {
    TJobLoop loop;
    TLoopJobHost host(loop, requester);
    TRequestJob job(host, request);
    host.Attach(job);
    host.RunJob();
    if (replyData)
        *replyData = job.ReplyData;
    return job.Result;
}

bool Succeeded(int result) {
    return result == Ok || result == NotRun;
}

}  // namespace

std::vector<SiteDoorStatus> ReadSiteStatus(const SiteRun& run, TSiteLines& lines) {
    const std::vector<std::size_t> doors = SiteDoorsOrAll(*run.site, {});
    std::vector<SiteDoorStatus> status(doors.size());
    std::mutex guard;
    RunByLine(run, doors, &lines, [&](const SiteTarget& t) {
        SiteDoorStatus s;
        s.door = t.door;
        DbModel model;
        DbResult r = LoadDbFile(t.path, model);
        if (r && r.error.empty())
            s.fileKeys = model.keys.size();
        else
            s.fileError = r.error;
        std::vector<journal::Line> journalLines;
        if (journal::ReadJournal(t.path, journalLines).empty()) {
            for (auto it = journalLines.rbegin(); it != journalLines.rend(); ++it)
                if (it->wellFormed && it->entry.operation == journal::kReconcile) {
                    s.lastReconcile = it->time;
                    s.lastReconcileOutcome = it->entry.outcome;
                    break;
                }
        }
        if (!t.requester) {
            s.linkError = t.lineError;
        } else if (run.stop && run.stop()) {
            s.linkError = "Прервано";
        } else {
            int result = Ask(*t.requester, MakeCheckLink());
            s.reachable = Succeeded(result);
            if (!s.reachable) {
                s.linkError = ResultText(result);
            } else {
                FrameData reply{};
                result = Ask(*t.requester, MakeReadKeyCount(), &reply);
                if (Succeeded(result))
                    s.controllerKeys = DecodeKeyCount(reply);
            }
        }
        std::lock_guard<std::mutex> hold(guard);
        status[t.door] = std::move(s);
    });
    return status;
}
