// The journal of changes: one line per change that the program or the command line
// makes to a controller or a database file, appended to "<database>.journal" beside
// the file. It answers "who added or removed this key, and when" after an incident, so
// it is append-only and never rewritten.
//
// A line is UTF-8, its fields separated by tabs:
//   time  login  host  operation  key  description  old  new  outcome
// time is UTC ISO 8601 ("2026-12-08T07:54:09Z"); operation is one of the tokens below;
// key is the key as shown (the display format of the day) followed by its six
// hexadecimal digits in brackets ("122,31354 [7A7A7A]"), so that a key reads the same
// whichever format it was shown in (older lines hold the shown text alone); old and new
// are the values that
// changed (empty where nothing had a value); outcome is "OK" or the error's text.
// Backslash, tab, line breaks, control characters and bytes that are not UTF-8 are
// escaped (\\ \t \n \r \xHH), so a line is always one line.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace journal {

// Operations, as written in the file.
inline constexpr const char* kKeyAdd = "key-add";
inline constexpr const char* kKeyRemove = "key-remove";
inline constexpr const char* kKeyRenumber = "key-renumber";
inline constexpr const char* kKeyDescription = "key-description";
inline constexpr const char* kTimes = "times";
inline constexpr const char* kVardex = "vardex";
inline constexpr const char* kFormat = "format";
inline constexpr const char* kAddress = "address";
inline constexpr const char* kNewFile = "new-file";
inline constexpr const char* kLoad = "load";
inline constexpr const char* kExport = "export";
inline constexpr const char* kCheck = "check";
inline constexpr const char* kReconcile = "reconcile";
inline constexpr const char* kImport = "import";
inline constexpr const char* kEnrol = "enrol";

inline constexpr const char* kOk = "OK";
// The outcome of an intent line: "начато #id".
inline constexpr const char* kStarted = "начато";

// What one line says; every text is UTF-8. A job that writes many keys writes one
// line with a summary in `newValue` (e.g. "1200 keys"), not one line per key.
struct Entry {
    std::string operation;
    std::string key;
    std::string description;
    std::string oldValue;
    std::string newValue;
    std::string outcome = kOk;
};

// A line read back.
struct Line {
    std::string time;
    std::string login;
    std::string host;
    Entry entry;
    bool wellFormed = true;  // false: `entry.description` holds the raw line
};

struct Identity {
    std::string login;  // from the user database, not the terminal's
    std::string host;
};

// The key field of a line: "122,31354 [7A7A7A]", "XX XX XXXXXX 7A7A7A [7A7A7A]".
std::string KeyField(int typeFormat, std::uint32_t code);
// The key of a key field as six hexadecimal digits: the bracketed ones, or for an older
// line the shown text read back; "" when the field names no key.
std::string KeyHex(std::string_view keyField);
// The key a field names (KeyHex as a number), 0 when none.
std::uint32_t KeyCodeOf(std::string_view keyField);

// "<dbPath>.journal".
std::string JournalPath(const std::string& dbPath);

// Appends one line for a change of `dbPath` and flushes it to disk. Returns "" or the
// error text, which the reporter (below) has also been given. The change itself has
// already happened: a journal that cannot be written never undoes it.
// `report` false: a failure is only returned (a change that failed itself has been
// told already; a second box about its journal would only confuse).
std::string Record(const std::string& dbPath, const Entry& entry, bool report = true);
// Several lines of one change at once (one write, one flush), e.g. a line per key whose
// description an import changed.
std::string Record(const std::string& dbPath, const std::vector<Entry>& entries,
                   bool report = true);

// Where a failure to write the journal is told (a message box in the program, standard
// error in the command line). Empty: not told anywhere but the return value.
using Reporter = std::function<void(const std::string& journalPath, const std::string& error)>;
void SetReporter(Reporter reporter);
// The text a reporter shows for a failure.
std::string FailureText(const std::string& journalPath, const std::string& error);

// Seams for tests: the time of a line and who makes it. Empty restores the real ones.
using Clock = std::function<std::time_t()>;
void SetClock(Clock clock);
void SetIdentity(const Identity* identity);
Identity CurrentIdentity();

// The bytes of one line (with its final "\n") as Record writes it.
std::string FormatLine(std::time_t time, const Identity& who, const Entry& entry);
std::string FormatTime(std::time_t time);

std::string Escape(std::string_view text);
std::string Unescape(std::string_view text);

// A change that reaches the controller before the file is journaled twice: its intent
// before the first request that writes to the controller (the outcome "начато #id"), and
// its outcome afterwards, whose outcome ends with the same " #id". A job killed between
// the two leaves the intent alone, and the next open of the file reports it.
//
//     journal::Intent intent;
//     if (std::string error = intent.Begin(path, entry); !error.empty())
//         fail(error);              // no intent line: nothing is sent
//     ... the controller, then the file ...
//     entry.outcome = "OK";
//     intent.End(entry);            // "OK #id"
class Intent {
  public:
    Intent() = default;
    ~Intent();  // an intent never ended stays open in the journal (the job was cut short)
    Intent(const Intent&) = delete;
    Intent& operator=(const Intent&) = delete;

    // Writes the intent line: `entry` with the outcome "начато #id". Returns "" or the
    // error, which the job tells (IntentFailureText); then nothing may be sent.
    std::string Begin(const std::string& dbPath, Entry entry);
    // Writes the outcome line: `entry` with " #id" after its outcome. Once; "" or the error.
    std::string End(Entry entry, bool report = true);
    bool Open() const { return !id_.empty() && !ended_; }
    const std::string& Id() const { return id_; }

  private:
    std::string dbPath_;
    std::string id_;
    bool ended_ = false;
};

// The text for a change refused because its intent could not be journaled.
std::string IntentFailureText(const std::string& journalPath, const std::string& error);

// The id at the end of an outcome ("начато #1a2b3c4d" gives "1a2b3c4d"); "" when none.
std::string OutcomeId(std::string_view outcome);
bool IsIntent(const Line& line);
// Intent lines with no later line of the same id, oldest first, leaving out those whose
// job runs in this process.
std::vector<Line> UnfinishedIntents(const std::vector<Line>& lines);

// Splits a journal's bytes into lines, oldest first.
std::vector<Line> ParseJournal(std::string_view bytes);
// Reads the journal of `dbPath`; a journal that does not exist yet is empty, not an
// error. Returns "" or the error text.
std::string ReadJournal(const std::string& dbPath, std::vector<Line>& lines);

}  // namespace journal
