// The key list as the operator sees it: every key's number in the display format,
// ordered by that text. Built without a heap allocation per row, so that 65,535 rows
// format and sort in milliseconds.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "core/keys/database.h"

struct DisplayRow {
    KeyCode code = 0;
    std::uint32_t key = 0;  // index of the key in the model's list (file order)
    std::uint8_t length = 0;
    char text[23] = {};  // Format(typeFormat, code), at most 21 characters

    std::string_view Text() const { return {text, length}; }
};

// The one order of the key list, wherever it is shown or followed (the window's list, the
// command line's list, the export): the display texts in ascending byte order. Callers
// that need a stable order keep equal texts in file order.
inline bool KeyListBefore(std::string_view a, std::string_view b) {
    return a < b;
}

// One row per key, sorted by text (ascending byte order, as the list sorts its first
// column); rows of equal text keep file order.
std::vector<DisplayRow> SortedDisplayRows(int typeFormat, const std::vector<DbKey>& keys);

// A format switch: every row's text again in `typeFormat`, then one re-sort.
void ReformatDisplayRows(int typeFormat, std::vector<DisplayRow>& rows);
