#include "output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cstdio>
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

bool WriteAllAt(int fd, const void* data, size_t length, uint64_t offset) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = pwrite(fd, p, length, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

// A block record: "next length", fixed width so that each rewrite covers the last.
constexpr size_t kRecordSize = 32;

bool ReadRecord(int fd, uint32_t& next, uint64_t& length) {
  char text[kRecordSize + 1] = {};
  ssize_t n = pread(fd, text, kRecordSize, 0);
  unsigned long long bytes = 0;
  unsigned blocks = 0;
  if (n != static_cast<ssize_t>(kRecordSize) ||
      std::sscanf(text, "%u %llu", &blocks, &bytes) != 2) {
    return false;
  }
  next = blocks;
  length = bytes;
  return true;
}

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::string EscapeControls(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

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

// Partial files and their records stay: a restarted owgateway continues them.
OutputFolder::~OutputFolder() {
  for (auto& entry : mPartials) {
    close(entry.second.fd);
    close(entry.second.recordFd);
  }
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

std::string OutputFolder::RecordPath(const std::string& name) const {
  return mPath + "/.blocks-" + name;
}

bool OutputFolder::OpenPartial(const std::string& name, bool fresh, Partial& partial,
                               std::string& error) {
  int flags = O_RDWR | O_CREAT | O_CLOEXEC | (fresh ? O_TRUNC : 0);
  int fd = open(PartialPath(name).c_str(), flags, 0644);
  if (fd < 0) {
    error = ErrnoText("cannot open", PartialPath(name));
    return false;
  }
  int recordFd = open(RecordPath(name).c_str(), flags, 0644);
  if (recordFd < 0) {
    error = ErrnoText("cannot open", RecordPath(name));
    close(fd);
    return false;
  }
  partial = Partial{fd, recordFd, 0, 0};
  struct stat st;
  if (!fresh && ReadRecord(recordFd, partial.next, partial.length) && fstat(fd, &st) == 0 &&
      static_cast<uint64_t>(st.st_size) >= partial.length) {
    // Bytes past the record belong to a block whose record was never written: the server
    // sends that block again.
    if (ftruncate(fd, static_cast<off_t>(partial.length)) == 0) return true;
  }
  partial.next = 0;
  partial.length = 0;
  if (ftruncate(fd, 0) == 0) return true;
  error = ErrnoText("cannot truncate", PartialPath(name));
  close(fd);
  close(recordFd);
  return false;
}

bool OutputFolder::WriteBlock(const std::string& name, Partial& partial, const uint8_t* data,
                              uint32_t length, std::string& error) {
  if (length > 0 && !WriteAllAt(partial.fd, data, length, partial.length)) {
    error = ErrnoText("cannot write", PartialPath(name));
    return false;
  }
  char record[kRecordSize + 1];
  std::snprintf(record, sizeof record, "%010u %020" PRIu64, partial.next + 1,
                partial.length + length);
  record[kRecordSize - 1] = '\n';
  if (!WriteAllAt(partial.recordFd, record, kRecordSize, 0)) {
    error = ErrnoText("cannot write", RecordPath(name));
    return false;
  }
  partial.length += length;
  ++partial.next;
  mBytes += length;
  return true;
}

OutputFolder::Block OutputFolder::Complete(const std::string& name, std::string& error) {
  auto it = mPartials.find(name);
  uint32_t blocks = it->second.next;
  bool closed = close(it->second.fd) == 0;
  close(it->second.recordFd);
  mPartials.erase(it);
  if (!closed || rename(PartialPath(name).c_str(), FullPath(name).c_str()) != 0) {
    error = ErrnoText("cannot complete", FullPath(name));
    unlink(PartialPath(name).c_str());
    unlink(RecordPath(name).c_str());
    return Block::kFailed;
  }
  unlink(RecordPath(name).c_str());
  mLastCompleted = name;
  mLastCompletedBlocks = blocks;
  return Block::kCompleted;
}

void OutputFolder::Drop(const std::string& name) {
  auto it = mPartials.find(name);
  if (it == mPartials.end()) return;
  close(it->second.fd);
  close(it->second.recordFd);
  unlink(PartialPath(name).c_str());
  unlink(RecordPath(name).c_str());
  mPartials.erase(it);
}

// A server repeats the blocks whose acknowledgement it did not see before a connection
// broke; a file resumed after a restart may also have lost blocks that were acknowledged
// but never written. Repeats are skipped; a file with a gap is never completed.
OutputFolder::Block OutputFolder::AddBlock(const std::string& name, uint32_t blockNum,
                                           const uint8_t* data, uint32_t length, bool last,
                                           std::string& error) {
  auto it = mPartials.find(name);
  if (blockNum == 0) {
    Drop(name);  // a file's first block, or the server starting it again
    mLost.erase(name);
    it = mPartials.end();
  } else if (it == mPartials.end()) {
    if (mLost.count(name) != 0 || (name == mLastCompleted && blockNum < mLastCompletedBlocks)) {
      if (last) mLost.erase(name);
      return Block::kRepeat;
    }
    // The last block of a file that is in place already: sent again after a restart.
    if (last && access(PartialPath(name).c_str(), F_OK) != 0 &&
        access(FullPath(name).c_str(), F_OK) == 0) {
      return Block::kRepeat;
    }
  }
  if (it == mPartials.end()) {
    Partial partial;
    if (!OpenPartial(name, blockNum == 0, partial, error)) return Block::kFailed;
    it = mPartials.emplace(name, partial).first;
  }
  Partial& partial = it->second;
  if (blockNum < partial.next) return Block::kRepeat;
  if (blockNum > partial.next) {
    error = "lost " + name + ": block " + std::to_string(blockNum) + " came after block " +
            std::to_string(partial.next) + " was due; the file is not written";
    Drop(name);
    if (!last) mLost.insert(name);
    return Block::kLost;
  }
  if (!WriteBlock(name, partial, data, length, error)) {
    Drop(name);
    return Block::kFailed;
  }
  return last ? Complete(name, error) : Block::kWritten;
}

bool OutputFolder::WriteFile(const std::string& name, const void* data, size_t length,
                             std::string& error) {
  std::string temp =
      mPath + "/.tmp-" + std::to_string(getpid()) + "-" + std::to_string(++mTempCounter);
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
