// SPDX-License-Identifier: MIT
// Blocks of up to 4 KB kept per thread once freed. A story allocates the same few dozen
// small blocks every time (expat's tables after a reset, the captured elements, their text
// and the table that finds them) and frees them all at its end; taking them back from a
// list costs a fraction of what the allocator's own bookkeeping does.
//
// Thread: any. Each thread keeps its own lists; a block may be freed on another thread
// than the one that allocated it. A thread's lists hold at most 128 KB and are emptied
// when it ends.
#ifndef OWCLIENT_DOC_BLOCK_CACHE_H
#define OWCLIENT_DOC_BLOCK_CACHE_H

#include <cstddef>
#include <new>

namespace owc {

// malloc, realloc and free for blocks that only these functions handle. CacheAllocate and
// CacheReallocate return null when memory ran out (CacheReallocate leaves p untouched
// then); CacheRelease accepts null.
void* CacheAllocate(size_t n);
void* CacheReallocate(void* p, size_t n);
void CacheRelease(void* p);

// A standard allocator drawing on the cache, for the containers a document fills per story.
// The member names are the ones the standard library looks for.
template <class T>
struct CacheAllocator {
  using value_type = T;  // NOLINT(readability-identifier-naming)
  CacheAllocator() = default;
  template <class U>
  CacheAllocator(const CacheAllocator<U>&) noexcept {}
  T* allocate(size_t n) {  // NOLINT(readability-identifier-naming)
    if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    void* p = CacheAllocate(n * sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t) noexcept {  // NOLINT(readability-identifier-naming)
    CacheRelease(p);
  }
  template <class U>
  bool operator==(const CacheAllocator<U>&) const noexcept {
    return true;
  }
  template <class U>
  bool operator!=(const CacheAllocator<U>&) const noexcept {
    return false;
  }
};

}  // namespace owc

#endif  // OWCLIENT_DOC_BLOCK_CACHE_H
