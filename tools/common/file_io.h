// SPDX-License-Identifier: MIT
// Whole-file reading and writing for the tools. Errors come back as one line of text
// naming the file and the reason (the system's error text), as "story.xml: No such file
// or directory".
#ifndef OWTOOL_FILE_IO_H
#define OWTOOL_FILE_IO_H

#include <cstddef>
#include <string>

namespace owtool {

// Reads the whole regular file at `path` into `out`.
bool ReadWholeFile(const std::string& path, std::string* out, std::string* error);

// As ReadWholeFile, and "-" reads standard input to its end.
bool ReadWholeInput(const std::string& path, std::string* out, std::string* error);
constexpr const char* kStdio = "-";

// True when both names reach one existing file (by device and inode), so that writing
// one would overwrite the other.
bool SameFile(const std::string& a, const std::string& b);

// Creates or truncates `path` and writes `len` bytes with as few write calls as the
// system allows (one, normally).
bool WriteWholeFile(const std::string& path, const void* data, size_t len, std::string* error);

// Writes all `len` bytes to an open descriptor (standard output, for instance).
bool WriteAll(int fd, const void* data, size_t len);

// Why `path` cannot be read as a story file, as "path: reason"; "" when it can be.
std::string WhyUnreadable(const std::string& path);

bool IsRegularFile(const std::string& path);
bool IsFolder(const std::string& path);

// Creates `path` and any missing parents; an existing folder is success.
bool MakeFolders(const std::string& path, std::string* error);

}  // namespace owtool

#endif  // OWTOOL_FILE_IO_H
