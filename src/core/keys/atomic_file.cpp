// Whole-file reads and atomic replacement.
#include "core/keys/atomic_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<WriteFunction> g_write{nullptr};

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
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

// A link is replaced at its target, so that the link stays a link.
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string target = real;
    std::free(real);
    return target;
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

}  // namespace

std::string ErrorText(int err) {
    switch (err) {
        case EACCES:
            return "Отказано в доступе";
        case EPERM:
            return "Операция не позволена";
        case ENOENT:
            return "Нет такого файла или каталога";
        case ENOSPC:
            return "На устройстве не осталось свободного места";
        case EDQUOT:
            return "Превышена дисковая квота";
        case EROFS:
            return "Файловая система доступна только для чтения";
        case EISDIR:
            return "Это каталог";
        case ENOTDIR:
            return "Это не каталог";
        case ENAMETOOLONG:
            return "Слишком длинное имя файла";
        case EIO:
            return "Ошибка ввода/вывода";
        case EMFILE:
        case ENFILE:
            return "Слишком много открытых файлов";
        case EFBIG:
            return "Файл слишком велик";
        case ENOMEM:
            return "Недостаточно памяти";
        case EBUSY:
            return "Устройство или ресурс занято";
        case ELOOP:
            return "Слишком много уровней символических ссылок";
        case ETXTBSY:
            return "Текстовый файл занят";
        default:
            return std::strerror(err);
    }
}

int ReadWholeFile(const std::string& path, std::string& bytes) {
    Fd f;
    do {
        f.fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (f.fd < 0 && errno == EINTR);
    if (f.fd < 0)
        return errno;
    struct stat st {};
    if (::fstat(f.fd, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    // One read for a regular file of known size (the extra byte sees the end).
    std::size_t size = S_ISREG(st.st_mode) && st.st_size > 0
                           ? static_cast<std::size_t>(st.st_size) + 1
                           : std::size_t{65536};
    bytes.assign(size, '\0');
    std::size_t used = 0;
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2);
        ssize_t n = ::read(f.fd, bytes.data() + used, bytes.size() - used);
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
    bytes.resize(used);
    return 0;
}

int ReplaceFile(const std::string& requested, const std::string& bytes) {
    const std::string path = ResolveTarget(requested);
    const std::string dir = DirectoryOf(path);
    // The temporary name stays short enough for any file name the folder can hold.
    std::string base =
        path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1).substr(0, 64);

    // Keep the old file's permissions; a new file gets the usual ones (umask applies).
    struct stat old {};
    bool hadOld = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    // A file the operator made read-only stays as it is, as it would if it were written
    // in place (the rename alone would not ask).
    if (hadOld) {
        if (::access(path.c_str(), W_OK) != 0)
            return errno == EROFS ? EROFS : EACCES;
        if ((old.st_mode & 0222) == 0)
            return EACCES;
    }

    static std::atomic<unsigned> counter{0};
    std::string temp;
    Fd f;
    for (int attempt = 0; attempt < 100 && f.fd < 0; ++attempt) {
        auto stamp = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        temp = dir + "/." + base + "." + std::to_string(::getpid()) + "-" +
               std::to_string(counter++) + "-" + std::to_string(stamp % 1000000) + ".tmp";
        f.fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (f.fd < 0 && errno != EEXIST && errno != EINTR)
            return errno;
    }
    if (f.fd < 0)
        return EEXIST;

    auto fail = [&](int err) {
        ::close(f.fd);
        f.fd = -1;
        ::unlink(temp.c_str());
        return err;
    };
    if (hadOld)
        ::fchmod(f.fd, old.st_mode & 07777);
    if (int err = WriteAll(f.fd, bytes))
        return fail(err);
    if (::fsync(f.fd) != 0)
        return fail(errno);
    int fd = f.fd;
    f.fd = -1;
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return err;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return err;
    }
    // The new name must reach the disk too. The file is already in place, so a failure
    // here is not reported as a failed write.
    Fd d;
    d.fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (d.fd >= 0)
        ::fsync(d.fd);
    return 0;
}

void SetReplaceFileWriteForTesting(WriteFunction write) {
    g_write.store(write);
}
