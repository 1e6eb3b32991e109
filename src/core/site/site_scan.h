// A site's doors from a scan of one of its lines: every controller found there that is not
// a door of the site yet becomes one, named "Дверь N" (N its address), its controller
// loaded into a new database file of its own beside the site file ("door-N.vx2", or
// "door-N-2.vx2" and so on where that name is taken: no file is ever overwritten). The
// site file gets the doors loaded, in one save; a controller whose load failed is named
// with its reason and left out.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/jobs/scan_job.h"
#include "core/site/site_file.h"

class TRequester;

struct ScannedDoor {
    int address = 0;
    std::string name;   // "Дверь 7"
    std::string file;   // the new database file (absolute)
    int keys = 0;       // loaded: the keys the controller held
    std::string error;  // "" once loaded; the reason otherwise
    bool done = false;  // its load has ended, either way
};

// The doors a scan adds: each controller found (a confirmed answer, not a doubtful one)
// whose address is no door's on `line` (as this computer has the doors' lines).
std::vector<ScannedDoor> PlanScannedDoors(const std::string& sitePath, const Site& site,
                                          const std::string& line,
                                          const std::vector<ScanEntry>& found,
                                          const LineOverrides& overrides = {});

// Loads each planned door from its controller through `lineWorker` (the line's worker;
// each load's requests go to its door's address), one after the other, and saves the site
// with the doors that were loaded. `stop` is asked between two doors; `progress` hears of
// each door as its load ends. Returns the site file's result (ok, with nothing saved, when
// no door was loaded).
SiteResult AddScannedDoors(const std::string& sitePath, Site& site, const std::string& line,
                           TRequester& lineWorker, std::vector<ScannedDoor>& doors,
                           const std::function<bool()>& stop = {},
                           const std::function<void(const ScannedDoor&)>& progress = {});
