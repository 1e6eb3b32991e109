#include "core/keys/journal.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>

#include "core/keys/atomic_file.h"
#include "core/keys/hex.h"
#include "core/keys/key_number.h"

namespace journal {
namespace {

// The program's windows and a job's worker may both record; the seams are shared.
std::mutex g_mutex;
Reporter g_reporter;
Clock g_clock;
bool g_hasIdentity = false;
Identity g_identity;

constexpr int kFieldCount = 9;

// Length of the valid UTF-8 sequence at `s[i]`, 0 when it is not one (overlong forms,
// surrogates and values past U+10FFFF included, so that what passes is what a reader
// of UTF-8 accepts).
size_t Utf8Length(std::string_view s, size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    size_t n;
    unsigned min;
    unsigned value;
    if (b < 0x80) {
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        n = 2, min = 0x80, value = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        n = 3, min = 0x800, value = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        n = 4, min = 0x10000, value = b & 0x07;
    } else {
        return 0;
    }
    if (i + n > s.size()) {
        return 0;
    }
    for (size_t k = 1; k < n; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            return 0;
        }
        value = (value << 6) | (c & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return n;
}

std::vector<std::string> SplitTabs(std::string_view line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.emplace_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
        if (tab == std::string_view::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return 0;
}

// A journal that an earlier version kept beside a link to the database rather than beside
// the database: "" when there is none (or `dbPath` is no link).
std::string JournalBesideLink(const std::string& dbPath) {
    std::string target;
    if (ResolveLinks(dbPath, target) != 0 || target == dbPath)
        return "";
    const std::string old = dbPath + ".journal";
    struct stat st {};
    if (::lstat(old.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || old == JournalPath(dbPath))
        return "";
    return old;
}

// Moves the lines of the journal kept beside a link to the database's own journal (open
// as `fd`), when this writer may remove it afterwards and it is trusted as the journal is.
void MoveJournalBesideLink(const std::string& dbPath, int fd) {
    const std::string old = JournalBesideLink(dbPath);
    if (old.empty())
        return;
    int oldFd = -1;
    if (OpenBesideForAppend(old, dbPath, oldFd) != 0)
        return;
    ::close(oldFd);
    const size_t slash = old.rfind('/');
    const std::string dir = slash == std::string::npos ? "."
                            : slash == 0               ? "/"
                                                       : old.substr(0, slash);
    struct stat folder {};
    struct stat st {};
    if (::stat(dir.c_str(), &folder) != 0 || ::lstat(old.c_str(), &st) != 0 ||
        ::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return;
    const uid_t me = ::geteuid();
    if ((folder.st_mode & S_ISVTX) && me != 0 && st.st_uid != me && folder.st_uid != me)
        return;  // it could not be removed: moving it would copy its lines on every write
    std::string bytes;
    if (ReadWholeFile(old, bytes) != 0)
        return;
    if (!bytes.empty() && bytes.back() != '\n')
        bytes += '\n';
    if (WriteAll(fd, bytes) == 0 && ::fdatasync(fd) == 0)
        ::unlink(old.c_str());
}

}  // namespace

std::string KeyField(int typeFormat, std::uint32_t code) {
    std::string field = Format(typeFormat, code);
    field += " [";
    AppendHex(field, code & 0xFFFFFF);
    field += ']';
    return field;
}

std::uint32_t KeyCodeOf(std::string_view keyField) {
    // "... [7A7A7A]"
    if (keyField.size() >= 8 && keyField.back() == ']') {
        const size_t open = keyField.rfind('[');
        if (open != std::string_view::npos && keyField.size() - open == 8) {
            std::uint32_t code = 0;
            bool hex = true;
            for (size_t i = open + 1; i + 1 < keyField.size() && hex; ++i) {
                const int digit = HexDigitValue(keyField[i]);
                hex = digit >= 0;
                code = (code << 4) | static_cast<std::uint32_t>(hex ? digit : 0);
            }
            if (hex)
                return code;
        }
    }
    // An older line: the shown text alone, in either format; both read as themselves.
    if (const size_t open = keyField.rfind(" ["); open != std::string_view::npos)
        keyField = keyField.substr(0, open);
    const KeyNumber number = ParseKeyNumber(TypeFormatIButton, keyField);
    return number ? number.code : 0;
}

std::string KeyHex(std::string_view keyField) {
    const std::uint32_t code = KeyCodeOf(keyField);
    std::string hex;
    if (code != 0)
        AppendHex(hex, code);
    return hex;
}

std::string JournalPath(const std::string& dbPath) {
    std::string target;
    if (ResolveLinks(dbPath, target) != 0)
        return dbPath + ".journal";
    return target + ".journal";
}

std::string FormatTime(std::time_t time) {
    std::tm utc{};
    gmtime_r(&time, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

std::string Escape(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        const size_t n = Utf8Length(text, i);
        if (b == '\\') {
            out += "\\\\";
        } else if (b == '\t') {
            out += "\\t";
        } else if (b == '\n') {
            out += "\\n";
        } else if (b == '\r') {
            out += "\\r";
        } else if (n == 0 || b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
    return out;
}

std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char c = text[++i];
        if (c == 't') {
            out += '\t';
        } else if (c == 'n') {
            out += '\n';
        } else if (c == 'r') {
            out += '\r';
        } else if (c == 'x' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
                   HexDigitValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2]));
            i += 2;
        } else {
            // "\\" and anything a hand edit left: the character after the backslash.
            out += c;
        }
    }
    return out;
}

std::string FormatLine(std::time_t time, const Identity& who, const Entry& entry) {
    const std::string_view fields[] = {who.login,      who.host,          entry.operation,
                                       entry.key,      entry.description, entry.oldValue,
                                       entry.newValue, entry.outcome};
    std::string line = FormatTime(time);
    for (const auto& field : fields) {
        line += '\t';
        line += Escape(field);
    }
    line += '\n';
    return line;
}

Identity CurrentIdentity() {
    {
        std::lock_guard lock(g_mutex);
        if (g_hasIdentity) {
            return g_identity;
        }
    }
    Identity who;
    // The user database, not getlogin(): a script run from cron or over sudo has no
    // terminal whose owner would be the right answer.
    const uid_t uid = ::getuid();
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found) {
        who.login = found->pw_name;
    } else {
        who.login = std::to_string(uid);
    }
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) == 0) {
        who.host = host;
    }
    return who;
}

