// Where every door of a site stands: is its controller reachable (a link check), how
// many keys its controller and its file hold, and when it was last reconciled.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "core/site/site_run.h"

struct SiteDoorStatus {
    std::size_t door = 0;
    bool reachable = false;
    std::string linkError;                // UTF-8, when not reachable
    std::optional<int> controllerKeys;    // the controller's key count, when read
    std::optional<std::size_t> fileKeys;  // the file's keys, when it could be read
    std::string fileError;
    std::string lastReconcile;  // the journal's time of the last reconcile ("" never)
    std::string lastReconcileOutcome;
};

// The status of each door in site order; the link checks run line by line in parallel.
std::vector<SiteDoorStatus> ReadSiteStatus(const SiteRun& run, TSiteLines& lines);
