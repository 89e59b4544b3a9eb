// The folder owgateway writes into. Every file name from the server is checked before it
// touches the disk; files are assembled under a hidden partial name and renamed into
// place when complete, so a reader of the folder never sees half a file.
//
// Thread: AddBlock from one thread at a time (the gateway's delivery thread); WriteFile
// and BytesWritten from any thread.
#ifndef OWGATEWAY_OUTPUT_FOLDER_H_
#define OWGATEWAY_OUTPUT_FOLDER_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

namespace owgateway {

// Why a name from the server is refused, or nullptr when it is safe to use in the folder.
const char* UnsafeNameReason(const std::string& name);

class OutputFolder {
 public:
  explicit OutputFolder(std::string path) : mPath(std::move(path)) {}
  ~OutputFolder();

  // Creates the folder (and its parents) when missing.
  bool Prepare(std::string& error);
  const std::string& Path() const { return mPath; }
  std::string FullPath(const std::string& name) const { return mPath + "/" + name; }

  // Appends a block to the file being assembled; block 0 starts it afresh. A file resumed
  // after a restart continues its partial file. On the last block the file is renamed
  // into place. False (error set) when the disk refused; the partial file is dropped.
  bool AddBlock(const std::string& name, uint32_t blockNum, const uint8_t* data, uint32_t length,
                bool last, std::string& error);
  // Writes a whole file atomically.
  bool WriteFile(const std::string& name, const void* data, size_t length, std::string& error);

  uint64_t BytesWritten() const { return mBytes; }

 private:
  struct Partial {
    int fd;
    uint64_t length;
  };
  std::string PartialPath(const std::string& name) const;
  bool OpenPartial(const std::string& name, bool fresh, Partial& partial, std::string& error);
  void Drop(const std::string& name);

  std::string mPath;
  std::map<std::string, Partial> mPartials;
  std::atomic<uint64_t> mBytes{0};
  std::atomic<uint64_t> mTempCounter{0};
};

}  // namespace owgateway

#endif  // OWGATEWAY_OUTPUT_FOLDER_H_
