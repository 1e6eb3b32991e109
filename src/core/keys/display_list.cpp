// Formatting and ordering of the key list.
#include "core/keys/display_list.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

void SetText(DisplayRow& row, int typeFormat) {
    thread_local std::string buffer;
    buffer.clear();
    AppendFormatted(buffer, typeFormat, row.code);
    row.length = static_cast<std::uint8_t>(std::min(buffer.size(), sizeof(row.text)));
    std::memcpy(row.text, buffer.data(), row.length);
}

void SortRows(std::vector<DisplayRow>& rows) {
    std::sort(rows.begin(), rows.end(), [](const DisplayRow& a, const DisplayRow& b) {
        if (KeyListBefore(a.Text(), b.Text()))
            return true;
        return !KeyListBefore(b.Text(), a.Text()) && a.key < b.key;
    });
}

}  // namespace

std::vector<DisplayRow> SortedDisplayRows(int typeFormat, const std::vector<DbKey>& keys) {
    std::vector<DisplayRow> rows(keys.size());
    for (std::size_t i = 0; i < keys.size(); ++i) {
        rows[i].code = keys[i].code;
        rows[i].key = static_cast<std::uint32_t>(i);
        SetText(rows[i], typeFormat);
    }
    SortRows(rows);
    return rows;
}

void ReformatDisplayRows(int typeFormat, std::vector<DisplayRow>& rows) {
    for (DisplayRow& row : rows)
        SetText(row, typeFormat);
    SortRows(rows);
}
