// SPDX-License-Identifier: MIT
#include "file_publishing.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "headline.h"

namespace owgateway {

namespace {

bool EndsWith(const std::string& s, const char* suffix) {
  size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

int64_t NowUnixMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// A file of the folder mapped read-only for as long as it is published.
class MappedFile {
 public:
  MappedFile(const OutputFolder& folder, const std::string& name) {
    int fd = folder.OpenForReading(name);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
      mError = std::strerror(errno);
    } else if (st.st_size > 0) {
      mLength = static_cast<size_t>(st.st_size);
      void* p = mmap(nullptr, mLength, PROT_READ, MAP_SHARED, fd, 0);
      if (p == MAP_FAILED) {
        mError = std::strerror(errno);
        mLength = 0;
      } else {
        mData = static_cast<const uint8_t*>(p);
        madvise(p, mLength, MADV_SEQUENTIAL);
      }
    }
    if (fd >= 0) close(fd);
  }
  ~MappedFile() {
    if (mData != nullptr) munmap(const_cast<uint8_t*>(mData), mLength);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;

  bool Ok() const { return mError.empty(); }
  const std::string& Error() const { return mError; }
  const uint8_t* Data() const { return mData; }
  size_t Length() const { return mLength; }

 private:
  const uint8_t* mData = nullptr;
  size_t mLength = 0;
  std::string mError;
};

}  // namespace

FilePublishing::FilePublishing(Publisher& publisher, OutputFolder& folder, bool publishOnly,
                               std::function<void(const std::string&)> problem)
    : mPublisher(publisher),
      mFolder(folder),
      mPublishOnly(publishOnly),
      mProblem(std::move(problem)) {}

// The server sends a new file, or block 0 of the same one again, only after it has taken
// the acknowledgement of the last file's last block: those files are done with. Any other
// block of a file still here may be that last block again, which must find its file.
void FilePublishing::BlockArrives(const std::string& name, uint32_t blockNum) {
  if (mToRemove.empty()) return;
  if (blockNum != 0 && std::find(mToRemove.begin(), mToRemove.end(), name) != mToRemove.end()) {
    return;
  }
  RemovePublished();
}

void FilePublishing::RemovePublished() {
  for (const std::string& name : mToRemove) {
    if (!mFolder.Remove(name)) {
      mProblem("cannot remove " + mFolder.FullPath(name) + " after publishing it: " +
               std::strerror(errno));
    }
  }
  mToRemove.clear();
}

void FilePublishing::RawFile(const std::string& name, bool awaitsPage) {
  MappedFile mapped(mFolder, name);
  if (!mapped.Ok()) {
    mProblem("cannot publish " + mFolder.FullPath(name) + ": " + mapped.Error());
    return;
  }
  CompletedFile file;
  file.kind = CompletedFile::Kind::kRaw;
  file.fileName = name;
  file.data = mapped.Data();
  file.length = mapped.Length();
  if (EndsWith(name, ".xml")) {
    const size_t head = std::min(file.length, kHeadlineReadLimit);
    file.headline = HeadlineFromXml(std::string(reinterpret_cast<const char*>(file.data), head));
  }
  if (Publish(file) && !awaitsPage) Staged(name);
}

void FilePublishing::Page(const std::string& name, const uint8_t* data, size_t length,
                          bool storyFiles) {
  CompletedFile file;
  file.kind = CompletedFile::Kind::kHtml;
  file.fileName = name;
  file.data = data;
  file.length = length;
  file.headline = HeadlineFromHtml(reinterpret_cast<const char*>(data), length);
  if (!Publish(file)) return;
  Staged(name);
  if (!storyFiles) return;
  const std::string base = name.substr(0, name.size() - 4);
  Staged(base + ".xml");
  Staged(base + ".rdf");
}

bool FilePublishing::Publish(CompletedFile& file) {
  file.storyName = StoryNameOf(file.fileName);
  file.receivedUnixMs = NowUnixMs();
  std::string error;
  if (mPublisher.Publish(file, error)) {
    ++mPublished;
    return true;
  }
  if (error != "stopped") {
    mProblem("");  // the publisher said why
    return false;
  }
  // Returning would let the gateway acknowledge a file the log may not have: the delivery
  // thread waits here until the main thread ends the process.
  mStuck = true;
  for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
}

void FilePublishing::Staged(const std::string& name) {
  if (!mPublishOnly) return;
  if (std::find(mToRemove.begin(), mToRemove.end(), name) == mToRemove.end()) {
    mToRemove.push_back(name);
  }
}

}  // namespace owgateway
