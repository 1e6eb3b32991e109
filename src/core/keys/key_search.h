// Finding keys in a long list as the operator types: by a number in any accepted form,
// by part of a number's digits in any of its forms, or by part of a description
// (case-insensitive, Cyrillic included). Each key's searchable text is prepared once,
// so that a keystroke over 65,535 keys costs a scan of a few megabytes at most.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/keys/database.h"

// What the search looks through for one key.
struct KeySearchEntry {
    KeyCode code = 0;
    // The key's forms without their fixed parts, separated by '|':
    // "12ABCD|018,43981|01843981|0001223629".
    std::string numbers;
    // The description (Windows-1251) folded: lower case, "ё" as "е".
    std::string description;
};

KeySearchEntry MakeKeySearchEntry(KeyCode code, std::string_view cp1251Description);

// One typed text, prepared once for matching every key.
struct KeyQuery {
    bool empty = true;        // nothing typed: every key matches
    bool exact = false;       // the text reads as a key number of the database's format
    KeyCode code = 0;         // that number
    std::string digits;       // part of a number: upper case, no blanks, "," for "."
    std::string description;  // the text folded as the descriptions are; empty when
                              // Windows-1251 cannot hold it
};

KeyQuery MakeKeyQuery(int typeFormat, std::string_view utf8Text);
bool KeyMatches(const KeyQuery& query, const KeySearchEntry& entry);

// The descriptions' case folding over Windows-1251 bytes.
std::string FoldCp1251(std::string_view cp1251);

// The keys (indices into `keys`) that match `text`, in the order of `keys`.
std::vector<std::size_t> SearchKeys(int typeFormat, const std::vector<DbKey>& keys,
                                    std::string_view utf8Text);
