// Safe reads, the lock file, and replacement that keeps what the old file was.
#include "core/keys/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/system_text.h"

namespace {

constexpr int DefaultLockWaitMs = 10000;

std::atomic<WriteFunction> g_write{nullptr};
std::atomic<int> g_lockWaitMs{DefaultLockWaitMs};

struct Fd {
    int fd = -1;
    Fd() = default;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { Close(); }
    int Close() {
        int r = 0;
        if (fd >= 0)
            r = ::close(fd);
        fd = -1;
        return r;
    }
};

std::string DirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex16(std::uint64_t v) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
    return text;
}

// The helper files of a database carry a hash of its name rather than the name: a long
// Cyrillic name cut to fit could split a letter, which some file systems refuse.
std::string HelperPrefix(const std::string& target) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : BaseOf(target)) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return ".vx2-" + Hex16(h);
}

std::string LockPathOf(const std::string& target) {
    return DirectoryOf(target) + "/" + HelperPrefix(target) + ".lock";
}

std::string SafetyPathOf(const std::string& target) {
    return DirectoryOf(target) + "/" + HelperPrefix(target) + ".safe";
}

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int WriteAll(int fd, const std::string& bytes) {
    WriteFunction write = g_write.load();
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write ? write(fd, bytes.data() + done, bytes.size() - done)
                          : ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

// Reads an open regular file from its start, refusing more than `maxSize` bytes.
int ReadFd(int fd, std::size_t knownSize, std::size_t maxSize, std::string& bytes) {
    if (knownSize > maxSize)
        return FileTooLarge;
    // One read for a file of known size (the extra byte sees the end).
    bytes.assign(knownSize > 0 ? knownSize + 1 : std::size_t{65536}, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size()) {
            if (used > maxSize) {
                bytes.clear();
                return FileTooLarge;  // grew while being read
            }
            bytes.resize(bytes.size() * 2);
        }
        ssize_t n = ::pread(fd, bytes.data() + used, bytes.size() - used, static_cast<off_t>(used));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int err = errno;
            bytes.clear();
            return err;
        }
        if (n == 0)
            break;
        used += static_cast<std::size_t>(n);
    }
    if (used > maxSize) {
        bytes.clear();
        return FileTooLarge;
    }
    bytes.resize(used);
    return 0;
}

