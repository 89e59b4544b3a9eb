// SPDX-License-Identifier: MIT
#include "gateway/pair_files.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

constexpr size_t kEndingLength = 4;  // ".xml" or ".rdf"
constexpr size_t kMinNameLength = 5;
constexpr char kXMLEnding[] = ".xml";
constexpr char kRDFEnding[] = ".rdf";

// The name cut at its last dot, searched from the last character back to the second;
// nullptr when memory ran out.
char* NewBaseName(const char* name, size_t length) {
  char* base = NewArrayOrNull<char>(length + 1);
  if (base == nullptr) return nullptr;
  std::memcpy(base, name, length + 1);
  for (size_t i = length - 1; i >= 1; --i) {
    if (base[i] == '.') {
      base[i] = '\0';
      break;
    }
  }
  return base;
}

}  // namespace

WCHOBWPairFiles::~WCHOBWPairFiles() { Reset(); }

void WCHOBWPairFiles::Reset() {
  ClearRefused();
  delete[] mBaseFName;
  std::free(mXMLBuf);
  std::free(mRDFBuf);
  mBaseFName = nullptr;
  mXMLBuf = mRDFBuf = nullptr;
  mXMLComplete = mRDFComplete = 0;
  mXMLLen = mRDFLen = 0;
  mXMLCapacity = mRDFCapacity = 0;
}

bool WCHOBWPairFiles::Append(uint8_t*& buf, uint32_t& len, uint32_t& capacity, const uint8_t* data,
                             uint32_t size) {
  uint64_t needed = static_cast<uint64_t>(len) + size;
  if (needed > UINT32_MAX) return false;
  if (needed > capacity) {
    // Doubling, but never past the file limit: a file just under it would otherwise
    // reserve (and realloc copy) twice the memory the limit promises.
    uint64_t grown = std::min<uint64_t>(capacity * 2ull, mFileLimit);
    if (grown < needed) grown = needed;
    void* bigger = ReallocOrNull(buf, static_cast<size_t>(grown));
    if (bigger == nullptr) return false;
    buf = static_cast<uint8_t*>(bigger);
    capacity = static_cast<uint32_t>(grown);
  }
  std::memcpy(buf + len, data, size);
  len = static_cast<uint32_t>(needed);
  return true;
}

void WCHOBWPairFiles::ClearRefused() {
  delete[] mRefusedFName;
  mRefusedFName = nullptr;
}

bool WCHOBWPairFiles::SkipsRefusedFile(const HOBWBlockQElt& block) {
  if (mRefusedFName == nullptr) return false;
  if (block.mFName == nullptr || std::strcmp(block.mFName, mRefusedFName) != 0) {
    ClearRefused();  // the refused file ended without its last block
    return false;
  }
  if (block.mLastBlock == 1) ClearRefused();
  return true;
}

bool WCHOBWPairFiles::FitsOrDiscard(uint32_t len, const HOBWBlockQElt& block) {
  if (static_cast<uint64_t>(len) + block.mDataLen <= mFileLimit) return true;
  TraceLogF(kLevelFailure,
            "WCHOBWPairFiles::AddBlock story file %s is over the limit of %u bytes, story "
            "discarded",
            block.mFName, mFileLimit);
  Reset();
  if (block.mLastBlock != 1) {
    size_t size = std::strlen(block.mFName) + 1;
    mRefusedFName = new char[size];
    std::memcpy(mRefusedFName, block.mFName, size);
  }
  return false;
}

bool WCHOBWPairFiles::AddBlock(const HOBWBlockQElt& block) {
  if (block.mDataLen == 0 || block.mData == nullptr) return true;
  if (SkipsRefusedFile(block)) return true;
  size_t length = block.mFName != nullptr ? std::strlen(block.mFName) : 0;
  if (length < kMinNameLength) {
    TraceLog(kLevelFailure, "WCHOBWPairFiles::AddBlock failed because of filename error");
    return false;
  }
  const char* ending = block.mFName + length - kEndingLength;
  if (std::strcmp(ending, kXMLEnding) != 0 && std::strcmp(ending, kRDFEnding) != 0) return true;
  if (IsComplete()) {
    TraceLog(kLevelFailure,
             "WCHOBWPairFiles::AddBlock failed because pair is complete or filename error");
    return false;
  }
  if (mBaseFName != nullptr) {
    size_t baseLength = std::strlen(mBaseFName);
    if (length != baseLength + kEndingLength ||
        std::strncmp(block.mFName, mBaseFName, baseLength) != 0) {
      TraceLog(kLevelFailure, "WCHOBWPairFiles::AddBlock failed because filenames do not match");
      return false;
    }
    return AddToFile(block.mFName + baseLength, block);
  }
  mBaseFName = NewBaseName(block.mFName, length);
  if (mBaseFName == nullptr) {
    TraceLog(kLevelFailure,
             "WCHOBWPairFiles::AddBlock failed because of memory error for mBaseFName");
    return false;
  }
  if (AddToFile(block.mFName + std::strlen(mBaseFName), block)) return true;
  // The block that would have started the pair was refused: the pair stays empty.
  delete[] mBaseFName;
  mBaseFName = nullptr;
  return false;
}

// ending: the block's name after the base name.
bool WCHOBWPairFiles::AddToFile(const char* ending, const HOBWBlockQElt& block) {
  if (std::strcmp(ending, kXMLEnding) == 0 && mXMLComplete == 0) {
    if (!FitsOrDiscard(mXMLLen, block)) return true;
    if (!Append(mXMLBuf, mXMLLen, mXMLCapacity, block.mData, block.mDataLen)) {
      TraceLog(kLevelFailure,
               "WCHOBWPairFiles::AddBlock failed because of memory error for mXMLBuf");
      return false;
    }
    if (block.mLastBlock == 1) mXMLComplete = 1;
    return true;
  }
  if (std::strcmp(ending, kRDFEnding) == 0 && mRDFComplete == 0) {
    if (!FitsOrDiscard(mRDFLen, block)) return true;
    if (!Append(mRDFBuf, mRDFLen, mRDFCapacity, block.mData, block.mDataLen)) {
      TraceLog(kLevelFailure,
               "WCHOBWPairFiles::AddBlock failed because of memory error for mRDFBuf");
      return false;
    }
    if (block.mLastBlock == 1) mRDFComplete = 1;
    return true;
  }
  return true;  // a further block of a file already complete
}

}  // namespace owc
