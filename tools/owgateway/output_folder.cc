// SPDX-License-Identifier: MIT
#include "output_folder.h"

#include <dirent.h>
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
const char kPartPrefix[] = ".part-";
const char kRecordPrefix[] = ".blocks-";
const char kTempPrefix[] = ".tmp-";

bool StartsWith(const std::string& s, const char* prefix) {
  return s.compare(0, std::strlen(prefix), prefix) == 0;
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

// A block record: "next length state", fixed width so that each rewrite covers the last.
// The state is P while blocks are due and C once the file is whole.
constexpr size_t kRecordSize = 32;

struct Record {
  uint32_t next = 0;
  uint64_t length = 0;
  bool complete = false;
};

bool ReadRecord(int fd, Record& record) {
  char text[kRecordSize + 1] = {};
  ssize_t n = pread(fd, text, kRecordSize, 0);
  unsigned long long bytes = 0;
  unsigned blocks = 0;
  char state = 'P';
  // A record of an earlier version has no state: it is a partial file.
  if (n != static_cast<ssize_t>(kRecordSize) ||
      std::sscanf(text, "%u %llu %c", &blocks, &bytes, &state) < 2) {
    return false;
  }
  record.next = blocks;
  record.length = bytes;
  record.complete = state == 'C';
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

// The partial file and its record stay: a restarted owgateway continues them.
OutputFolder::~OutputFolder() {
  Close(false);
  if (mDirFd >= 0) close(mDirFd);
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
  mDirFd = open(mPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (mDirFd < 0) {
    error = ErrnoText("cannot open folder", mPath);
    return false;
  }
  Recover();
  return true;
}

bool OutputFolder::Exists(const std::string& name) const {
  struct stat st;
  return fstatat(mDirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

int OutputFolder::OpenOwn(const std::string& name, int flags, std::string& error) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    int fd = openat(mDirFd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    struct stat st;
    if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) return fd;
    int openError = errno;
    if (fd >= 0) close(fd);
    // ELOOP: a symbolic link; EEXIST: anything under a temporary name of ours.
    bool foreign = fd >= 0 || openError == ELOOP || openError == EEXIST;
    if (!foreign || attempt > 0 || unlinkat(mDirFd, name.c_str(), 0) != 0) {
      errno = foreign ? EEXIST : openError;
      error = ErrnoText("cannot open", FullPath(name));
      return -1;
    }
    Warn("removed " + FullPath(name) +
         ": not a regular file of owgateway's (a symbolic link or other planted entry)");
  }
  return -1;
}

bool OutputFolder::SyncFolder() { return !mSync || fsync(mDirFd) == 0; }

void OutputFolder::Close(bool remove) {
  if (mOpen.fd < 0) return;
  close(mOpen.fd);
  close(mOpen.recordFd);
  if (remove) {
    unlinkat(mDirFd, (kPartPrefix + mOpen.name).c_str(), 0);
    unlinkat(mDirFd, (kRecordPrefix + mOpen.name).c_str(), 0);
  }
  mOpen = Partial{};
}

bool OutputFolder::OpenPartial(const std::string& name, bool fresh, std::string& error) {
  int flags = O_RDWR | O_CREAT | (fresh ? O_TRUNC : 0);
  int fd = OpenOwn(kPartPrefix + name, flags, error);
  if (fd < 0) return false;
  int recordFd = OpenOwn(kRecordPrefix + name, flags, error);
  if (recordFd < 0) {
    close(fd);
    return false;
  }
  mOpen.name = name;
  mOpen.fd = fd;
  mOpen.recordFd = recordFd;
  Record record;
  struct stat st;
  if (!fresh && ReadRecord(recordFd, record) && fstat(fd, &st) == 0 &&
      static_cast<uint64_t>(st.st_size) >= record.length) {
    // Bytes past the record belong to a block whose record was never written: the server
    // sends that block again, as it was never acknowledged.
    mOpen.next = record.next;
    mOpen.length = record.length;
    if (ftruncate(fd, static_cast<off_t>(record.length)) == 0) return true;
  }
  mOpen.next = 0;
  mOpen.length = 0;
  if (ftruncate(fd, 0) == 0) return true;
  error = ErrnoText("cannot truncate", FullPath(kPartPrefix + name));
  Close(false);
  return false;
}

bool OutputFolder::WriteRecord(bool complete) {
  char record[kRecordSize + 1];
  std::snprintf(record, sizeof record, "%010u %018" PRIu64 " %c", mOpen.next, mOpen.length,
                complete ? 'C' : 'P');
  record[kRecordSize - 1] = '\n';
  return WriteAllAt(mOpen.recordFd, record, kRecordSize, 0);
}

bool OutputFolder::WriteBlock(const uint8_t* data, uint32_t length, std::string& error) {
  if (length > 0 && !WriteAllAt(mOpen.fd, data, length, mOpen.length)) {
    error = ErrnoText("cannot write", FullPath(kPartPrefix + mOpen.name));
    return false;
  }
  ++mOpen.next;
  mOpen.length += length;
  if (!WriteRecord(false)) {
    error = ErrnoText("cannot write", FullPath(kRecordPrefix + mOpen.name));
    return false;
  }
  mBytes += length;
  return true;
}

// The file is on disk before the callback returns, and so before the gateway acknowledges
// its last block: the data, then the name in the folder.
OutputFolder::Block OutputFolder::Complete(std::string& error) {
  const std::string name = mOpen.name;
  const std::string part = kPartPrefix + name;
  if (!WriteRecord(true) || (mSync && fsync(mOpen.fd) != 0)) {
    error = ErrnoText("cannot write", FullPath(part));
    Close(false);
    return Block::kFailed;
  }
  Close(false);
  if (renameat(mDirFd, part.c_str(), mDirFd, name.c_str()) != 0) {
    error = ErrnoText("cannot put in place", FullPath(name)) + " (kept whole as " + part +
            ", put in place at the next start)";
    return Block::kFailed;
  }
  if (!SyncFolder()) {
    error = ErrnoText("cannot sync folder", mPath);
    return Block::kFailed;
  }
  unlinkat(mDirFd, (kRecordPrefix + name).c_str(), 0);
  return Block::kCompleted;
}

// A server repeats the blocks whose acknowledgement it did not see before a connection
// broke; a file resumed after a restart continues from its record. Repeats are skipped; a
// file with a gap is never completed.
OutputFolder::Block OutputFolder::AddBlock(const std::string& name, uint32_t session,
                                           uint32_t blockNum, const uint8_t* data,
                                           uint32_t length, bool last, std::string& error) {
  if (mOpen.fd >= 0 && mOpen.name != name) {
    // The server went on to another file without finishing this one: only one partial
    // file stays open, and one the server left will not be continued.
    Warn("abandoned " + mOpen.name + " after " + std::to_string(mOpen.next) +
         " blocks: the server went on to " + name + "; its partial file is removed");
    Close(true);
  }
  if (mOpen.fd < 0 && name == mLastCompleted && session == mLastCompletedSession) {
    // Within a session a finished file comes again only with a new FILE announcement, and
    // the gateway skips the blocks the server repeats: this block belongs to no file.
    if (!mStrayReported) {
      error = "refused block " + std::to_string(blockNum) + " of " + name +
              ", which came without a FILE announcement after the file was complete; " +
              name + " is kept as it was";
    }
    mStrayReported = true;
    return Block::kRefused;
  }
  if (blockNum == 0) {
    Close(false);  // the server starting the file again
    if (mLost == name) mLost.clear();
    if (!OpenPartial(name, true, error)) return Block::kFailed;
  } else if (mOpen.fd < 0) {
    if (mLost == name) {
      if (last) mLost.clear();
      return Block::kRepeat;
    }
    // A block of a file that is in place already, with no partial file: a run that put it
    // in place was stopped before its last acknowledgements went out, and the server sends
    // those blocks again. (A file sent anew starts at block 0.)
    if (!Exists(kPartPrefix + name) && Exists(name)) return Block::kRepeat;
    if (!OpenPartial(name, false, error)) return Block::kFailed;
  }
  if (blockNum < mOpen.next) {
    // A run stopped between the last block's write and the file's completion left it whole
    // but unfinished, and the server, which never saw that block acknowledged, sends it
    // again: acknowledged as a mere repeat, the file would never be put in place.
    if (last && blockNum + 1 == mOpen.next) return Finish(name, session, error);
    return Block::kRepeat;
  }
  if (blockNum > mOpen.next) {
    error = "lost " + name + ": block " + std::to_string(blockNum) + " came after block " +
            std::to_string(mOpen.next) + " was due; the file is not written";
    Close(true);
    mLost = last ? std::string() : name;
    return Block::kLost;
  }
  if (!WriteBlock(data, length, error)) {
    Close(false);  // what the record says is whole: a restart continues from there
    return Block::kFailed;
  }
  if (!last) return Block::kWritten;
  return Finish(name, session, error);
}

OutputFolder::Block OutputFolder::Finish(const std::string& name, uint32_t session,
                                         std::string& error) {
  Block result = Complete(error);
  if (result == Block::kCompleted) {
    mLastCompleted = name;
    mLastCompletedSession = session;
    mStrayReported = false;
  }
  return result;
}

bool OutputFolder::WriteFile(const std::string& name, const void* data, size_t length,
                             bool durable, std::string& error) {
  if (!WriteOwnFile(name, data, length, durable, error)) return false;
  mBytes += length;
  return true;
}

bool OutputFolder::WriteOwnFile(const std::string& name, const void* data, size_t length,
                                bool durable, std::string& error) {
  std::string temp = kTempPrefix + std::to_string(getpid()) + "-" + std::to_string(++mTempCounter);
  int fd = OpenOwn(temp, O_WRONLY | O_CREAT | O_EXCL, error);
  if (fd < 0) return false;
  bool ok = length == 0 || WriteAllAt(fd, data, length, 0);
  ok = ok && (!durable || !mSync || fsync(fd) == 0);
  ok = close(fd) == 0 && ok;
  if (!ok || renameat(mDirFd, temp.c_str(), mDirFd, name.c_str()) != 0 ||
      (durable && !SyncFolder())) {
    error = ErrnoText("cannot write", FullPath(name));
    unlinkat(mDirFd, temp.c_str(), 0);
    return false;
  }
  return true;
}

std::string OutputFolder::ReadHead(const std::string& name, size_t limit) const {
  std::string head;
  int fd = openat(mDirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return head;
  struct stat st;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    head.resize(limit);
    ssize_t n = pread(fd, &head[0], limit, 0);
    head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  close(fd);
  return head;
}

int OutputFolder::OpenForReading(const std::string& name) const {
  int fd = openat(mDirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  return fd;
}

bool OutputFolder::Remove(const std::string& name) {
  return unlinkat(mDirFd, name.c_str(), 0) == 0 || errno == ENOENT;
}

std::vector<OutputFolder::Entry> OutputFolder::List() const {
  std::vector<Entry> entries;
  int fd = dup(mDirFd);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    return entries;
  }
  rewinddir(dir);
  while (const dirent* e = readdir(dir)) {
    struct stat st;
    if (e->d_name[0] == '.' || fstatat(mDirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode)) {
      continue;
    }
    entries.push_back(Entry{e->d_name, static_cast<int64_t>(st.st_mtime)});
  }
  closedir(dir);
  return entries;
}

// What a stopped run left: temporary files are dropped; a record without its partial file
// is dropped (the file was put in place, or abandoned); a partial file whose record says
// it is whole was written completely but not renamed, and is put in place now.
void OutputFolder::Recover() {
  std::vector<std::string> names;
  int fd = dup(mDirFd);
  DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
  if (dir == nullptr) {
    if (fd >= 0) close(fd);
    return;
  }
  while (const dirent* e = readdir(dir)) names.emplace_back(e->d_name);
  closedir(dir);
  for (const std::string& entry : names) {
    if (StartsWith(entry, kTempPrefix)) {
      unlinkat(mDirFd, entry.c_str(), 0);
      continue;
    }
    if (!StartsWith(entry, kRecordPrefix)) continue;
    const std::string name = entry.substr(std::strlen(kRecordPrefix));
    if (UnsafeNameReason(name) != nullptr) continue;
    if (!Exists(kPartPrefix + name)) {
      unlinkat(mDirFd, entry.c_str(), 0);
      continue;
    }
    std::string error;
    if (!OpenPartial(name, false, error)) {
      Warn(error);
      continue;
    }
    Record record;
    bool whole = ReadRecord(mOpen.recordFd, record) && record.complete &&
                 record.length == mOpen.length;
    if (!whole) {
      Close(false);  // continued when the server resumes the file
      continue;
    }
    if (Complete(error) == Block::kCompleted) {
      Warn("put " + FullPath(name) + " in place: a stopped run left it whole as " + kPartPrefix +
           name);
    } else {
      Warn(error);
    }
  }
}

}  // namespace owgateway
