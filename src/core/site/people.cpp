#include "core/site/people.h"

#include <algorithm>

#include "core/keys/cp1251.h"
#include "core/keys/key_csv.h"

PeopleView BuildPeopleView(const std::vector<DoorKeys>& doors) {
    struct Hold {
        KeyCode code;
        std::uint32_t door;
        std::int32_t index;
    };
    std::vector<Hold> holds;
    std::size_t total = 0;
    for (const DoorKeys& d : doors)
        if (d.readable && d.keys)
            total += d.keys->size();
    holds.reserve(total);
    for (std::size_t door = 0; door < doors.size(); ++door) {
        const DoorKeys& d = doors[door];
        if (!d.readable || !d.keys)
            continue;
        for (std::size_t i = 0; i < d.keys->size(); ++i)
            holds.push_back({(*d.keys)[i].code, static_cast<std::uint32_t>(door),
                             static_cast<std::int32_t>(i)});
    }
    // By key, then door, then file order: a door holding a key twice keeps its first entry.
    std::sort(holds.begin(), holds.end(), [](const Hold& a, const Hold& b) {
        if (a.code != b.code)
            return a.code < b.code;
        if (a.door != b.door)
            return a.door < b.door;
        return a.index < b.index;
    });

    PeopleView view;
    view.doorCount = doors.size();
    view.keysPerDoor.assign(doors.size(), 0);
    for (std::size_t i = 0; i < holds.size();) {
        const KeyCode code = holds[i].code;
        PeopleView::Row row;
        row.code = code;
        const std::size_t base = view.where.size();
        view.where.resize(base + doors.size(), -1);
        const std::string* first = nullptr;
        for (; i < holds.size() && holds[i].code == code; ++i) {
            const Hold& h = holds[i];
            std::int32_t& cell = view.where[base + h.door];
            if (cell >= 0)
                continue;
            cell = h.index;
            ++view.keysPerDoor[h.door];
            const std::string& text = (*doors[h.door].keys)[h.index].description;
            if (!first) {
                first = &text;
            } else if (text != *first) {
                row.descriptionsDiffer = true;
            }
            if (row.description.empty())
                row.description = text;
        }
        view.rows.push_back(std::move(row));
    }
    return view;
}

std::ptrdiff_t PeopleView::RowOf(KeyCode code) const {
    auto it = std::lower_bound(rows.begin(), rows.end(), code,
                               [](const Row& r, KeyCode c) { return r.code < c; });
    if (it == rows.end() || it->code != code)
        return -1;
    return it - rows.begin();
}

std::string PeopleCsv(const PeopleView& view, int typeFormat,
                      const std::vector<std::string>& doorNames,
                      const std::vector<DoorKeys>& doors) {
    std::string out = "\xEF\xBB\xBF";
    out += "Карта(ключ);Описание";
    for (const std::string& name : doorNames)
        out += ";" + CsvField(name);
    out += "\r\n";
    for (std::size_t r = 0; r < view.rows.size(); ++r) {
        const PeopleView::Row& row = view.rows[r];
        out += CsvField(Format(typeFormat, row.code));
        out += ";" + CsvField(Cp1251ToUtf8(row.description));
        for (std::size_t d = 0; d < view.doorCount; ++d) {
            out += ";";
            if (!doors[d].readable)
                out += "?";
            else if (view.Holds(r, d))
                out += "+";
        }
        out += "\r\n";
    }
    return out;
}
