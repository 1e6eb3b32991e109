// The journal of a database as its reader meets it once every job has ended: each change
// written as an intent ("начато #id") before its first request and an outcome with the
// same "#id" after. The helpers check that pairing and give the final lines alone, so a
// test states what a change did and not how its lines are paired.
#pragma once

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "core/keys/journal.h"

namespace journal_final {

// `outcome` without its " #id".
inline std::string WithoutId(const std::string& outcome) {
    const std::string id = journal::OutcomeId(outcome);
    if (id.empty())
        return outcome;
    const size_t cut = outcome.size() - id.size() - 1;
    return outcome.substr(0, cut > 0 && outcome[cut - 1] == ' ' ? cut - 1 : cut);
}

// The lines without their intents, outcomes without their ids. Every intent must have
// exactly one outcome after it, and every id'd outcome an intent before it.
inline std::vector<journal::Line> FinalLines(const std::vector<journal::Line>& lines) {
    std::set<std::string> open, ended;
    std::vector<journal::Line> final;
    for (const journal::Line& line : lines) {
        const std::string id = journal::OutcomeId(line.entry.outcome);
        if (journal::IsIntent(line)) {
            EXPECT_TRUE(open.insert(id).second) << "an id begun twice: " << id;
            continue;
        }
        if (!id.empty()) {
            EXPECT_EQ(open.erase(id), 1u) << "an outcome with no intent before it: " << id;
            EXPECT_TRUE(ended.insert(id).second) << "an intent ended twice: " << id;
        }
        journal::Line l = line;
        l.entry.outcome = WithoutId(l.entry.outcome);
        final.push_back(std::move(l));
    }
    for (const std::string& id : open)
        ADD_FAILURE() << "an intent with no outcome: " << id;
    return final;
}

inline std::vector<journal::Line> FinalLines(const std::string& dbPath) {
    std::vector<journal::Line> lines;
    EXPECT_EQ(journal::ReadJournal(dbPath, lines), "");
    return FinalLines(lines);
}

}  // namespace journal_final
