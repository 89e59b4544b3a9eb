// SPDX-License-Identifier: MIT
#include "doc/byte_buffer.h"

#include <cstdint>

#include "runtime/alloc_hook.h"

namespace owc {

bool ByteBuffer::Grow(size_t more) {
  if (more >= SIZE_MAX - mSize) return false;
  size_t needed = mSize + more + 1;  // and the NUL after the content
  size_t capacity = mCapacity < 256 ? 256 : mCapacity;
  while (capacity < needed) capacity = capacity > SIZE_MAX / 2 ? needed : capacity * 2;
  // Checked like every buffer a callback fills; its blocks come back with each story.
  char* data =
      AllocationAllowed(capacity) ? static_cast<char*>(CacheReallocate(mData, capacity)) : nullptr;
  if (data == nullptr) return false;
  mData = data;
  mCapacity = capacity;
  return true;
}

}  // namespace owc
