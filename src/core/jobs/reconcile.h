// The comparison of a controller, as read, with the open database: what to write, what to
// remove or adopt, the times, the vardex, and codes held in more than one slot. Pure and
// fast (sorting, no lookups per key), so that 65,535 keys compare at once.
#pragma once

#include <string>
#include <vector>

#include "core/keys/database.h"

// What the read found in the controller.
struct ControllerImage {
    int TimeOpen = 0;
    int RetryRead = 0;
    KeyCode Vardex = 0;
    std::vector<KeyCode> slotCodes;  // slot order
};

enum class DiffKind {
    Write,      // in the file, not in the controller: stored in the controller
    Times,      // the two times differ: the file's are written
    Vardex,     // the vardex differs: the file's is written (or removed)
    Extra,      // in the controller, not in the file: removed, or adopted into the file
    Duplicate,  // a code in more than one slot: shown, nothing is done
    // In the controller, not in the file, but equal to what an older program made of a file
    // entry whose name is no valid key number (its low 24 bits): the entry is named, and
    // the key is neither removed nor adopted, since the operator must decide what it is.
    Invalid,
};

// The kinds that are only shown: nothing is ever done for them, ticked or not.
inline bool ShownOnly(DiffKind kind) {
    return kind == DiffKind::Duplicate || kind == DiffKind::Invalid;
}

struct DiffItem {
    DiffKind kind = DiffKind::Write;
    KeyCode code = 0;         // the key as the controller holds it (24 bits); Vardex: the file's
    std::string text;         // the key in the file's display format (Times, Vardex: a phrase)
    std::string description;  // UTF-8: Write the file's; Extra what adopting gives it;
                              // Invalid the file entry's name
    int slotCount = 0;        // Extra, Duplicate: how many slots hold the code
    bool ticked = true;       // to be applied (never for Duplicate)
    bool adopt = false;       // Extra: added to the file instead of removed
};

struct Differences {
    // Writes sorted by text, then the times, the vardex, the extra keys sorted by text, the
    // keys of invalid entries and the duplicates, each sorted by text.
    std::vector<DiffItem> items;
    int same = 0;                // distinct codes in both
    int controllerSlots = 0;     // keys the controller reported
    int controllerDistinct = 0;  // distinct codes among them
    int fileTimeOpen = 1;        // the file's times as they would be sent (in range)
    int fileRetryRead = 1;
    KeyCode fileVardex = 0;  // 24 bits, 0 none
    ControllerImage controller;

    int Count(DiffKind kind) const;
    // Nothing to write anywhere: the controller holds the file's keys, times and vardex
    // (a code held in more than one slot is told, but it is no difference to apply).
    bool Agree() const;
};

// Compares the controller with `file` (descriptions Windows-1251), keys shown in
// `typeFormat`. A file key is compared by the 24 bits that reach the controller.
Differences CompareWithFile(const ControllerImage& controller, const DbModel& file, int typeFormat);

// The line that names an Invalid item's file entry: "Карта(ключ) 000001 в контроллере
// соответствует записи файла «16777217» с недопустимым номером: не удаляется".
std::string InvalidEntryLine(const DiffItem& item);

// "Совпадает: 1998, записать: 2, удалить: 1, …" for the ticks as they stand.
std::string SummaryLine(const Differences& diff);

// The copy of what the controller held, as a database: its times and vardex, the file's
// display format, each code once in slot order with the file's description where the file
// has the key, its decimal text otherwise.
DbModel BackupModel(const ControllerImage& controller, const DbModel& file, int typeFormat);
