#include "core/keys/backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "core/keys/atomic_file.h"

namespace fs = std::filesystem;

namespace {

// The file the copies are named after: the one a link leads to, so that a file reached by
// two names has one series of copies.
std::string FileOf(const std::string& databasePath) {
    std::string target;
    return ResolveLinks(databasePath, target) == 0 ? target : databasePath;
}

std::string Stem(const std::string& databasePath) {
    std::string stem = fs::path(FileOf(databasePath)).stem().string();
    return stem.empty() ? std::string("db") : stem;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

std::string Prefix(const std::string& databasePath) {
    return Stem(databasePath) + "-" + BackupPathHash(databasePath) + "-";
}

bool Digits(std::string_view s, size_t min, size_t max) {
    if (s.size() < min || s.size() > max)
        return false;
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Where a copy stands among the copies of one database: numbered ones by their number;
// before them, those an earlier version named "<prefix><YYYYMMDD-HHMMSS>[-N].vx2", by
// that name's time and counter.
struct CopyOrder {
    bool numbered = false;
    long long sequence = 0;
    std::string time;
    int counter = 1;
    bool operator<(const CopyOrder& o) const {
        if (numbered != o.numbered)
            return !numbered;
        if (sequence != o.sequence)
            return sequence < o.sequence;
        return time != o.time ? time < o.time : counter < o.counter;
    }
};

bool ParseCopyName(const std::string& name, const std::string& prefix, CopyOrder& order) {
    const std::string ext = ".vx2";
    if (name.size() < prefix.size() + ext.size() || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
        return false;
    std::string_view rest(name);
    rest = rest.substr(prefix.size(), rest.size() - prefix.size() - ext.size());
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t dash = rest.find('-', start);
        parts.push_back(rest.substr(start, dash == std::string_view::npos ? dash : dash - start));
        if (dash == std::string_view::npos)
            break;
        start = dash + 1;
    }
    if (parts.size() == 3 && Digits(parts[0], 6, 18) && Digits(parts[1], 8, 8) &&
        Digits(parts[2], 6, 6)) {
        order.numbered = true;
        order.sequence = std::stoll(std::string(parts[0]));
        order.time = std::string(parts[1]) + std::string(parts[2]);
        return true;
    }
    if ((parts.size() == 2 || parts.size() == 3) && Digits(parts[0], 8, 8) &&
        Digits(parts[1], 6, 6) && (parts.size() == 2 || Digits(parts[2], 1, 6))) {
        order.time = std::string(parts[0]) + std::string(parts[1]);
        order.counter = parts.size() == 3 ? std::stoi(std::string(parts[2])) : 1;
        return true;
    }
    return false;
}

struct Copy {
    CopyOrder order;
    fs::path path;
};

std::vector<Copy> CopiesIn(const std::string& folder, const std::string& prefix) {
    std::vector<Copy> copies;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        Copy copy;
        if (entry.is_regular_file(ec) &&
            ParseCopyName(entry.path().filename().string(), prefix, copy.order)) {
            copy.path = entry.path();
            copies.push_back(std::move(copy));
        }
    }
    return copies;
}

void RemoveOldCopies(const std::string& folder, const std::string& prefix,
                     const std::string& justMade) {
    std::vector<Copy> copies = CopiesIn(folder, prefix);
    if (copies.size() <= static_cast<size_t>(BackupsKept))
        return;
    std::sort(copies.begin(), copies.end(),
              [](const Copy& a, const Copy& b) { return b.order < a.order; });
    std::error_code ec;
    for (size_t i = BackupsKept; i < copies.size(); ++i) {
        if (copies[i].path != fs::path(justMade))
            fs::remove(copies[i].path, ec);
    }
}

}  // namespace

std::string BackupFolder() {
    const char* data = std::getenv("XDG_DATA_HOME");
    fs::path base;
    if (data && data[0] == '/') {
        base = data;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/')
            return {};
        base = fs::path(home) / ".local" / "share";
    }
    return (base / "Vardex2" / "backups").string();
}

std::string BackupPathHash(const std::string& databasePath) {
    // FNV-1a over the path's bytes, folded to 24 bits.
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : AbsolutePath(FileOf(databasePath))) {
        hash ^= c;
        hash *= 16777619u;
    }
    char text[8];
    std::snprintf(text, sizeof text, "%06x",
                  static_cast<unsigned>((hash >> 24) ^ (hash & 0xFFFFFF)));
    return text;
}

std::string BackupName(const std::string& databasePath, long long sequence, std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    char number[24];
    std::snprintf(number, sizeof number, "%06lld", sequence);
    return Prefix(databasePath) + number + "-" + stamp + ".vx2";
}

BackupResult WriteBackup(const std::string& folder, const std::string& databasePath,
                         const DbModel& model, std::time_t when) {
    BackupResult out;
    if (folder.empty()) {
        out.result = {false, "Не задана папка для копий: переменная HOME не установлена"};
        return out;
    }
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        out.result = {false, folder + ": " + ErrorText(ec.value())};
        return out;
    }
    // The copies hold every key number: the folder is its owner's alone.
    struct stat st {};
    if (::stat(folder.c_str(), &st) == 0 && st.st_uid == ::geteuid() && (st.st_mode & 077) != 0)
        ::chmod(folder.c_str(), st.st_mode & 07700);
    const std::string prefix = Prefix(databasePath);
    long long sequence = 0;
    for (const Copy& copy : CopiesIn(folder, prefix))
        sequence = std::max(sequence, copy.order.sequence);
    // The name is claimed with O_EXCL first, so that two copies made at once (two
    // programs) never share one; the atomic write then replaces the empty placeholder.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const std::string candidate = folder + "/" + BackupName(databasePath, ++sequence, when);
        int fd =
            ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            out.result = {false, candidate + ": " + ErrorText(errno)};
            return out;
        }
        ::close(fd);
        out.result = WriteDbFile(candidate, model);
        if (!out.result) {
            fs::remove(candidate, ec);
            return out;
        }
        out.path = candidate;
        RemoveOldCopies(folder, prefix, candidate);
        return out;
    }
    out.result = {false, folder + ": " + ErrorText(EEXIST)};
    return out;
}
