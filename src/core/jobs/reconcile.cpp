#include "core/jobs/reconcile.h"

#include <algorithm>

#include "core/keys/cp1251.h"

namespace {

constexpr KeyCode CodeMask = 0xFFFFFF;

void SortByText(std::vector<DiffItem>::iterator first, std::vector<DiffItem>::iterator last) {
    std::stable_sort(first, last,
                     [](const DiffItem& a, const DiffItem& b) { return a.text < b.text; });
}

// The file's keys by the code that reaches the controller; the first entry of a code
// gives its description, as the file's own order would.
struct FileKey {
    KeyCode code;
    size_t index;
};

std::vector<FileKey> SortedFileKeys(const DbModel& file) {
    std::vector<FileKey> keys;
    keys.reserve(file.keys.size());
    for (size_t i = 0; i < file.keys.size(); ++i)
        keys.push_back({file.keys[i].code & CodeMask, i});
    std::stable_sort(keys.begin(), keys.end(),
                     [](const FileKey& a, const FileKey& b) { return a.code < b.code; });
    keys.erase(std::unique(keys.begin(), keys.end(),
                           [](const FileKey& a, const FileKey& b) { return a.code == b.code; }),
               keys.end());
    return keys;
}

// The controller keys older programs made of the file's invalid entries, sorted, each with
// the first entry that gives it.
std::vector<std::pair<KeyCode, const DbInvalidEntry*>> TruncatedEntries(const DbModel& file) {
    std::vector<std::pair<KeyCode, const DbInvalidEntry*>> codes;
    for (const DbInvalidEntry& entry : file.invalid) {
        if (entry.truncated)
            codes.emplace_back(*entry.truncated, &entry);
    }
    std::stable_sort(codes.begin(), codes.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    return codes;
}

std::string VardexText(int typeFormat, KeyCode vardex) {
    return vardex == 0 ? std::string("Отсутствует") : Format(typeFormat, vardex);
}

}  // namespace

int Differences::Count(DiffKind kind) const {
    return static_cast<int>(std::count_if(items.begin(), items.end(),
                                          [kind](const DiffItem& i) { return i.kind == kind; }));
}

bool Differences::Agree() const {
    // A code held twice is told, not repaired; an entry no controller can hold stays a
    // difference the operator must mend in the file.
    return std::all_of(items.begin(), items.end(),
                       [](const DiffItem& i) { return i.kind == DiffKind::Duplicate; });
}

Differences CompareWithFile(const ControllerImage& controller, const DbModel& file,
                            int typeFormat) {
    Differences diff;
    diff.controller = controller;
    diff.controllerSlots = static_cast<int>(controller.slotCodes.size());
    diff.fileTimeOpen = TimeOpenInRange(file.TimeOpen);
    diff.fileRetryRead = RetryReadInRange(file.RetryRead);
    diff.fileVardex = file.Vardex & CodeMask;

    const std::vector<FileKey> fileKeys = SortedFileKeys(file);
    const auto truncated = TruncatedEntries(file);

    std::vector<KeyCode> held(controller.slotCodes);
    for (KeyCode& code : held)
        code &= CodeMask;
    std::sort(held.begin(), held.end());

    std::vector<DiffItem> writes, extras, invalid, duplicates;
    size_t f = 0, h = 0;
    while (f < fileKeys.size() || h < held.size()) {
        if (h == held.size() || (f < fileKeys.size() && fileKeys[f].code < held[h])) {
            const DbKey& key = file.keys[fileKeys[f].index];
            writes.push_back({DiffKind::Write, fileKeys[f].code, Format(typeFormat, key.code),
                              Cp1251ToUtf8(key.description), 0});
            ++f;
            continue;
        }
        const KeyCode code = held[h];
        size_t end = h;
        while (end < held.size() && held[end] == code)
            ++end;
        const int slotCount = static_cast<int>(end - h);
        h = end;
        ++diff.controllerDistinct;
        std::string text = Format(typeFormat, code);
        if (slotCount > 1)
            duplicates.push_back({DiffKind::Duplicate, code, text, "", slotCount, false});
        if (f < fileKeys.size() && fileKeys[f].code == code) {
            ++diff.same;
            ++f;
        } else if (auto it = std::lower_bound(truncated.begin(), truncated.end(), code,
                                              [](const auto& t, KeyCode c) { return t.first < c; });
                   it != truncated.end() && it->first == code) {
            invalid.push_back(
                {DiffKind::Invalid, code, text, Cp1251ToUtf8(it->second->name), 0, false});
        } else {
            extras.push_back({DiffKind::Extra, code, text, DefaultDescription(code), slotCount});
        }
    }
    SortByText(writes.begin(), writes.end());
    SortByText(extras.begin(), extras.end());
    SortByText(invalid.begin(), invalid.end());
    SortByText(duplicates.begin(), duplicates.end());

    diff.items.reserve(writes.size() + extras.size() + invalid.size() + duplicates.size() + 2);
    for (auto& item : writes)
        diff.items.push_back(std::move(item));
    if (diff.fileTimeOpen != controller.TimeOpen || diff.fileRetryRead != controller.RetryRead) {
        diff.items.push_back({DiffKind::Times, 0,
                              "Время открывания замка " + std::to_string(diff.fileTimeOpen) +
                                  " сек. (в контроллере " + std::to_string(controller.TimeOpen) +
                                  "), повторное считывание " + std::to_string(diff.fileRetryRead) +
                                  " сек. (в контроллере " + std::to_string(controller.RetryRead) +
                                  ")",
                              ""});
    }
    if (diff.fileVardex != (controller.Vardex & CodeMask)) {
        diff.items.push_back({DiffKind::Vardex, diff.fileVardex,
                              "Вардекс " + VardexText(typeFormat, diff.fileVardex) +
                                  " (в контроллере " +
                                  VardexText(typeFormat, controller.Vardex & CodeMask) + ")",
                              ""});
    }
    for (auto& item : extras)
        diff.items.push_back(std::move(item));
    for (auto& item : invalid)
        diff.items.push_back(std::move(item));
    for (auto& item : duplicates)
        diff.items.push_back(std::move(item));
    return diff;
}

std::string InvalidEntryLine(const DiffItem& item) {
    return "Карта(ключ) " + item.text + " в контроллере соответствует записи файла «" +
           item.description + "» с недопустимым номером: не удаляется";
}

std::string SummaryLine(const Differences& diff) {
    int write = 0, remove = 0, adopt = 0, skip = 0, duplicates = 0, invalid = 0;
    bool times = false, vardex = false;
    for (const DiffItem& item : diff.items) {
        if (item.kind == DiffKind::Duplicate) {
            ++duplicates;
            continue;
        }
        if (item.kind == DiffKind::Invalid) {
            ++invalid;
            continue;
        }
        if (!item.ticked) {
            ++skip;
            continue;
        }
        switch (item.kind) {
            case DiffKind::Write:
                ++write;
                break;
            case DiffKind::Extra:
                ++(item.adopt ? adopt : remove);
                break;
            case DiffKind::Times:
                times = true;
                break;
            case DiffKind::Vardex:
                vardex = true;
                break;
            case DiffKind::Duplicate:
            case DiffKind::Invalid:
                break;
        }
    }
    std::string line =
        "Совпадает: " + std::to_string(diff.same) + ", записать: " + std::to_string(write) +
        ", удалить: " + std::to_string(remove) + ", добавить в файл: " + std::to_string(adopt);
    if (times)
        line += ", время: записать";
    if (vardex)
        line += ", вардекс: записать";
    if (skip > 0)
        line += ", пропустить: " + std::to_string(skip);
    if (invalid > 0)
        line += ", по записям с недопустимым номером: " + std::to_string(invalid);
    if (duplicates > 0)
        line += ", в нескольких ячейках: " + std::to_string(duplicates);
    return line;
}

DbModel BackupModel(const ControllerImage& controller, const DbModel& file, int typeFormat) {
    DbModel model;
    model.TimeOpen = controller.TimeOpen;
    model.RetryRead = controller.RetryRead;
    model.TypeFormat = typeFormat;
    model.Vardex = controller.Vardex;
    model.Address = file.Address;  // the copy is of this door's controller
    model.AddressInFile = file.AddressInFile;
    // Sorted copies and binary searches rather than hash tables: 65,535 keys in a few
    // milliseconds, without an allocation per key.
    std::vector<FileKey> described = SortedFileKeys(file);
    std::vector<KeyCode> distinct(controller.slotCodes);
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    std::vector<bool> seen(distinct.size(), false);
    model.keys.reserve(distinct.size());
    for (KeyCode code : controller.slotCodes) {
        const size_t at = static_cast<size_t>(
            std::lower_bound(distinct.begin(), distinct.end(), code) - distinct.begin());
        if (seen[at])
            continue;
        seen[at] = true;
        auto it = std::lower_bound(described.begin(), described.end(), code & CodeMask,
                                   [](const FileKey& k, KeyCode c) { return k.code < c; });
        if (it != described.end() && it->code == (code & CodeMask))
            model.keys.push_back({code, file.keys[it->index].description});
        else
            model.keys.push_back({code, DefaultDescription(code)});
    }
    return model;
}