void SetIdentity(const Identity* identity) {
    std::lock_guard lock(g_mutex);
    g_hasIdentity = identity != nullptr;
    g_identity = identity ? *identity : Identity{};
}

void SetClock(Clock clock) {
    std::lock_guard lock(g_mutex);
    g_clock = std::move(clock);
}

void SetReporter(Reporter reporter) {
    std::lock_guard lock(g_mutex);
    g_reporter = std::move(reporter);
}

std::string FailureText(const std::string& journalPath, const std::string& error) {
    return "Не удалось записать журнал изменений " + journalPath + ":\r" + error +
           "\rСамо изменение выполнено.";
}

std::string Record(const std::string& dbPath, const Entry& entry, bool report) {
    return Record(dbPath, std::vector<Entry>{entry}, report);
}

std::string Record(const std::string& dbPath, const std::vector<Entry>& entries, bool report) {
    if (entries.empty())
        return "";
    std::time_t now;
    Reporter reporter;
    {
        std::lock_guard lock(g_mutex);
        now = g_clock ? g_clock() : std::time(nullptr);
        reporter = g_reporter;
    }
    const std::string path = JournalPath(dbPath);
    const Identity who = CurrentIdentity();
    std::string line;
    for (const Entry& entry : entries)
        line += FormatLine(now, who, entry);
    std::string error;
    // O_APPEND with the whole lines in one write: two writers (the program and a
    // script) never interleave inside a line. The journal is opened by the database's own
    // rules: a planted link, a FIFO or a device is refused, and a new journal is no more
    // open than the database.
    int fd = -1;
    if (int failed = OpenBesideForAppend(path, dbPath, fd)) {
        error = ErrorText(failed);
    } else {
        MoveJournalBesideLink(dbPath, fd);
        int err = WriteAll(fd, line);
        if (!err && ::fdatasync(fd) != 0 && errno != EINVAL)
            err = errno;
        if (::close(fd) != 0 && !err && errno != EINTR)
            err = errno;
        if (err)
            error = ErrorText(err);
    }
    if (!error.empty() && reporter && report) {
        reporter(path, error);
    }
    return error;
}

namespace {

// The intents begun in this process and not ended: their jobs run here.
std::mutex g_intentsMutex;
std::set<std::string> g_openIntents;

std::string NewIntentId() {
    static std::mutex mutex;
    static std::mt19937_64 random{std::random_device{}() ^
                                  static_cast<std::uint64_t>(::getpid()) << 32 ^
                                  static_cast<std::uint64_t>(std::time(nullptr))};
    std::lock_guard lock(mutex);
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(random()));
    return text;
}

}  // namespace

