// SPDX-License-Identifier: MIT
#include "file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <system_error>

namespace owtool {
namespace {

std::string ErrnoText(const std::string& path, int err) { return path + ": " + std::strerror(err); }

// Owns an open descriptor; closes it once.
class Fd {
 public:
  explicit Fd(int fd) : mFd(fd) {}
  ~Fd() {
    if (mFd >= 0) ::close(mFd);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return mFd; }
  // Closes now and reports the result, since a failed close can lose written data.
  bool Close() {
    int fd = mFd;
    mFd = -1;
    return ::close(fd) == 0;
  }

 private:
  int mFd;
};

}  // namespace

bool ReadWholeFile(const std::string& path, std::string* out, std::string* error) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) {
    *error = ErrnoText(path, errno);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = path + ": not a regular file";
    return false;
  }
  out->resize(static_cast<size_t>(st.st_size));
  size_t done = 0;
  while (done < out->size()) {
    ssize_t n = ::read(fd.Get(), &(*out)[done], out->size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = ErrnoText(path, errno);
      return false;
    }
    if (n == 0) break;  // the file shrank while we read it
    done += static_cast<size_t>(n);
  }
  out->resize(done);
  return true;
}

bool ReadWholeInput(const std::string& path, std::string* out, std::string* error) {
  if (path != kStdio) return ReadWholeFile(path, out, error);
  out->clear();
  char chunk[65536];
  for (;;) {
    ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = ErrnoText("standard input", errno);
      return false;
    }
    if (n == 0) return true;
    out->append(chunk, static_cast<size_t>(n));
  }
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

bool WriteAll(int fd, const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = ::write(fd, p, len);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t len, std::string* error) {
  Fd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.Get() < 0 || !WriteAll(fd.Get(), data, len) || !fd.Close()) {
    *error = ErrnoText(path, errno);
    return false;
  }
  return true;
}

std::string WhyUnreadable(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) return ErrnoText(path, errno);
  if (!S_ISREG(st.st_mode)) return path + ": not a regular file";
  return "";
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsFolder(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolders(const std::string& path, std::string* error) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec || !IsFolder(path)) {
    *error = path + ": " + (ec ? ec.message() : std::string("not a folder"));
    return false;
  }
  return true;
}

}  // namespace owtool