// Opens an existing regular file without following a link and without blocking (a FIFO
// would block in open, a device may act on it); the type is checked on the path first,
// so nothing that is not a regular file is ever opened, and then on the descriptor.
int OpenRegular(const std::string& target, int flags, struct stat& st) {
    if (::lstat(target.c_str(), &st) != 0)
        return -errno;
    if (S_ISDIR(st.st_mode))
        return -EISDIR;
    if (!S_ISREG(st.st_mode))
        return NotRegularFile;
    int fd = OpenRetrying(target.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    struct stat now {};
    if (::fstat(fd, &now) != 0 || !S_ISREG(now.st_mode)) {
        ::close(fd);
        return NotRegularFile;
    }
    st = now;
    return fd;
}

int ErrorOfOpen(int r) {
    return r == NotRegularFile ? NotRegularFile : -r;
}

void SyncDirectory(const std::string& dir) {
    Fd d(OpenRetrying(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (d.fd >= 0)
        ::fsync(d.fd);
}

// The permission bits a new file gets from the process's umask (read without changing
// it: umask() would race with other threads creating files).
mode_t NewFileMode() {
    mode_t mask = 022;
    if (FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f)) {
            unsigned value = 0;
            if (std::sscanf(line, "Umask: %o", &value) == 1) {
                mask = static_cast<mode_t>(value);
                break;
            }
        }
        std::fclose(f);
    }
    return 0666 & ~mask;
}

std::string RandomHex() {
    std::uint64_t r = 0;
    if (::getrandom(&r, sizeof r, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof r)) {
        static std::atomic<std::uint64_t> counter{0};
        r = static_cast<std::uint64_t>(
                std::chrono::steady_clock::now().time_since_epoch().count()) ^
            (static_cast<std::uint64_t>(::getpid()) << 32) ^ counter++;
    }
    return Hex16(r);
}

// A new temporary file beside `target`, mode 0600 until it is complete.
int CreateTemp(const std::string& target, std::string& temp) {
    const std::string stem = DirectoryOf(target) + "/" + HelperPrefix(target) + "-";
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = stem + RandomHex() + ".tmp";
        int fd =
            OpenRetrying(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            return -errno;
    }
    return -EEXIST;
}

bool AllDigits(std::string_view s) {
    if (s.empty())
        return false;
    for (char c : s) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// Temporary files of earlier writers of this database. The caller holds the lock, so no
// writer of ours is at work on them. The program's earlier versions named theirs
// ".NAME.PID-N-T.tmp" (NAME cut to 64 bytes); those go when their process is gone.
void RemoveStaleTemps(const std::string& target) {
    const std::string dir = DirectoryOf(target);
    const std::string ours = HelperPrefix(target) + "-";
    const std::string older = "." + BaseOf(target).substr(0, 64) + ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> stale;
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name.size() < 4 || name.substr(name.size() - 4) != ".tmp")
            continue;
        if (name.substr(0, ours.size()) == ours && name.size() == ours.size() + 16 + 4) {
            stale.emplace_back(name);
            continue;
        }
        if (name.substr(0, older.size()) != older)
            continue;
        std::string_view rest = name.substr(older.size(), name.size() - older.size() - 4);
        std::size_t dash1 = rest.find('-');
        std::size_t dash2 = dash1 == std::string_view::npos ? dash1 : rest.find('-', dash1 + 1);
        if (dash2 == std::string_view::npos || !AllDigits(rest.substr(0, dash1)) ||
            !AllDigits(rest.substr(dash1 + 1, dash2 - dash1 - 1)) ||
            !AllDigits(rest.substr(dash2 + 1)) || dash1 > 9)
            continue;
        pid_t pid = static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash1))));
        if (pid > 0 && ::kill(pid, 0) != 0 && errno == ESRCH)
            stale.emplace_back(name);
    }
    ::closedir(d);
    for (const std::string& name : stale) {
        struct stat st {};
        const std::string full = dir + "/" + name;
        // Only files: a link or a folder of that name is somebody else's business.
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(full.c_str());
    }
}

// Copies the extended attributes (ACLs among them); false when one cannot be copied.
bool CopyAttributes(int from, int to) {
    ssize_t size = ::flistxattr(from, nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;  // none on this file system
    if (size == 0)
        return true;
    std::string names(static_cast<std::size_t>(size), '\0');
    size = ::flistxattr(from, names.data(), names.size());
    if (size < 0)
        return false;
    names.resize(static_cast<std::size_t>(size));
    for (std::size_t at = 0; at < names.size();) {
        const char* name = names.c_str() + at;
        at += std::strlen(name) + 1;
        ssize_t n = ::fgetxattr(from, name, nullptr, 0);
        if (n < 0)
            return false;
        std::string value(static_cast<std::size_t>(n), '\0');
        n = ::fgetxattr(from, name, value.data(), value.size());
        if (n < 0 || ::fsetxattr(to, name, value.data(), static_cast<std::size_t>(n), 0) != 0)
            return false;
    }
    return true;
}

// Gives the temporary file what the old one had; false when that is not possible for
// this user (the file is then written in place instead).
bool TakeOver(int oldFd, const struct stat& old, int temp) {
    struct stat st {};
    if (::fstat(temp, &st) != 0)
        return false;
    if (st.st_uid != old.st_uid || st.st_gid != old.st_gid) {
        // Only the superuser gives a file to another user; anyone may give it a group
        // they belong to.
        uid_t uid = ::geteuid() == 0 ? old.st_uid : static_cast<uid_t>(-1);
        if (st.st_uid != old.st_uid && ::geteuid() != 0)
            return false;
        if (::fchown(temp, uid, old.st_gid) != 0)
            return false;
    }
    if (!CopyAttributes(oldFd, temp))
        return false;
    // Last: a change of owner clears the set-id bits.
    return ::fchmod(temp, old.st_mode & 07777) == 0;
}

int WriteAndSync(int fd, const std::string& bytes) {
    if (int err = WriteAll(fd, bytes))
        return err;
    return ::fsync(fd) == 0 ? 0 : errno;
}

// Writes a complete file under a temporary name and renames it to `final` (which must
// not name the database itself).
int WriteBeside(const std::string& target, const std::string& final, const std::string& bytes,
                const struct stat& like) {
    std::string temp;
    int fd = CreateTemp(target, temp);
    if (fd < 0)
        return -fd;
    Fd f(fd);
    int err = WriteAndSync(f.fd, bytes);
    if (err == 0) {
        // The old content is no secret to whoever could read the database; nobody but
        // its writer may change it.
        if (::fchown(f.fd, static_cast<uid_t>(-1), like.st_gid) == 0)
            ::fchmod(f.fd, like.st_mode & 0640);
        if (f.Close() != 0)
            err = errno;
    }
    if (err == 0 && ::rename(temp.c_str(), final.c_str()) != 0)
        err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return err;
    }
    return 0;
}

