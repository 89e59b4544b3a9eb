// SPDX-License-Identifier: MIT
// The folder owgateway writes into. Every file name from the server is checked before it
// touches the disk; files are assembled under a hidden partial name and renamed into
// place when complete, so a reader of the folder never sees half a file. Beside the
// partial file a hidden ".blocks-" record says how many blocks it holds, so that a block
// the server sends again is not appended twice, also after a restart, and whether the
// file is complete (a rename that failed is then finished at the next start).
//
// Every name is opened relative to the folder, without following a symbolic link, so a
// link planted under one of our names never leads a write outside the folder. At most one
// partial file is open at a time.
//
// Thread: AddBlock from one thread at a time (the gateway's delivery thread); WriteFile,
// ReadHead and BytesWritten from any thread.
#ifndef OWGATEWAY_OUTPUT_FOLDER_H
#define OWGATEWAY_OUTPUT_FOLDER_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace owgateway {

// Why a name from the server is refused, or nullptr when it is safe to use in the folder.
const char* UnsafeNameReason(const std::string& name);


class OutputFolder {
 public:
  // sync: fsync each completed file and the folder before the file counts as written.
  OutputFolder(std::string path, bool sync) : mPath(std::move(path)), mSync(sync) {}
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  // Creates the folder (and its parents) when missing, opens it, and finishes what a
  // stopped run left: complete partial files are put in place, stray records and
  // temporary files removed. Notes go to `warn`.
  bool Prepare(std::string& error);
  void SetWarn(std::function<void(const std::string&)> warn) { mWarn = std::move(warn); }
  const std::string& Path() const { return mPath; }
  std::string FullPath(const std::string& name) const { return mPath + "/" + name; }

  enum class Block {
    kWritten,    // appended to the partial file
    kCompleted,  // the last block: the file is in place (and on disk with sync)
    kRepeat,     // a block the file holds already, not written again
    kRefused,    // a block of a file completed in this session: not written (error says)
    kLost,       // blocks before it never came: the file is dropped (error says which)
    kFailed,     // the disk refused (error says why); the partial file stays for a restart
  };
  // Adds a block of `session` to the file being assembled. Blocks are taken in order from
  // block 0, which also starts a file afresh; a file resumed after a restart continues its
  // partial file where its record says. A block of another file abandons the open partial
  // file (it is removed, with a note). Blocks of a lost file are ignored until its next
  // start.
  Block AddBlock(const std::string& name, uint32_t session, uint32_t blockNum,
                 const uint8_t* data, uint32_t length, bool last, std::string& error);
  // Writes a whole file atomically; durable: also fsync'ed (unless sync is off).
  bool WriteFile(const std::string& name, const void* data, size_t length, bool durable,
                 std::string& error);
  // The same for the folder's own files (index, session): not counted in BytesWritten, which
  // tells the user how much the server delivered.
  bool WriteOwnFile(const std::string& name, const void* data, size_t length, bool durable,
                    std::string& error);
  // At most `limit` bytes from the start of a file in the folder, "" when it cannot be read.
  std::string ReadHead(const std::string& name, size_t limit) const;
  // A descriptor of a regular file in the folder, read-only (a link is not followed); -1
  // with errno set when there is none.
  int OpenForReading(const std::string& name) const;
  // Removes a file of the folder; false when it could not be removed (gone already: true).
  bool Remove(const std::string& name);
  // The names of the regular, visible files in the folder with their modification times.
  struct Entry {
    std::string name;
    int64_t mtime;
  };
  std::vector<Entry> List() const;

  uint64_t BytesWritten() const { return mBytes; }
  // Whether a regular file of that name is in the folder (a link does not count).
  bool HasFile(const std::string& name) const { return Exists(name); }

 private:
  struct Partial {
    std::string name;
    int fd = -1;
    int recordFd = -1;  // the ".blocks-" record: next block, length, state
    uint64_t length = 0;  // bytes of the blocks 0 .. next - 1
    uint32_t next = 0;    // the block expected next
  };
  // Opens a file of ours in the folder without following a link; a link or anything but a
  // regular file found under the name is removed first (with a note).
  int OpenOwn(const std::string& name, int flags, std::string& error);
  // Opens a partial file: afresh, or as a stopped run left it, cut back to what its record
  // says it holds (nothing when there is no record).
  bool OpenPartial(const std::string& name, bool fresh, std::string& error);
  bool WriteBlock(const uint8_t* data, uint32_t length, std::string& error);
  bool WriteRecord(bool complete);
  Block Complete(std::string& error);
  // Completes the open file, which now holds its last block, and remembers it as done.
  Block Finish(const std::string& name, uint32_t session, std::string& error);
  // Closes the open partial file; removes it and its record when `remove`.
  void Close(bool remove);
  bool SyncFolder();
  void Recover();
  void Warn(const std::string& text) const {
    if (mWarn) mWarn(text);
  }
  bool Exists(const std::string& name) const;

  std::string mPath;
  bool mSync;
  int mDirFd = -1;
  std::function<void(const std::string&)> mWarn;
  Partial mOpen;                // the partial file being assembled (fd -1: none)
  std::string mLost;            // the file dropped for a gap, until it starts again
  std::string mLastCompleted;   // the file completed last, and in which session
  uint32_t mLastCompletedSession = 0;
  bool mStrayReported = false;  // a stray block after mLastCompleted was logged
  std::atomic<uint64_t> mBytes{0};
  std::atomic<uint64_t> mTempCounter{0};
};

}  // namespace owgateway

#endif  // OWGATEWAY_OUTPUT_FOLDER_H
