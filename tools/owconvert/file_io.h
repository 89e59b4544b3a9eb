// Whole-file reading and writing for owconvert. Errors come back as one line of text
// naming the file and the reason (the system's error text).
#ifndef OWCONVERT_FILE_IO_H_
#define OWCONVERT_FILE_IO_H_

#include <cstddef>
#include <string>

namespace owconvert {

// Reads the whole regular file at `path` into `out`.
bool ReadWholeFile(const std::string& path, std::string* out, std::string* error);

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

}  // namespace owconvert

#endif  // OWCONVERT_FILE_IO_H_