int Overwrite(int fd, const std::string& bytes) {
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return errno;
    if (int err = WriteAll(fd, bytes))
        return err;
    if (::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0)
        return errno;
    return ::fsync(fd) == 0 ? 0 : errno;
}

std::uint64_t ContentHash(std::string_view bytes) {
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : bytes) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The first line of a safety copy: which file it belongs to, and the size and hash of the
// old and the new content, so that a later open can tell a write that died half-way from
// one that never began or had finished.
constexpr const char* kCopyHeader = "vx2-safety-copy 1 %llu %llu %llu %016llx %llu %016llx\n";

struct CopyHeader {
    unsigned long long dev = 0, ino = 0, oldSize = 0, oldHash = 0, newSize = 0, newHash = 0;
    std::size_t length = 0;
};

std::string FormatCopyHeader(const struct stat& db, std::string_view before,
                             std::string_view after) {
    char line[160];
    std::snprintf(line, sizeof line, kCopyHeader, static_cast<unsigned long long>(db.st_dev),
                  static_cast<unsigned long long>(db.st_ino),
                  static_cast<unsigned long long>(before.size()),
                  static_cast<unsigned long long>(ContentHash(before)),
                  static_cast<unsigned long long>(after.size()),
                  static_cast<unsigned long long>(ContentHash(after)));
    return line;
}

bool ParseCopyHeader(const std::string& bytes, CopyHeader& h) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string::npos || end > 150)
        return false;
    const std::string line = bytes.substr(0, end + 1);
    int used = 0;
    if (std::sscanf(line.c_str(), "vx2-safety-copy 1 %llu %llu %llu %llx %llu %llx\n%n", &h.dev,
                    &h.ino, &h.oldSize, &h.oldHash, &h.newSize, &h.newHash, &used) != 6 ||
        static_cast<std::size_t>(used) != line.size())
        return false;
    h.length = line.size();
    return true;
}

enum class CopyState {
    None,       // no copy
    Finished,   // the file holds the old or the new content whole: the copy can go
    Restore,    // the file was torn: `before` goes back
    Untrusted,  // not this program's copy of this file: left alone, never restored
};

struct SafetyCopy {
    CopyState state = CopyState::None;
    int err = 0;  // reading the database failed
    std::string before;
};

