// SPDX-License-Identifier: MIT
// Joins the blocks of one story's two files, "<base>.xml" and "<base>.rdf", in memory
// and tells when both are complete. Files with other endings pass by unpaired.
//
// Blocks are appended in arrival order; block numbers are not looked at. The two files
// may come in either order but not interleaved with another story's: a block of another
// story is refused, and the owner then resets the pair. A refused block leaves the pair
// as it was. A file that grows past the file limit discards the pair, and its further
// blocks are ignored up to its last: a server cannot make the pair grow without bound.
// Used by the delivery thread alone; no lock.
#ifndef OWCLIENT_GATEWAY_PAIR_FILES_H
#define OWCLIENT_GATEWAY_PAIR_FILES_H

#include <cstdint>

#include "owclient/owclient.h"

namespace owc {

class WCHOBWPairFiles {
 public:
  WCHOBWPairFiles() = default;
  ~WCHOBWPairFiles();
  WCHOBWPairFiles(const WCHOBWPairFiles&) = delete;
  WCHOBWPairFiles& operator=(const WCHOBWPairFiles&) = delete;

  static constexpr uint32_t kDefaultFileLimit = 64u << 20;

  // The most bytes of one file of the pair; 0 restores the default.
  void SetFileLimit(uint32_t maxBytes) {
    mFileLimit = maxBytes != 0 ? maxBytes : kDefaultFileLimit;
  }

  // Reads only the block's mFName, mData, mDataLen and mLastBlock. True when the block
  // was added or ignored (no data, not an .xml/.rdf file, a further block of a file
  // already complete, or a block of a file over the limit, whose pair is discarded after
  // a log line); false, after a log line, when it was refused.
  bool AddBlock(const HOBWBlockQElt& block);
  bool IsComplete() const { return mXMLComplete == 1 && mRDFComplete == 1; }
  // Empties the pair; also done on destruction.
  void Reset();

  // The base name (null while empty) and the raw, unterminated file bytes so far.
  const char* GetBaseFName() const { return mBaseFName; }
  const uint8_t* GetXMLBuf() const { return mXMLBuf; }
  uint32_t GetXMLLen() const { return mXMLLen; }
  const uint8_t* GetRDFBuf() const { return mRDFBuf; }
  uint32_t GetRDFLen() const { return mRDFLen; }

 private:
  // Grows buf (doubling) to hold size more bytes and appends them; a failed growth
  // leaves the old bytes in place.
  bool Append(uint8_t*& buf, uint32_t& len, uint32_t& capacity, const uint8_t* data,
              uint32_t size);
  bool AddToFile(const char* ending, const HOBWBlockQElt& block);
  // Whether the file's bytes plus size stay within the limit; if not, discards the pair
  // and ignores the file's further blocks.
  bool FitsOrDiscard(uint32_t len, const HOBWBlockQElt& block);
  // True when the block belongs to the file refused last (and ends the refusal at its
  // last block).
  bool SkipsRefusedFile(const HOBWBlockQElt& block);
  void ClearRefused();

  char* mBaseFName = nullptr;
  uint8_t mXMLComplete = 0;
  uint8_t* mXMLBuf = nullptr;
  uint32_t mXMLLen = 0;
  uint32_t mXMLCapacity = 0;
  uint8_t mRDFComplete = 0;
  uint8_t* mRDFBuf = nullptr;
  uint32_t mRDFLen = 0;
  uint32_t mRDFCapacity = 0;
  uint32_t mFileLimit = kDefaultFileLimit;
  char* mRefusedFName = nullptr;  // the file over the limit whose blocks still come
};

}  // namespace owc

#endif  // OWCLIENT_GATEWAY_PAIR_FILES_H
