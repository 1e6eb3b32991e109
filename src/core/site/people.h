// The people view of a site: one row per key across all its doors, with the doors that
// hold it. It is derived from the doors' database files each time, never stored.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/keys/database.h"

// One door as the view reads it: its keys, or why its file could not be read (such a door
// is shown as unreadable, never as a door without keys).
struct DoorKeys {
    bool readable = false;
    std::string error;  // UTF-8, when not readable
    const std::vector<DbKey>* keys = nullptr;
};

struct PeopleView {
    struct Row {
        KeyCode code = 0;
        // The description of the first door (in site order) that gives the key one; the
        // Windows-1251 bytes of the file.
        std::string description;
        bool descriptionsDiffer = false;  // two doors hold the key with other texts
    };
    std::size_t doorCount = 0;
    std::vector<Row> rows;  // by key number
    // rows x doors: the key's index in that door's key list, -1 where the door has it not.
    std::vector<std::int32_t> where;
    std::vector<std::size_t> keysPerDoor;  // distinct keys each door holds

    std::int32_t At(std::size_t row, std::size_t door) const {
        return where[row * doorCount + door];
    }
    bool Holds(std::size_t row, std::size_t door) const { return At(row, door) >= 0; }
    // The row of a key, or -1.
    std::ptrdiff_t RowOf(KeyCode code) const;
};

PeopleView BuildPeopleView(const std::vector<DoorKeys>& doors);

// Who opens what, for a spreadsheet: UTF-8 with a byte order mark, ';' between fields, a
// header row "Карта(ключ);Описание;<door>..." and a row per key with "+" where a door holds
// it; a door whose file could not be read has "?" in every row.
std::string PeopleCsv(const PeopleView& view, int typeFormat,
                      const std::vector<std::string>& doorNames,
                      const std::vector<DoorKeys>& doors);
