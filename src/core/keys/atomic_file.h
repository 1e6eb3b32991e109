// The file layer under the database: safe reads, an advisory lock per file, and atomic
// replacement that keeps the old file's owner, group, mode, extended attributes and
// hard links, with the errors in the operator's language.
//
// Files beside a database `NAME` in its folder, all starting ".vx2-<hash of NAME>":
//   ".lock"           the lock file; never deleted, so every writer locks the same one
//   "-<random>.tmp"   a replacement being written (mode 0600); one left by a writer
//                     that is gone is removed by the next writer of that database
//   ".safe"           the old content while the file is overwritten in place, after a
//                     line naming the file (device and inode) and the size and hash of
//                     the old and the new content; found later, it means a write died
//                     half-way (see RecoverInterruptedWrite)
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <string>

// Errors of this layer beyond errno (negative, so they never meet an errno value).
enum FileError : int {
    NotRegularFile = -1001,  // a device, FIFO, socket: never read or written as a database
    FileTooLarge = -1002,    // more than MaxDatabaseFileSize
    UnsafeLink = -1003,      // a link the kernel's sticky-folder rule would not follow
    DanglingLink = -1004,    // a link to nothing
    LockTimedOut = -1005,    // another writer held the lock for the whole wait
    UntrustedCopy = -1006,   // a safety copy this program did not make for this file
    UntrustedFile = -1007,   // a file beside the database made by someone who cannot write it
};

// No database comes near this; a bigger file is a mistake and is refused before reading.
constexpr std::size_t MaxDatabaseFileSize = 64u << 20;

// The system's error text for `err` (an errno value or a FileError) in Russian (the C
// library's own text for the rare ones without a translation here).
std::string ErrorText(int err);

// The file a write to `path` changes: `path` itself, or, when it is a symbolic link, the
// file at the end of its links, so that a link stays a link. A link in a sticky folder
// writable by all whose owner is neither this user nor the folder's owner is refused
// (UnsafeLink) whatever the kernel's own setting; a link to nothing is DanglingLink. A
// missing `path` is no error (it names a file to create). Returns 0 or the error.
int ResolveLinks(const std::string& path, std::string& target);

// Reads the whole file (after ResolveLinks). Only regular files are read: the path is
// opened without blocking and checked with fstat, so a FIFO or a device is refused and
// not read from. Returns 0 or the error.
int ReadWholeFile(const std::string& path, std::string& bytes,
                  std::size_t maxSize = MaxDatabaseFileSize);

// An exclusive advisory lock on the file at `path` (its link target), held through the
// lock file beside it. Re-entrant within the process: a second FileLock on the same file
// while the first is held returns at once, so a caller can hold the lock across its own
// controller traffic and the writes it calls take it again freely. Released by the
// destructor or Release.
class FileLock {
  public:
    FileLock() = default;
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Waits up to LockWaitMs() for other processes; returns 0 or the error
    // (LockTimedOut when they kept it).
    int Acquire(const std::string& path);
    // The same without waiting: LockTimedOut at once when another process holds it.
    int TryAcquire(const std::string& path);
    void Release();
    bool Held() const { return held_; }

  private:
    int AcquireWithin(const std::string& path, int waitMs);

    bool held_ = false;
    dev_t dev_ = 0;
    ino_t ino_ = 0;
};

// Ten seconds; tests make it shorter.
int LockWaitMs();
void SetLockWaitForTesting(int ms);  // <= 0 restores the ten seconds

// Whether a write to `path` can succeed as far as can be known without writing: links
// as ResolveLinks allows, a regular file (or none, when the folder takes a new one) that
// this user may write and whose mode allows writing, a folder that takes the temporary
// and lock files, and, where the write would go in place, no safety copy beside it that
// blocks one (UntrustedCopy). Returns 0 or the error.
int CheckWritable(const std::string& path);

// Replaces the file at `path` by `bytes`, under the file's lock (a missing or empty file
// that was never locked is written without one, so write-once files leave no lock file
// behind; read-modify-write changes always lock). Normally a temporary
// file beside it is written, flushed, given the old file's owner, group, mode and
// extended attributes, and renamed over it. Where a rename could not keep them (another
// user's file, a group this user cannot give, attributes it cannot copy, more hard
// links) the file is overwritten in place behind a safety copy instead. On failure the
// old content stays, no temporary file is left, and the error is returned.
int ReplaceFile(const std::string& path, const std::string& bytes);

// Finishes a write that died while overwriting `path` in place. A safety copy beside it is
// trusted only when it names this file, its owner could write the file and nobody else
// can write the copy. A trusted copy is dropped when the file holds the old or the new
// content whole, and otherwise its old content is put back (`safety` then receives the
// copy's path). Takes the lock. Returns 0, UntrustedCopy (`safety` set, nothing changed),
// or the error of the restore (the copy then stays).
int RecoverInterruptedWrite(const std::string& path, std::string& safety);

// The operator's text for the safety copy beside `path` that an open or a write found
// untrusted (UntrustedCopy): its path and owner, and the way out; empty when there is no
// copy. The open says it and restores nothing; a write that needs a safety copy is
// refused with it.
std::string UntrustedCopyText(const std::string& path);

// The operator's text when the lock file beside `path` belongs to a user who cannot write
// the database (made first by someone else in a shared folder): who owns it and the way
// out. Empty when the lock file is not the cause.
std::string ForeignLockText(const std::string& path);

// Opens the file `path` kept beside the database `dbPath` (its journal) for appending, by
// the database's rules: links as ResolveLinks allows, a regular file only, opened without
// blocking and closed on exec, and trusted only when its owner could write the database.
// A new file gets the database's group and mode (without the group's bits where that
// group cannot be given); a file found more open than the database is narrowed. Returns
// 0 with `fd` set, or the error.
int OpenBesideForAppend(const std::string& path, const std::string& dbPath, int& fd);

// Whether the user `uid` may write a file of owner, group and mode `st` (root may).
bool UserCouldWrite(uid_t uid, const struct stat& st);
// The login of `uid`, or its number.
std::string UserName(uid_t uid);

// Tests can make the writes of ReplaceFile fail (a full disk, an I/O error); nullptr
// restores the real write.
using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);
void SetReplaceFileWriteForTesting(WriteFunction write);
