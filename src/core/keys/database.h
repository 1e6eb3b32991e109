// The key database file (".vx2"): the controller's settings and its keys with
// descriptions. Every write replaces the file atomically.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/keys/atomic_file.h"
#include "core/keys/key_code.h"

struct DbKey {
    KeyCode code = 0;
    std::string description;  // Windows-1251 bytes, as in the file
};

// The description a key gets when it comes from the controller with none of its own
// (the load, the check, the reconcile's adopt): its number as the file names it, in
// decimal, whatever format the list shows.
std::string DefaultDescription(KeyCode code);

// An entry of the key section whose name is not a key number the controller can hold (a
// decimal number from 1 to 16,777,215 without sign or leading zeros), as files written by
// older programs may have: shown with its text, never sent to the controller, nor any
// number made from it.
struct DbInvalidEntry {
    std::string name;         // as in the file (Windows-1251)
    std::string description;  // likewise, cut to 128 characters
    // The controller key the name would have come to by its low 24 bits (what older
    // programs sent for it); nothing for a name that is not an integer at all.
    std::optional<KeyCode> truncated;
};

// The key number an entry name stands for, or nothing when it is not a valid one.
std::optional<KeyCode> KeyCodeOfEntryName(std::string_view name);

// The times a controller takes: the lock-open time 1..255 seconds, the repeat-read time
// 0..255. A value outside is taken as the nearest in range wherever it comes from (a
// hand-edited file), so that what is shown, sent and written is always the same.
constexpr int MinTimeOpen = 1;
constexpr int MinRetryRead = 0;
constexpr int MaxTime = 255;
int TimeOpenInRange(int value);
int RetryReadInRange(int value);

// The open database as the program holds it in memory.
struct DbModel {
    int TimeOpen = 1;   // always in range once loaded
    int RetryRead = 1;  // likewise
    int TypeFormat = 0;
    KeyCode Vardex = 0;
    std::vector<DbKey> keys;  // file order
    // What the file holds for a time outside its range (the field above holds the value
    // taken instead); nothing when the file's value was in range.
    std::optional<int> TimeOpenInFile;
    std::optional<int> RetryReadInFile;
    // The controller's address on its line (0 to 254; 0 when it is alone, and for a file
    // without the entry). -1 when the file names an address no controller can have:
    // then AddressInFile holds it, every write keeps it, and nothing may be sent.
    int Address = 0;
    std::optional<int> AddressInFile;
    std::vector<DbInvalidEntry> invalid;  // entries with no valid key number, file order
};

constexpr int MaxDbAddress = 254;
// The operator's text for an address the file holds out of range; empty when it is usable.
std::string AddressOutOfRangeText(const DbModel& model);

// The operator's warning for the times a load took otherwise, one line each ("\n"
// between them); empty when the file's times were in range.
std::string TimesOutOfRangeText(const DbModel& model);

// What the operator hears when a file with entries of no valid key number is opened: their
// count and texts (UTF-8); empty when there are none.
std::string InvalidEntriesText(const DbModel& model);

// Outcome of a file operation. `error` is the text for a box captioned "Ошибка" (UTF-8);
// `notice` something the operator must hear even though the operation succeeded.
struct DbResult {
    DbResult() = default;
    DbResult(bool succeeded, std::string errorText, std::string noticeText = {})
        : ok(succeeded), error(std::move(errorText)), notice(std::move(noticeText)) {}
    bool ok = true;
    std::string error;
    std::string notice;
    explicit operator bool() const { return ok; }
};

// Held by a change from before its first request to the controller until its file is
// written, so that two writers of one file never lose each other's change. The writes
// below take it themselves too (re-entrantly); long jobs take it per file write.
using DbLock = FileLock;

// Makes sure the database at `path` (or, when it does not exist yet, its folder) can be
// written, and takes its lock, waiting up to ten seconds for another writer. To be called
// before any request that a write of the file will follow: a refusal here leaves the
// controller untouched.
DbResult LockDbForWrite(const std::string& path, DbLock& lock);
// The same check without keeping the lock.
DbResult CheckDbWritable(const std::string& path);

// Control characters (below 0x20, and 0x7F) have no place in a description: they are
// refused where one is typed or imported, and escaped as \xNN wherever one is printed to a
// terminal or into tab-separated output. A file that holds them still loads. The printed
// text is UTF-8, whose C1 controls (U+0080..U+009F, such as the Windows-1251 byte 0x98
// converted) are escaped the same way, by their code point.
bool HasControlCharacters(std::string_view text);
std::string EscapeControlCharacters(std::string_view text);
extern const char* const DescriptionControlError;

constexpr int MaxDescriptionLength = 128;

DbResult NewDbFile(const std::string& path);
DbResult SaveVardex(const std::string& path, KeyCode code);
DbResult SaveSettings(const std::string& path, int timeOpen, int retryRead, int typeFormat);
// `previous`: where the format the file held before goes (read under the same lock).
DbResult SaveTypeFormat(const std::string& path, int typeFormat, int* previous = nullptr);
// The controller's address (0 to 254): written as "Address" when it is not 0, removed at 0,
// so that the file of a controller alone on its line keeps its bytes.
DbResult SaveAddress(const std::string& path, int address);
// A description with blanks at an edge or inside quotation marks is written inside one
// more pair of quotation marks, so that it reads back exactly as typed.
DbResult SaveKey(const std::string& path, KeyCode code, const std::string& description);
// Many SaveKey calls as one replacement of the file (the check for new keys).
DbResult SaveKeys(const std::string& path, const std::vector<DbKey>& keys);
// Removes every entry of the key (a file edited by hand may hold two).
DbResult RemoveKey(const std::string& path, KeyCode code);

// Reads the file into `model` (descriptions cut to 128 characters, times outside their
// range taken as the nearest in range and recorded, the file left as it is). A write that died
// half-way is finished first (the result's notice says so). Files that are not regular
// files, and files over 64 MB, are refused before anything is read; so is a file with
// neither of the database's sections (an empty one included), which is not a database.
// Entries whose name is not a valid key number go to `model.invalid`, apart from the keys.
// A file that cannot be read is an error and leaves `model` alone.
DbResult LoadDbFile(const std::string& path, DbModel& model);
// The same over the file's bytes already read.
DbResult LoadDbBytes(std::string bytes, DbModel& model);
// The conversion error of an entry name that is not an integer (UTF-8).
std::string KeyNameError(std::string_view name);
// Why a file (`path`, or empty for bytes) is refused as a database: it has neither section.
std::string NotDatabaseError(const std::string& path);

// Writes a whole database as one replacement, with the same bytes the entry-by-entry
// writes would give (settings, then keys in model order). For loads and batches.
DbResult WriteDbFile(const std::string& path, const DbModel& model);
