#include "output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace owgateway {

namespace {

constexpr size_t kMaxNameLength = 200;  // room for the partial-file prefix within NAME_MAX

bool WriteAll(int fd, const void* data, size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = write(fd, p, length);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
  }
  return true;
}

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

const char* UnsafeNameReason(const std::string& name) {
  if (name.empty()) return "empty name";
  if (name.size() > kMaxNameLength) return "name too long";
  if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    return "path separator in name";
  }
  if (name.find("..") != std::string::npos) return "'..' in name";
  if (name[0] == '.') return "hidden name";  // also keeps our own state files ours
  if (name == "index.html") return "name reserved for the index";
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7F) return "control character in name";
  }
  return nullptr;
}

OutputFolder::~OutputFolder() {
  for (auto& entry : mPartials) close(entry.second.fd);
}

bool OutputFolder::Prepare(std::string& error) {
  std::string path;
  for (size_t i = 0; i <= mPath.size(); ++i) {
    if (i < mPath.size() && mPath[i] != '/') continue;
    path = mPath.substr(0, i);
    if (path.empty()) continue;
    if (mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
      error = ErrnoText("cannot create folder", path);
      return false;
    }
  }
  if (access(mPath.c_str(), W_OK) != 0) {
    error = ErrnoText("cannot write into folder", mPath);
    return false;
  }
  return true;
}

std::string OutputFolder::PartialPath(const std::string& name) const {
  return mPath + "/.part-" + name;
}

bool OutputFolder::OpenPartial(const std::string& name, bool fresh, Partial& partial,
                               std::string& error) {
  std::string path = PartialPath(name);
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : O_APPEND);
  int fd = open(path.c_str(), flags, 0644);
  if (fd < 0) {
    error = ErrnoText("cannot open", path);
    return false;
  }
  struct stat st;
  partial = Partial{fd, fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0};
  return true;
}

void OutputFolder::Drop(const std::string& name) {
  auto it = mPartials.find(name);
  if (it == mPartials.end()) return;
  close(it->second.fd);
  unlink(PartialPath(name).c_str());
  mPartials.erase(it);
}

bool OutputFolder::AddBlock(const std::string& name, uint32_t blockNum, const uint8_t* data,
                            uint32_t length, bool last, std::string& error) {
  auto it = mPartials.find(name);
  if (blockNum == 0 && it != mPartials.end()) {
    Drop(name);  // the server starts the file again
    it = mPartials.end();
  }
  if (it == mPartials.end()) {
    Partial partial;
    if (!OpenPartial(name, blockNum == 0, partial, error)) return false;
    it = mPartials.emplace(name, partial).first;
  }
  if (length > 0 && !WriteAll(it->second.fd, data, length)) {
    error = ErrnoText("cannot write", PartialPath(name));
    Drop(name);
    return false;
  }
  it->second.length += length;
  mBytes += length;
  if (!last) return true;
  int fd = it->second.fd;
  mPartials.erase(it);
  if (close(fd) != 0 || rename(PartialPath(name).c_str(), FullPath(name).c_str()) != 0) {
    error = ErrnoText("cannot complete", FullPath(name));
    unlink(PartialPath(name).c_str());
    return false;
  }
  return true;
}

bool OutputFolder::WriteFile(const std::string& name, const void* data, size_t length,
                             std::string& error) {
  std::string temp = mPath + "/.tmp-" + std::to_string(getpid()) + "-" +
                     std::to_string(++mTempCounter);
  int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = ErrnoText("cannot create", temp);
    return false;
  }
  bool ok = WriteAll(fd, data, length);
  ok = close(fd) == 0 && ok;
  if (!ok || rename(temp.c_str(), FullPath(name).c_str()) != 0) {
    error = ErrnoText("cannot write", FullPath(name));
    unlink(temp.c_str());
    return false;
  }
  mBytes += length;
  return true;
}

}  // namespace owgateway