Intent::~Intent() {
    if (!id_.empty()) {
        std::lock_guard lock(g_intentsMutex);
        g_openIntents.erase(id_);
    }
}

std::string Intent::Begin(const std::string& dbPath, Entry entry) {
    dbPath_ = dbPath;
    const std::string id = NewIntentId();
    entry.outcome = std::string(kStarted) + " #" + id;
    {
        std::lock_guard lock(g_intentsMutex);
        g_openIntents.insert(id);
    }
    std::string error = Record(dbPath, entry, false);  // the job tells it: nothing was done
    if (!error.empty()) {
        std::lock_guard lock(g_intentsMutex);
        g_openIntents.erase(id);
        return error;
    }
    id_ = id;
    ended_ = false;
    return "";
}

std::string Intent::End(Entry entry, bool report) {
    if (!Open())
        return "";
    ended_ = true;
    entry.outcome += " #" + id_;
    std::string error = Record(dbPath_, entry, report);
    std::lock_guard lock(g_intentsMutex);
    g_openIntents.erase(id_);
    return error;
}

std::string IntentFailureText(const std::string& journalPath, const std::string& error) {
    return "Не удалось записать журнал изменений " + journalPath + ":\r" + error +
           "\rИзменение не выполнено: контроллер и файл не изменены.";
}

std::string OutcomeId(std::string_view outcome) {
    const size_t hash = outcome.rfind(" #");
    if (hash == std::string_view::npos && outcome.rfind('#', 0) != 0)
        return "";
    const size_t start = hash == std::string_view::npos ? 1 : hash + 2;
    const std::string_view id = outcome.substr(start);
    if (id.empty() || id.find_first_not_of("0123456789abcdef") != std::string_view::npos)
        return "";
    return std::string(id);
}

bool IsIntent(const Line& line) {
    const std::string& outcome = line.entry.outcome;
    const std::string started = std::string(kStarted) + " #";
    return line.wellFormed && outcome.rfind(started, 0) == 0 &&
           OutcomeId(outcome) == outcome.substr(started.size());
}

std::vector<Line> UnfinishedIntents(const std::vector<Line>& lines) {
    std::set<std::string> ended;
    for (const Line& line : lines) {
        if (line.wellFormed && !IsIntent(line)) {
            if (std::string id = OutcomeId(line.entry.outcome); !id.empty())
                ended.insert(std::move(id));
        }
    }
    std::vector<Line> open;
    std::lock_guard lock(g_intentsMutex);
    for (const Line& line : lines) {
        if (!IsIntent(line))
            continue;
        const std::string id = OutcomeId(line.entry.outcome);
        if (ended.count(id) == 0 && g_openIntents.count(id) == 0)
            open.push_back(line);
    }
    return open;
}

std::vector<Line> ParseJournal(std::string_view bytes) {
    std::vector<Line> lines;
    size_t start = 0;
    while (start < bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string_view raw = bytes.substr(start, end - start);
        start = end + 1;
        if (!raw.empty() && raw.back() == '\r')
            raw.remove_suffix(1);
        if (raw.empty())
            continue;
        Line line;
        const auto fields = SplitTabs(raw);
        if (fields.size() != kFieldCount) {
            line.wellFormed = false;
            line.entry.outcome.clear();
            line.entry.description = Unescape(raw);
        } else {
            line.time = Unescape(fields[0]);
            line.login = Unescape(fields[1]);
            line.host = Unescape(fields[2]);
            line.entry.operation = Unescape(fields[3]);
            line.entry.key = Unescape(fields[4]);
            line.entry.description = Unescape(fields[5]);
            line.entry.oldValue = Unescape(fields[6]);
            line.entry.newValue = Unescape(fields[7]);
            line.entry.outcome = Unescape(fields[8]);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string ReadJournal(const std::string& dbPath, std::vector<Line>& lines) {
    // Lines an earlier version kept beside a link come first, until the next write moves
    // them.
    std::string older;
    if (const std::string old = JournalBesideLink(dbPath); !old.empty())
        ReadWholeFile(old, older);
    if (!older.empty() && older.back() != '\n')
        older += '\n';
    std::string bytes;
    const int err = ReadWholeFile(JournalPath(dbPath), bytes);
    if (err != 0 && err != ENOENT) {
        return ErrorText(err);
    }
    lines = ParseJournal(older + bytes);
    return "";
}

}  // namespace journal
