// SPDX-License-Identifier: MIT
#include "platform/append_file.h"

#include <fcntl.h>
#include <unistd.h>

namespace owc {

AppendFile::AppendFile(const std::string& name)
    : mFd(open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644)) {}

AppendFile::~AppendFile() {
  if (mFd >= 0) close(mFd);
}

long AppendFile::Read(void* data, size_t size) {
  return static_cast<long>(read(mFd, data, size));
}

bool AppendFile::Truncate() { return ftruncate(mFd, 0) == 0 && lseek(mFd, 0, SEEK_SET) == 0; }

bool AppendFile::SeekToEnd() { return lseek(mFd, 0, SEEK_END) >= 0; }

void AppendFile::Append(const void* data, size_t size) {
  ssize_t ignored = write(mFd, data, size);
  (void)ignored;
}

}  // namespace owc
