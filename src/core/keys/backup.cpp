#include "core/keys/backup.h"

#include <fcntl.h>
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

std::string Stem(const std::string& databasePath) {
    std::string stem = fs::path(databasePath).stem().string();
    return stem.empty() ? std::string("db") : stem;
}

std::string AbsolutePath(const std::string& path) {
    std::error_code ec;
    fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

// "<stem>-<hash>-" then 8 digits, "-", 6 digits, optionally "-N", then ".vx2". Returns the
// sort key (time digits, counter) of a copy of this database, or false for anything else.
bool ParseCopyName(const std::string& name, const std::string& prefix, std::string& time,
                   int& counter) {
    const std::string ext = ".vx2";
    if (name.size() < prefix.size() + 15 + ext.size() ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - ext.size(), ext.size(), ext) != 0)
        return false;
    const std::string rest = name.substr(prefix.size(), name.size() - prefix.size() - ext.size());
    for (size_t i = 0; i < 15; ++i) {
        const bool digit = rest[i] >= '0' && rest[i] <= '9';
        if (i == 8 ? rest[i] != '-' : !digit)
            return false;
    }
    time = rest.substr(0, 15);
    counter = 1;
    if (rest.size() == 15)
        return true;
    if (rest[15] != '-' || rest.size() == 16 || rest.size() > 22)
        return false;
    for (size_t i = 16; i < rest.size(); ++i) {
        if (rest[i] < '0' || rest[i] > '9')
            return false;
    }
    counter = std::atoi(rest.c_str() + 16);
    return true;
}

void RemoveOldCopies(const std::string& folder, const std::string& prefix) {
    struct Copy {
        std::string time;
        int counter;
        fs::path path;
    };
    std::vector<Copy> copies;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        Copy copy;
        if (entry.is_regular_file(ec) &&
            ParseCopyName(entry.path().filename().string(), prefix, copy.time, copy.counter)) {
            copy.path = entry.path();
            copies.push_back(std::move(copy));
        }
    }
    if (copies.size() <= static_cast<size_t>(BackupsKept))
        return;
    std::sort(copies.begin(), copies.end(), [](const Copy& a, const Copy& b) {
        return a.time != b.time ? a.time > b.time : a.counter > b.counter;
    });
    for (size_t i = BackupsKept; i < copies.size(); ++i)
        fs::remove(copies[i].path, ec);
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
    for (unsigned char c : AbsolutePath(databasePath)) {
        hash ^= c;
        hash *= 16777619u;
    }
    char text[8];
    std::snprintf(text, sizeof text, "%06x",
                  static_cast<unsigned>((hash >> 24) ^ (hash & 0xFFFFFF)));
    return text;
}

std::string BackupName(const std::string& databasePath, std::time_t when) {
    std::tm local{};
    ::localtime_r(&when, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    return Stem(databasePath) + "-" + BackupPathHash(databasePath) + "-" + stamp + ".vx2";
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
    const std::string name = BackupName(databasePath, when);
    const std::string base = name.substr(0, name.size() - 4);
    // The name is claimed with O_EXCL first, so that two copies made in the same second
    // (two programs, or a rerun) never share one; the atomic write then replaces the empty
    // placeholder.
    for (int counter = 1; counter < 1000; ++counter) {
        const std::string candidate =
            folder + "/" + (counter == 1 ? base : base + "-" + std::to_string(counter)) + ".vx2";
        int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
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
        RemoveOldCopies(folder, Stem(databasePath) + "-" + BackupPathHash(databasePath) + "-");
        return out;
    }
    out.result = {false, folder + ": " + ErrorText(EEXIST)};
    return out;
}
