// Whole-file reads and atomic replacement of files, with the errors in the operator's
// language.
#pragma once

#include <sys/types.h>
#include <cstddef>
#include <string>

// The system's error text for `err` in Russian (the C library's own text for the rare
// ones without a translation here).
std::string ErrorText(int err);

// Reads the whole file. Returns 0 or the errno value.
int ReadWholeFile(const std::string& path, std::string& bytes);

// Replaces the file at `path` by `bytes`: a temporary file beside it is written, flushed
// to disk and renamed over the old one, then the folder is flushed. On failure the old
// file is untouched, the temporary file is gone, and the errno value is returned.
int ReplaceFile(const std::string& path, const std::string& bytes);

// Tests can make the writes of ReplaceFile fail (a full disk, an I/O error); nullptr
// restores the real write.
using WriteFunction = ssize_t (*)(int fd, const void* data, std::size_t size);
void SetReplaceFileWriteForTesting(WriteFunction write);