// What the safety copy beside `target` means for the file as it is now.
SafetyCopy ExamineSafetyCopy(const std::string& target) {
    SafetyCopy out;
    const std::string path = SafetyPathOf(target);
    // (`err` is set, with the state None, only when the database itself cannot be read.)
    struct stat copy {};
    if (::lstat(path.c_str(), &copy) != 0)
        return out;
    out.state = CopyState::Untrusted;
    struct stat db {};
    if (::lstat(target.c_str(), &db) != 0 || !S_ISREG(db.st_mode))
        return out;
    // Made by someone who could have written the file anyway, and changed by nobody since.
    if (!S_ISREG(copy.st_mode) || copy.st_nlink != 1 || (copy.st_mode & 022) != 0 ||
        !UserCouldWrite(copy.st_uid, db))
        return out;
    std::string bytes;
    {
        struct stat st {};
        int fd = OpenRegular(path, O_RDONLY, st);
        if (fd < 0)
            return out;
        Fd f(fd);
        if (st.st_ino != copy.st_ino || st.st_dev != copy.st_dev ||
            ReadFd(f.fd, static_cast<std::size_t>(st.st_size), MaxDatabaseFileSize + 256, bytes) !=
                0)
            return out;
    }
    CopyHeader h;
    if (!ParseCopyHeader(bytes, h) || h.dev != static_cast<unsigned long long>(db.st_dev) ||
        h.ino != static_cast<unsigned long long>(db.st_ino))
        return out;
    std::string_view before = std::string_view(bytes).substr(h.length);
    if (before.size() != h.oldSize || ContentHash(before) != h.oldHash)
        return out;
    std::string now;
    {
        struct stat st {};
        int fd = OpenRegular(target, O_RDONLY, st);
        int err = fd < 0 ? ErrorOfOpen(fd) : 0;
        Fd f(fd);
        if (err == 0)
            err = ReadFd(f.fd, static_cast<std::size_t>(st.st_size), SIZE_MAX, now);
        if (err != 0) {
            out.state = CopyState::None;
            out.err = err;
            return out;
        }
    }
    const auto is = [&](unsigned long long size, unsigned long long hash) {
        return now.size() == size && ContentHash(now) == hash;
    };
    if (is(h.oldSize, h.oldHash) || is(h.newSize, h.newHash)) {
        out.state = CopyState::Finished;
        return out;
    }
    out.state = CopyState::Restore;
    out.before.assign(before);
    return out;
}

// Where a rename cannot keep what the file is: the old content goes to the safety copy
// first (refused when the folder cannot hold it), then the file itself is overwritten.
int WriteInPlace(const std::string& target, int fd, const struct stat& old,
                 const std::string& bytes) {
    std::string before;
    if (int err = ReadFd(fd, static_cast<std::size_t>(old.st_size), SIZE_MAX, before))
        return err;
    const std::string safety = SafetyPathOf(target);
    const std::string dir = DirectoryOf(target);
    if (int err = WriteBeside(target, safety, FormatCopyHeader(old, before, bytes) + before, old))
        return err;
    SyncDirectory(dir);
    int err = Overwrite(fd, bytes);
    if (err != 0 && Overwrite(fd, before) != 0)
        return err;  // the safety copy stays for the next open to restore
    ::unlink(safety.c_str());
    SyncDirectory(dir);
    return err;
}

// The lock files this process holds, by file identity, with how often each is taken.
struct HeldLock {
    int fd = -1;
    int count = 0;
};
std::mutex g_locksMutex;
std::map<std::pair<dev_t, ino_t>, HeldLock> g_locks;
pid_t g_locksPid = 0;

// A forked child inherits the parent's lock descriptors, not its locks to take again:
// it must wait like any other process (closing its copies leaves the parent's lock).
void ForgetInheritedLocks() {
    if (g_locksPid == ::getpid())
        return;
    for (auto& [key, held] : g_locks)
        ::close(held.fd);
    g_locks.clear();
    g_locksPid = ::getpid();
}

// Opens (creating with the database's group and mode) the lock file of `target`; -1 with
// `err` set on failure.
int OpenLockFile(const std::string& lockPath, const std::string& target, int& err) {
    struct stat db {};
    const bool hasDb = ::lstat(target.c_str(), &db) == 0 && S_ISREG(db.st_mode);
    const mode_t mode = hasDb ? (db.st_mode & 0666) : 0666;
    int fd = OpenRetrying(lockPath.c_str(),
                          O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd >= 0) {
        if (hasDb) {
            ::fchown(fd, static_cast<uid_t>(-1), db.st_gid);
            ::fchmod(fd, mode);
        }
    } else if (errno == EEXIST) {
        fd = OpenRetrying(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        err = errno == ELOOP ? NotRegularFile : errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        err = NotRegularFile;
        return -1;
    }
    return fd;
}

}  // namespace

