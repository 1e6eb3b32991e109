// The database writes of database.h, each followed by its line in the journal of
// changes. What a line says (a key added or its description changed, the old values)
// is read from the file just before the write, so the program and the command line
// describe the same change the same way, whichever of them makes it.
//
// A journal that cannot be written is told through journal::SetReporter and never
// changes the result: the file has been written (or not) already.
#pragma once

#include <string>
#include <vector>

#include "core/keys/database.h"
#include "core/keys/journal.h"

namespace journaled {

DbResult NewDbFile(const std::string& path);
DbResult SaveVardex(const std::string& path, KeyCode code);
DbResult SaveSettings(const std::string& path, int timeOpen, int retryRead, int typeFormat);
DbResult SaveTypeFormat(const std::string& path, int typeFormat);
// "address": the controller's address on its line, old -> new.
DbResult SaveAddress(const std::string& path, int address);
// "key-add" for a key the file lacked, else "key-description" with the old text.
DbResult SaveKey(const std::string& path, KeyCode code, const std::string& description);
DbResult RemoveKey(const std::string& path, KeyCode code);
// Jobs that write many keys at once leave one summary line: "check" for keys added
// after a check, "load" for a whole controller written into a new file.
DbResult SaveKeys(const std::string& path, const std::vector<DbKey>& keys,
                  const char* operation = journal::kCheck);
DbResult WriteDbFile(const std::string& path, const DbModel& model,
                     const char* operation = journal::kLoad);

// What the line of a change says, from the file as it was before the change (Before),
// for the changes that go to the controller before the file: the jobs write their
// lines themselves, since a refusal or a change that ends half-way has a line too.
DbModel Before(const std::string& path);
// "key-add"; the description as the file keeps it (Windows-1251).
journal::Entry KeyAdded(const DbModel& before, KeyCode code, const std::string& description);
// "key-remove" with the key's description in the file.
journal::Entry KeyRemoved(const DbModel& before, KeyCode code);
// "key-renumber": the old number as the key, old -> new number, the new description.
journal::Entry KeyRenumbered(const DbModel& before, KeyCode oldCode, KeyCode newCode,
                             const std::string& description);
journal::Entry VardexSet(const DbModel& before, KeyCode code);
journal::Entry TimesSet(const DbModel& before, int timeOpen, int retryRead);

// The line of a change that did not happen as asked (the controller refused it, the link
// failed, the operator stopped it, the file refused it): `error` is its outcome. The
// error has been told already, so a journal that cannot be written is only returned.
// A vardex or times job whose request fails calls e.g.
//   journaled::Refused(path, journaled::VardexSet(journaled::Before(path), code),
//                      ResultText(result));
std::string Refused(const std::string& path, journal::Entry entry, const std::string& error);

// What an open of the file says about changes whose job was cut short between the
// controller and the file: the intents left without an outcome (journal::Intent), except
// those whose job still runs (in this process, or another writer holds the file's lock).
// Each one told is closed with a line of its own ("не завершено #id"), so that it is told
// once. "" when there is none; otherwise the text for a warning ("\r" between lines).
std::string TellInterruptedChanges(const std::string& path);
inline constexpr const char* kInterruptedCaption = "Прерванное изменение";

// A change the controller gets, from before its first request to its outcome: the file's
// lock (another writer waits, and an open elsewhere does not take the change for one cut
// short) and the journal's intent (journal::Intent). No lock or no intent line: nothing
// may be sent.
class Change {
  public:
    // Takes the lock, then writes the intent. "" or the text to tell: the lock's error, or
    // journal::IntentFailureText.
    std::string Begin(const std::string& dbPath, journal::Entry entry);
    // The outcome line, then the lock is let go. Once; "" or the journal's error.
    std::string End(journal::Entry entry, bool report = true);
    bool Open() const { return intent_.Open(); }

  private:
    DbLock lock_;
    journal::Intent intent_;
};

// The summary of a job's keys: "карт(ключей): N".
std::string KeyCount(size_t count);
// The outcome field of a database result: "OK" or the error's text.
std::string Outcome(const DbResult& result);

}  // namespace journaled
