// One change to many doors of a site: a key granted at some doors, revoked at every
// door, or its description changed wherever it is held. Each door's change is the key
// job of that door alone (the controller first, then its file, in its own journal);
// the site adds one line to its own journal ("<site>.journal") saying which doors were
// done, so that a rerun finishes the rest.
//
// Doors on one line are worked one after the other on that line's worker; doors on
// different lines in parallel, one thread per line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/keys/key_code.h"
#include "core/site/site_run.h"

struct SiteChange {
    enum class Kind { Grant, Revoke, Describe };
    Kind kind = Kind::Revoke;
    KeyCode code = 0;
    std::string description;         // Windows-1251 bytes: Grant, Describe
    std::vector<std::size_t> doors;  // the doors it is for; empty: every door of the site
};

struct SiteDoorOutcome {
    enum class State {
        Done,       // the door's controller and file now hold the change
        Unchanged,  // nothing to do: revoked where the key was not, granted where it was
        Failed,     // `text` says why; the door's journal has its line
        NotRun,     // stopped before this door
    };
    std::size_t door = 0;
    State state = State::NotRun;
    std::string text;  // UTF-8
};

// Told each door's outcome as it ends, from the thread of that door's line (one call at
// a time).
using SiteProgress = std::function<void(const SiteDoorOutcome&)>;

// Runs the change and writes the site's journal line. Outcomes in the order of `doors`.
std::vector<SiteDoorOutcome> RunSiteChange(const SiteRun& run, const SiteChange& change,
                                           TSiteLines& lines, const SiteProgress& progress = {});

// The operator's words for an outcome: "удалена", "не было", "ошибка: …".
std::string SiteOutcomeText(const SiteChange& change, const SiteDoorOutcome& outcome);
bool SiteChangeComplete(const std::vector<SiteDoorOutcome>& outcomes);

// The site journal's operations.
namespace journal {
inline constexpr const char* kSiteGrant = "site-grant";
inline constexpr const char* kSiteRevoke = "site-revoke";
inline constexpr const char* kSiteDescription = "site-description";
}  // namespace journal
