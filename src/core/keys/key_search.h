// Finding keys in a long list as the operator types: by a number in any accepted form,
// by part of a number's digits in any of its forms, or by part of a description
// (case-insensitive, Cyrillic included).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/keys/database.h"

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

// What the search looks through, for a whole list: every key's forms in one buffer and
// every folded description in another, so that a keystroke is two scans of memory
// rather than one string search per key.
class KeySearchIndex {
  public:
    void Clear();
    void Reserve(std::size_t keys);
    // Keys are numbered in the order they are appended, from 0.
    void Append(KeyCode code, std::string_view cp1251Description);
    void Assign(const std::vector<DbKey>& keys);
    std::size_t Size() const { return codes_.size(); }

    // Sets flags[i] to 1 for each key i that matches and 0 for the others; returns how
    // many match.
    std::size_t Match(const KeyQuery& query, std::vector<std::uint8_t>& flags) const;

  private:
    static void Mark(const std::string& buffer, const std::vector<std::uint32_t>& starts,
                     const std::string& needle, std::vector<std::uint8_t>& flags);

    std::vector<KeyCode> codes_;
    // The forms without their fixed parts, '|' between forms, '\0' after each key:
    // "12ABCD|018,43981|01843981|0001223629".
    std::string numbers_;
    std::vector<std::uint32_t> numberStarts_;  // one per key, and the end
    std::string descriptions_;                 // folded: lower case, "ё" as "е"; '\0' after each
    std::vector<std::uint32_t> descriptionStarts_;
};

// The descriptions' case folding over Windows-1251 bytes.
std::string FoldCp1251(std::string_view cp1251);

// The keys (indices into `keys`) that match `text`, in the order of `keys`.
std::vector<std::size_t> SearchKeys(int typeFormat, const std::vector<DbKey>& keys,
                                    std::string_view utf8Text);
