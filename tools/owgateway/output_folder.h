// The folder owgateway writes into. Every file name from the server is checked before it
// touches the disk; files are assembled under a hidden partial name and renamed into
// place when complete, so a reader of the folder never sees half a file. Beside each
// partial file a hidden ".blocks-" record says how many blocks it holds, so that a block
// the server sends again is not appended twice, also after a restart.
//
// Thread: AddBlock from one thread at a time (the gateway's delivery thread); WriteFile
// and BytesWritten from any thread.
#ifndef OWGATEWAY_OUTPUT_FOLDER_H_
#define OWGATEWAY_OUTPUT_FOLDER_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace owgateway {

// Why a name from the server is refused, or nullptr when it is safe to use in the folder.
const char* UnsafeNameReason(const std::string& name);

// Text fit for a terminal: control characters shown as \xNN, so that what the server sent
// cannot drive the operator's terminal.
std::string EscapeControls(const std::string& text);

class OutputFolder {
 public:
  explicit OutputFolder(std::string path) : mPath(std::move(path)) {}
  ~OutputFolder();

  // Creates the folder (and its parents) when missing.
  bool Prepare(std::string& error);
  const std::string& Path() const { return mPath; }
  std::string FullPath(const std::string& name) const { return mPath + "/" + name; }

  enum class Block {
    kWritten,    // appended to the partial file
    kCompleted,  // the last block: the file is in place
    kRepeat,     // a block the file holds already, not written again
    kLost,       // blocks before it never came: the file is dropped (error says which)
    kFailed,     // the disk refused (error says why); the partial file is dropped
  };
  // Adds a block to the file being assembled. Blocks are taken in order from block 0,
  // which also starts a file afresh; a file resumed after a restart continues its partial
  // file where its record says. Blocks of a lost file are ignored until its next start.
  Block AddBlock(const std::string& name, uint32_t blockNum, const uint8_t* data, uint32_t length,
                 bool last, std::string& error);
  // Writes a whole file atomically.
  bool WriteFile(const std::string& name, const void* data, size_t length, std::string& error);

  uint64_t BytesWritten() const { return mBytes; }

 private:
  struct Partial {
    int fd;
    int recordFd;     // the ".blocks-" record: next block and length, rewritten per block
    uint64_t length;  // bytes of the blocks 0 .. next - 1
    uint32_t next;    // the block expected next
  };
  std::string PartialPath(const std::string& name) const;
  std::string RecordPath(const std::string& name) const;
  // Opens a partial file: afresh, or as a stopped run left it, cut back to what its record
  // says it holds (nothing when there is no record).
  bool OpenPartial(const std::string& name, bool fresh, Partial& partial, std::string& error);
  bool WriteBlock(const std::string& name, Partial& partial, const uint8_t* data, uint32_t length,
                  std::string& error);
  Block Complete(const std::string& name, std::string& error);
  void Drop(const std::string& name);

  std::string mPath;
  std::map<std::string, Partial> mPartials;
  std::set<std::string> mLost;  // files dropped for a gap, until they start again
  std::string mLastCompleted;   // the file completed last, and its block count
  uint32_t mLastCompletedBlocks = 0;
  std::atomic<uint64_t> mBytes{0};
  std::atomic<uint64_t> mTempCounter{0};
};

}  // namespace owgateway

#endif  // OWGATEWAY_OUTPUT_FOLDER_H_
