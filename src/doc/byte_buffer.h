// SPDX-License-Identifier: MIT
// A growable byte buffer with amortised appends that reports exhausted memory by
// result instead of by exception (it is filled from inside expat's callbacks). Once
// anything was appended, a NUL byte follows the content, so that it can be handed out
// as C text without a copy.
#ifndef OWCLIENT_DOC_BYTE_BUFFER_H
#define OWCLIENT_DOC_BYTE_BUFFER_H

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "doc/block_cache.h"

namespace owc {

// memcpy for the short pieces that parsing produces (a tag name, a run of text): sizes
// up to 16 are copied with fixed-size moves that the compiler inlines, never reading or
// writing outside [src, src + len) and [dst, dst + len).
inline void CopyBytes(char* dst, const char* src, size_t len) {
  if (len >= 8) {
    if (len > 16) {
      std::memcpy(dst, src, len);
      return;
    }
    std::memcpy(dst, src, 8);
    std::memcpy(dst + len - 8, src + len - 8, 8);
  } else if (len >= 4) {
    std::memcpy(dst, src, 4);
    std::memcpy(dst + len - 4, src + len - 4, 4);
  } else {
    for (size_t i = 0; i < len; ++i) dst[i] = src[i];
  }
}

class ByteBuffer {
 public:
  ByteBuffer() = default;
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ~ByteBuffer() { CacheRelease(mData); }

  size_t Size() const { return mSize; }
  std::string_view View() const { return std::string_view(mData, mSize); }

  bool Append(const char* data, size_t len) {
    if (len >= mCapacity - mSize && !Grow(len)) return false;
    CopyBytes(mData + mSize, data, len);
    mSize += len;
    mData[mSize] = '\0';
    return true;
  }
  bool Append(const char* text) { return Append(text, std::strlen(text)); }
  bool AppendByte(char byte) { return Append(&byte, 1); }

  // Room for len more bytes: the write position, or null when memory ran out. The
  // bytes written there count once Commit is called.
  char* Reserve(size_t len) {
    if (len >= mCapacity - mSize && !Grow(len)) return nullptr;
    return mData + mSize;
  }
  void Commit(size_t len) {
    mSize += len;
    mData[mSize] = '\0';
  }

 private:
  bool Grow(size_t more);

  char* mData = nullptr;
  size_t mSize = 0;
  size_t mCapacity = 0;
};

}  // namespace owc

#endif  // OWCLIENT_DOC_BYTE_BUFFER_H