std::string ErrorText(int err) {
    switch (err) {
        case NotRegularFile:
            return "Это не обычный файл (устройство, канал или сокет)";
        case FileTooLarge:
            return "Файл больше 64 МБ: это не файл ключей";
        case UnsafeLink:
            return "Символическая ссылка в общей папке принадлежит другому пользователю; "
                   "по ней не переходим";
        case DanglingLink:
            return "Символическая ссылка указывает на несуществующий файл";
        case LockTimedOut:
            return "Файл изменяет другая программа (ожидание более 10 секунд)";
        case UntrustedCopy:
            return "Рядом с файлом лежит копия, которую программа не делала для этого файла";
        case UntrustedFile:
            return "Файл создан пользователем, который не может изменять файл ключей, или "
                   "является второй ссылкой на другой файл";
        default:
            return SystemErrorText(err);
    }
}

int ResolveLinks(const std::string& path, std::string& target) {
    std::string current = path;
    bool followed = false;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0) {
            if (errno == ENOENT && followed)
                return DanglingLink;
            if (errno != ENOENT)
                return errno;
            target = current;
            return 0;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = current;
            return 0;
        }
        // The kernel's rule for sticky folders, applied whether or not the kernel has it
        // switched on: a planted link in a shared folder must not lead a writer anywhere.
        const std::string dir = DirectoryOf(current);
        struct stat folder {};
        if (::stat(dir.c_str(), &folder) != 0)
            return errno;
        if ((folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH) && st.st_uid != ::geteuid() &&
            st.st_uid != folder.st_uid)
            return UnsafeLink;
        std::string text(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        ssize_t n = ::readlink(current.c_str(), text.data(), text.size());
        if (n < 0)
            return errno;
        text.resize(static_cast<std::size_t>(n));
        current = !text.empty() && text.front() == '/' ? text : dir + "/" + text;
        followed = true;
    }
    return ELOOP;
}

int ReadWholeFile(const std::string& path, std::string& bytes, std::size_t maxSize) {
    std::string target;
    if (int err = ResolveLinks(path, target))
        return err;
    struct stat st {};
    int fd = OpenRegular(target, O_RDONLY, st);
    if (fd < 0)
        return ErrorOfOpen(fd);
    Fd f(fd);
    return ReadFd(f.fd, static_cast<std::size_t>(st.st_size), maxSize, bytes);
}

FileLock::~FileLock() {
    Release();
}

FileLock::FileLock(FileLock&& other) noexcept
    : held_(std::exchange(other.held_, false)), dev_(other.dev_), ino_(other.ino_) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        Release();
        held_ = std::exchange(other.held_, false);
        dev_ = other.dev_;
        ino_ = other.ino_;
    }
    return *this;
}

int FileLock::Acquire(const std::string& path) {
    return AcquireWithin(path, LockWaitMs());
}

int FileLock::TryAcquire(const std::string& path) {
    return AcquireWithin(path, 0);
}

int FileLock::AcquireWithin(const std::string& path, int waitMs) {
    if (held_)
        return 0;
    std::string target;
    if (int err = ResolveLinks(path, target))
        return err;
    const std::string lockPath = LockPathOf(target);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
    auto pause = std::chrono::milliseconds(1);
    for (;;) {
        int err = 0;
        int fd = OpenLockFile(lockPath, target, err);
        if (fd < 0)
            return err;
        Fd f(fd);
        struct stat st {};
        ::fstat(f.fd, &st);
        const auto key = std::make_pair(st.st_dev, st.st_ino);
        {
            std::lock_guard lock(g_locksMutex);
            ForgetInheritedLocks();
            auto it = g_locks.find(key);
            if (it != g_locks.end()) {
                ++it->second.count;
                held_ = true;
                dev_ = key.first;
                ino_ = key.second;
                return 0;
            }
        }
        bool got = false;
        while (!got) {
            if (::flock(f.fd, LOCK_EX | LOCK_NB) == 0) {
                got = true;
                break;
            }
            if (errno != EWOULDBLOCK && errno != EINTR)
                return errno;
            if (std::chrono::steady_clock::now() >= deadline)
                return LockTimedOut;
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(20));
        }
        // Somebody removed the lock file meanwhile: the next writer would lock a new one.
        struct stat now {};
        if (::lstat(lockPath.c_str(), &now) != 0 || now.st_dev != st.st_dev ||
            now.st_ino != st.st_ino)
            continue;
        std::lock_guard lock(g_locksMutex);
        ForgetInheritedLocks();
        g_locks[key] = HeldLock{f.fd, 1};
        f.fd = -1;
        held_ = true;
        dev_ = key.first;
        ino_ = key.second;
        return 0;
    }
}

