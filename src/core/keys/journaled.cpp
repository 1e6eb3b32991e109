#include "core/keys/journaled.h"

#include "core/keys/cp1251.h"
#include "core/keys/display_list.h"
#include "core/keys/key_code.h"

namespace journaled {
namespace {

const DbKey* FindKey(const DbModel& model, KeyCode code) {
    for (const DbKey& key : model.keys) {
        if (key.code == code) {
            return &key;
        }
    }
    return nullptr;
}

std::string Shown(int typeFormat, KeyCode code) {
    return code == 0 ? std::string() : Format(typeFormat, code);
}

std::string ShownKey(int typeFormat, KeyCode code) {
    return code == 0 ? std::string() : journal::KeyField(typeFormat, code);
}

std::string Times(int timeOpen, int retryRead) {
    return "TimeOpen=" + std::to_string(timeOpen) + ", RetryRead=" + std::to_string(retryRead);
}

DbResult Note(const std::string& path, journal::Entry entry, DbResult result) {
    entry.outcome = Outcome(result);
    journal::Record(path, entry, result.ok);
    return result;
}

}  // namespace

// A file that cannot be read yet (a new one) reads as the defaults, which is what the
// program shows for it.
DbModel Before(const std::string& path) {
    DbModel model;
    LoadDbFile(path, model);
    return model;
}

journal::Entry KeyAdded(const DbModel& before, KeyCode code, const std::string& description) {
    return {journal::kKeyAdd,
            journal::KeyField(before.TypeFormat, code),
            Cp1251ToUtf8(description),
            "",
            "",
            journal::kOk};
}

journal::Entry KeyRemoved(const DbModel& before, KeyCode code) {
    const DbKey* old = FindKey(before, code);
    return {journal::kKeyRemove,
            journal::KeyField(before.TypeFormat, code),
            old ? Cp1251ToUtf8(old->description) : std::string(),
            "",
            "",
            journal::kOk};
}

journal::Entry KeyRenumbered(const DbModel& before, KeyCode oldCode, KeyCode newCode,
                             const std::string& description) {
    const std::string oldShown = Format(before.TypeFormat, oldCode);
    return {journal::kKeyRenumber,
            journal::KeyField(before.TypeFormat, oldCode),
            Cp1251ToUtf8(description),
            oldShown,
            Format(before.TypeFormat, newCode),
            journal::kOk};
}

journal::Entry VardexSet(const DbModel& before, KeyCode code) {
    return {journal::kVardex,
            ShownKey(before.TypeFormat, code),
            "",
            Shown(before.TypeFormat, before.Vardex),
            Shown(before.TypeFormat, code),
            journal::kOk};
}

journal::Entry TimesSet(const DbModel& before, int timeOpen, int retryRead) {
    return {journal::kTimes, "", "",
            // The file's own text, also a time the program took otherwise.
            Times(before.TimeOpenInFile.value_or(before.TimeOpen),
                  before.RetryReadInFile.value_or(before.RetryRead)),
            Times(timeOpen, retryRead), journal::kOk};
}

std::string Refused(const std::string& path, journal::Entry entry, const std::string& error) {
    entry.outcome = error;
    return journal::Record(path, entry, false);
}

std::string TellInterruptedChanges(const std::string& path) {
    // Read at every open: a journal without any intent is passed over without parsing it.
    std::string bytes;
    if (ReadWholeFile(journal::JournalPath(path), bytes) != 0 ||
        bytes.find(std::string("\t") + journal::kStarted + " #") == std::string::npos)
        return "";
    std::vector<journal::Line> open = journal::UnfinishedIntents(journal::ParseJournal(bytes));
    if (open.empty())
        return "";
    {
        // Its writer holds the lock while the job runs: not cut short, only not done yet.
        DbLock probe;
        if (probe.TryAcquire(path) != 0)
            return "";
    }
    std::string text =
        open.size() == 1 ? "Изменение не было завершено:" : "Изменения не были завершены:";
    for (const journal::Line& line : open) {
        const journal::Entry& e = line.entry;
        text += "\r" + line.time + " " + line.login + "@" + line.host + ": " + e.operation;
        for (const std::string* field : {&e.key, &e.description, &e.newValue}) {
            if (!field->empty())
                text += " " + *field;
        }
        journal::Entry closed = e;
        closed.outcome = "не завершено #" + journal::OutcomeId(e.outcome);
        journal::Record(path, closed, false);
    }
    text +=
        "\rКонтроллер и файл могут расходиться. Проверьте контроллер: «Проверка "
        "карт(ключей)» или сверка с контроллером.";
    return text;
}

std::string Change::Begin(const std::string& dbPath, journal::Entry entry) {
    if (DbResult locked = LockDbForWrite(dbPath, lock_); !locked)
        return locked.error;
    std::string error = intent_.Begin(dbPath, std::move(entry));
    if (error.empty())
        return "";
    lock_.Release();
    return journal::IntentFailureText(journal::JournalPath(dbPath), error);
}

std::string Change::End(journal::Entry entry, bool report) {
    std::string error = intent_.End(std::move(entry), report);
    lock_.Release();
    return error;
}

std::string KeyCount(size_t count) {
    return "карт(ключей): " + std::to_string(count);
}

std::string Outcome(const DbResult& result) {
    return result.ok ? std::string(journal::kOk) : result.error;
}

DbResult NewDbFile(const std::string& path) {
    return Note(path, {journal::kNewFile, "", "", "", "", ""}, ::NewDbFile(path));
}

DbResult SaveVardex(const std::string& path, KeyCode code) {
    journal::Entry entry = VardexSet(Before(path), code);  // read before the write
    return Note(path, std::move(entry), ::SaveVardex(path, code));
}

DbResult SaveSettings(const std::string& path, int timeOpen, int retryRead, int typeFormat) {
    const DbModel before = Before(path);
    DbResult result = ::SaveSettings(path, timeOpen, retryRead, typeFormat);
    Note(path, TimesSet(before, timeOpen, retryRead), result);
    if (typeFormat != before.TypeFormat) {
        Note(path,
             {journal::kFormat, "", "", TypeFormatCaption(before.TypeFormat),
              TypeFormatCaption(typeFormat), ""},
             result);
    }
    return result;
}

DbResult SaveTypeFormat(const std::string& path, int typeFormat) {
    // The old format comes from the write itself: a switch on a long list does not read
    // the whole file twice.
    int before = 0;
    DbResult result = ::SaveTypeFormat(path, typeFormat, &before);
    return Note(
        path,
        {journal::kFormat, "", "", TypeFormatCaption(before), TypeFormatCaption(typeFormat), ""},
        std::move(result));
}

DbResult SaveAddress(const std::string& path, int address) {
    const DbModel before = Before(path);
    const int old = before.AddressInFile ? *before.AddressInFile : before.Address;
    return Note(path, {journal::kAddress, "", "", std::to_string(old), std::to_string(address), ""},
                ::SaveAddress(path, address));
}

DbResult SaveKey(const std::string& path, KeyCode code, const std::string& description) {
    const DbModel before = Before(path);
    const DbKey* old = FindKey(before, code);
    journal::Entry entry = KeyAdded(before, code, description);
    if (old) {
        entry.operation = journal::kKeyDescription;
        entry.oldValue = Cp1251ToUtf8(old->description);
        entry.newValue = entry.description;
    }
    return Note(path, entry, ::SaveKey(path, code, description));
}

DbResult RemoveKey(const std::string& path, KeyCode code) {
    journal::Entry entry = KeyRemoved(Before(path), code);  // read before the write
    return Note(path, std::move(entry), ::RemoveKey(path, code));
}

DbResult SaveKeys(const std::string& path, const std::vector<DbKey>& keys, const char* operation) {
    return Note(path, {operation, "", "", "", KeyCount(keys.size()), ""}, ::SaveKeys(path, keys));
}

DbResult WriteDbFile(const std::string& path, const DbModel& model, const char* operation) {
    return Note(path, {operation, "", "", "", KeyCount(model.keys.size()), ""},
                ::WriteDbFile(path, model));
}

}  // namespace journaled
