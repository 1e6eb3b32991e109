// Work on many doors of a site at once: each line opened once by the host, its doors
// worked one after the other on that line's worker, and different lines in parallel,
// one thread per line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/jobs/job_host.h"
#include "core/site/site_file.h"

class TRequester;

// The lines of a site, as the host opens them. Called on the calling thread, before any
// door is worked, once per line and address in use.
class TSiteLines {
  public:
    virtual ~TSiteLines() = default;
    // The requester of the controller at `address` on `line` (a worker of its own per
    // line); nullptr with the reason in `error` when the line cannot be opened.
    virtual TRequester* Door(const std::string& line, int address, std::string& error) = 0;
};

struct SiteRun {
    std::string sitePath;
    const Site* site = nullptr;
    LineOverrides overrides;   // this computer's lines
    std::string backupFolder;  // where a reconcile keeps its copies ("": the user's own)
    // True once the host asks to stop: asked between two doors.
    std::function<bool()> stop;
};

// One door as the work on it sees it.
struct SiteTarget {
    std::size_t door = 0;
    std::string path;                 // its database file
    std::string line;                 // its line on this computer
    int address = 0;                  // from its file (0 when the file cannot be read)
    TRequester* requester = nullptr;  // nullptr: the line could not be opened (lineError)
    std::string lineError;
};

// Opens the lines of `doors` (when `lines` is given) on the calling thread, then calls
// `work` for each door: the doors of one line in site order on one thread, the lines in
// parallel. `work` runs on those threads; the caller's own data needs its own guard.
void RunByLine(const SiteRun& run, const std::vector<std::size_t>& doors, TSiteLines* lines,
               const std::function<void(const SiteTarget&)>& work);

// The host of one door's job, run to its end on a loop of its own: a failure is kept (its
// text for the door's outcome) and ends the job there.
class TSiteDoorHost : public TLoopJobHost {
  public:
    using TLoopJobHost::TLoopJobHost;
    void Failed(const JobBox& box) override {
        TLoopJobHost::Failed(box);
        CloseJob(JobEnd::Cancel);
    }
};

// Every door of the site when `doors` is empty.
std::vector<std::size_t> SiteDoorsOrAll(const Site& site, const std::vector<std::size_t>& doors);