void FileLock::Release() {
    if (!held_)
        return;
    held_ = false;
    std::lock_guard lock(g_locksMutex);
    ForgetInheritedLocks();
    auto it = g_locks.find({dev_, ino_});
    if (it == g_locks.end())
        return;
    if (--it->second.count == 0) {
        ::close(it->second.fd);
        g_locks.erase(it);
    }
}

int LockWaitMs() {
    return g_lockWaitMs.load();
}

void SetLockWaitForTesting(int ms) {
    g_lockWaitMs.store(ms > 0 ? ms : DefaultLockWaitMs);
}

int CheckWritable(const std::string& path) {
    std::string target;
    if (int err = ResolveLinks(path, target))
        return err;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return EISDIR;
        if (!S_ISREG(st.st_mode))
            return NotRegularFile;
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            return errno == EROFS ? EROFS : EACCES;
        // A file the operator made read-only stays as it is, as it would if it were
        // written in place (the rename alone would not ask).
        if ((st.st_mode & 0222) == 0)
            return EACCES;
        // A write in place needs a safety copy of its own, which somebody else's blocks.
        if ((st.st_nlink > 1 || (::geteuid() != 0 && st.st_uid != ::geteuid())) &&
            ExamineSafetyCopy(target).state == CopyState::Untrusted)
            return UntrustedCopy;
    } else if (errno != ENOENT) {
        return errno;
    }
    const std::string dir = DirectoryOf(target);
    if (::faccessat(AT_FDCWD, dir.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
        return errno == EROFS ? EROFS : errno == ENOENT ? ENOENT : EACCES;
    return 0;
}

int ReplaceFile(const std::string& path, const std::string& bytes) {
    std::string target;
    if (int err = ResolveLinks(path, target))
        return err;
    // A file that does not exist yet, or an empty one that its writer has just claimed
    // (a backup copy), has nobody to wait for as long as nobody ever locked it: such
    // write-once files get no lock file beside them.
    FileLock lock;
    struct stat existing {};
    const bool fresh = ::lstat(target.c_str(), &existing) == 0
                           ? S_ISREG(existing.st_mode) && existing.st_size == 0
                           : errno == ENOENT;
    if (!fresh || ::access(LockPathOf(target).c_str(), F_OK) == 0) {
        if (int err = lock.Acquire(path))
            return err;
    }
    if (int err = CheckWritable(path))
        return err;
    const std::string dir = DirectoryOf(target);
    // Without the lock another writer's temporary file may be at work.
    if (lock.Held())
        RemoveStaleTemps(target);
    // A copy left by an earlier write: one whose write had finished goes; a torn file is
    // replaced whole below, so its copy goes after the write; somebody else's stays, and
    // no write that needs a copy of its own is made beside it.
    const SafetyCopy copy = ExamineSafetyCopy(target);
    if (copy.err != 0)
        return copy.err;
    if (copy.state == CopyState::Finished && lock.Held())
        ::unlink(SafetyPathOf(target).c_str());
    auto inPlace = [&](int fd, const struct stat& old) {
        if (copy.state == CopyState::Untrusted)
            return static_cast<int>(UntrustedCopy);
        return WriteInPlace(target, fd, old, bytes);
    };

    struct stat old {};
    Fd oldFile;
    if (::lstat(target.c_str(), &old) == 0) {
        int fd = OpenRegular(target, O_RDWR, old);
        if (fd < 0)
            return ErrorOfOpen(fd);
        oldFile.fd = fd;
        // More names than this one, or another user's file: a rename would cut the
        // other names off or give the file to this user.
        if (old.st_nlink > 1 || (::geteuid() != 0 && old.st_uid != ::geteuid()))
            return inPlace(oldFile.fd, old);
    }

    std::string temp;
    int fd = CreateTemp(target, temp);
    if (fd < 0)
        return -fd;
    Fd f(fd);
    auto fail = [&](int err) {
        f.Close();
        ::unlink(temp.c_str());
        return err;
    };
    if (int err = WriteAndSync(f.fd, bytes))
        return fail(err);
    if (oldFile.fd >= 0) {
        if (!TakeOver(oldFile.fd, old, f.fd)) {
            fail(0);
            return inPlace(oldFile.fd, old);
        }
    } else if (::fchmod(f.fd, NewFileMode()) != 0) {
        return fail(errno);
    }
    if (f.Close() != 0)
        return fail(errno);
    if (::rename(temp.c_str(), target.c_str()) != 0)
        return fail(errno);
    if (copy.state == CopyState::Restore && lock.Held())
        ::unlink(SafetyPathOf(target).c_str());
    // The new name must reach the disk too. The file is already in place, so a failure
    // here is not reported as a failed write.
    SyncDirectory(dir);
    return 0;
}

int RecoverInterruptedWrite(const std::string& path, std::string& safety) {
    safety.clear();
    std::string target;
    if (ResolveLinks(path, target) != 0)
        return 0;  // the read that follows reports it
    const std::string copyPath = SafetyPathOf(target);
    struct stat st {};
    if (::lstat(copyPath.c_str(), &st) != 0)
        return 0;
    // Somebody else's copy is told without waiting for a lock (that may be theirs too).
    if (ExamineSafetyCopy(target).state == CopyState::Untrusted) {
        safety = copyPath;
        return UntrustedCopy;
    }
    FileLock lock;
    if (int err = lock.Acquire(path))
        return err;
    // The writer may have finished while this one waited for the lock.
    const SafetyCopy copy = ExamineSafetyCopy(target);
    switch (copy.state) {
        case CopyState::None:
            return copy.err;
        case CopyState::Finished:
            ::unlink(copyPath.c_str());
            SyncDirectory(DirectoryOf(target));
            return 0;
        case CopyState::Untrusted:
            safety = copyPath;
            return UntrustedCopy;
        case CopyState::Restore:
            break;
    }
    safety = copyPath;
    struct stat old {};
    int fd = OpenRegular(target, O_RDWR, old);
    if (fd < 0)
        return ErrorOfOpen(fd);
    Fd f(fd);
    if (int err = Overwrite(f.fd, copy.before))
        return err;
    ::unlink(copyPath.c_str());
    SyncDirectory(DirectoryOf(target));
    return 0;
}

bool UserCouldWrite(uid_t uid, const struct stat& st) {
    if (uid == 0)
        return true;
    if (uid == st.st_uid)
        return (st.st_mode & S_IWUSR) != 0;
    bool member = false;
    if (uid == ::geteuid()) {
        member = ::getegid() == st.st_gid;
        int n = ::getgroups(0, nullptr);
        std::vector<gid_t> groups(static_cast<std::size_t>(n > 0 ? n : 0));
        n = ::getgroups(static_cast<int>(groups.size()), groups.data());
        for (int i = 0; i < n && !member; ++i)
            member = groups[static_cast<std::size_t>(i)] == st.st_gid;
    } else {
        std::vector<char> buffer(16384);
        passwd pw{};
        passwd* found = nullptr;
        if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found) {
            member = found->pw_gid == st.st_gid;
            int n = 64;
            std::vector<gid_t> groups(static_cast<std::size_t>(n));
            if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &n) < 0) {
                groups.resize(static_cast<std::size_t>(n));
                if (::getgrouplist(found->pw_name, found->pw_gid, groups.data(), &n) < 0)
                    n = 0;
            }
            for (int i = 0; i < n && !member; ++i)
                member = groups[static_cast<std::size_t>(i)] == st.st_gid;
        }
    }
    if (member)
        return (st.st_mode & S_IWGRP) != 0;
    return (st.st_mode & S_IWOTH) != 0;
}

