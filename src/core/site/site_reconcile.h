// Every door of a site reconciled in one go: each door's controller read and compared
// with its file (the plan, all doors at once, lines in parallel), one question for the
// whole site, then door by door the reconcile of that door with its own copy of the
// controller, removals last. A door that fails or is cancelled does not stop the others;
// a rerun finishes what is left.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/site/site_run.h"

struct SiteReconcileDoor {
    std::size_t door = 0;
    enum class State {
        Unreachable,  // the read failed (the link's or the file's text in `text`)
        Agrees,       // nothing differs
        Differs,      // the plan below
        Done,         // applied, and the controller agrees with the file now
        Failed,       // applied in part or not at all (`text` says what was done)
        NotRun,       // stopped before this door
    };
    State state = State::NotRun;
    std::string text;  // UTF-8
    // The plan: keys to write, to remove (or adopt), whether the times or the vardex
    // differ, keys the same, codes held twice.
    int write = 0, remove = 0, same = 0, duplicates = 0;
    bool settings = false;
    std::string backup;  // the copy of what the controller held, once the read succeeded
};

class TSiteReconcile {
  public:
    TSiteReconcile(const SiteRun& run, TSiteLines& lines);
    ~TSiteReconcile();

    // Reads every door's controller and compares it with its file.
    void Plan();
    const std::vector<SiteReconcileDoor>& Doors() const { return doors_; }
    bool AnythingToApply() const;
    // Applies every door's plan (the answer to the one question was yes); doors that
    // agree or could not be read are left as they are. Returns true when every door
    // agrees at the end.
    bool Apply();
    bool AllAgree() const;

  private:
    struct Door;
    // The host's stop, asked: the door's job is cancelled (it ends between two requests).
    void CancelOnStop(Door& d) const;
    SiteRun run_;
    TSiteLines& lines_;
    std::vector<std::size_t> order_;
    std::vector<std::unique_ptr<Door>> work_;
    std::vector<SiteReconcileDoor> doors_;
};

// "записать: 2, удалить: 1, время, совпадает: 198" or the state's words.
std::string SiteReconcilePlanText(const SiteReconcileDoor& door);
