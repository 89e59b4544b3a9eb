// SPDX-License-Identifier: MIT
// A file opened for reading and appending, created when missing and closed with the
// object. The log ring reads a file's first line, then either appends or starts over.
#ifndef OWCLIENT_PLATFORM_APPEND_FILE_H
#define OWCLIENT_PLATFORM_APPEND_FILE_H

#include <cstddef>
#include <string>

namespace owc {

class AppendFile {
 public:
  // Opens or creates the file (mode 0644), positioned at its start; IsOpen tells.
  explicit AppendFile(const std::string& name);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  bool IsOpen() const { return mFd >= 0; }
  // Reads up to size bytes at the current position: the count, 0 at the end, -1 on error.
  long Read(void* data, size_t size);
  // Empties the file and moves to its start.
  bool Truncate();
  bool SeekToEnd();
  // Writes at the current position; a failed write is ignored (a log line is dropped).
  void Append(const void* data, size_t size);

 private:
  int mFd;
};

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_APPEND_FILE_H