std::string UserName(uid_t uid) {
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

std::string UntrustedCopyText(const std::string& path) {
    std::string target;
    if (ResolveLinks(path, target) != 0)
        return {};
    const std::string copy = SafetyPathOf(target);
    struct stat st {};
    if (::lstat(copy.c_str(), &st) != 0)
        return {};
    return "Рядом с файлом лежит копия «" + copy + "» (владелец: " + UserName(st.st_uid) +
           "), которую программа не делала для этого файла; она не восстановлена. Изменения, "
           "которым нужна такая копия, невозможны, пока её не удалит владелец или администратор.";
}

std::string ForeignLockText(const std::string& path) {
    std::string target;
    if (ResolveLinks(path, target) != 0)
        return {};
    const std::string lock = LockPathOf(target);
    struct stat st {};
    if (::lstat(lock.c_str(), &st) != 0 || st.st_uid == ::geteuid())
        return {};
    struct stat db {};
    if (::lstat(target.c_str(), &db) == 0 && UserCouldWrite(st.st_uid, db))
        return {};  // a writer of this file: it is at work, or was
    return "Файл блокировки «" + lock + "» создал пользователь " + UserName(st.st_uid) +
           ", который не может изменять этот файл; пока он там, записать файл нельзя. "
           "Удалить его может его владелец или администратор.";
}

int OpenBesideForAppend(const std::string& path, const std::string& dbPath, int& fd) {
    fd = -1;
    std::string target;
    if (int err = ResolveLinks(path, target))
        return err;
    std::string dbTarget;
    struct stat db {};
    const bool hasDb = ResolveLinks(dbPath, dbTarget) == 0 && ::lstat(dbTarget.c_str(), &db) == 0 &&
                       S_ISREG(db.st_mode);
    const uid_t me = ::geteuid();
    // What the database allows (its owner's write aside: the writer keeps its own file).
    const mode_t allowed = hasDb ? ((db.st_mode & 0666) | 0600) : NewFileMode();
    const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    int f = OpenRetrying(target.c_str(), flags | O_CREAT | O_EXCL, 0600);
    if (f >= 0) {
        mode_t mode = allowed;
        if (hasDb) {
            // Root gives the file to the database's owner; anyone else gives it the group.
            const uid_t owner = me == 0 ? db.st_uid : static_cast<uid_t>(-1);
            if (::fchown(f, owner, db.st_gid) != 0)
                mode &= ~static_cast<mode_t>(070);
        }
        ::fchmod(f, mode);
        fd = f;
        return 0;
    }
    if (errno != EEXIST)
        return errno;
    struct stat st {};
    f = OpenRegular(target, flags, st);
    if (f < 0)
        return ErrorOfOpen(f);
    // A second name of another file (a hard link), or a file someone who cannot write the
    // database made first, takes nothing from this writer.
    if (st.st_nlink != 1 ||
        (st.st_uid != me && hasDb && !UserCouldWrite(st.st_uid, db) && st.st_uid != db.st_uid)) {
        ::close(f);
        return UntrustedFile;
    }
    if (hasDb && (me == 0 || st.st_uid == me)) {
        mode_t limit = allowed;
        if (st.st_gid != db.st_gid && ::fchown(f, static_cast<uid_t>(-1), db.st_gid) != 0)
            limit &= ~static_cast<mode_t>(070);
        if ((st.st_mode & 0777 & ~limit) != 0)
            ::fchmod(f, st.st_mode & 07777 & limit);
    }
    fd = f;
    return 0;
}

void SetReplaceFileWriteForTesting(WriteFunction write) {
    g_write.store(write);
}
