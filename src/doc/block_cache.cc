// SPDX-License-Identifier: MIT
#include "doc/block_cache.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace owc {

namespace {

// Each block carries its size class in front of it; 16 bytes keep expat's blocks aligned as
// malloc's are.
constexpr size_t kHeader = 16;
constexpr size_t kSmallest = 32;
constexpr unsigned kClasses = 8;  // 32 bytes to 4 KB; a large document's buffers are never kept
constexpr unsigned kUnpooled = kClasses;
#if defined(__SANITIZE_ADDRESS__)
// Reused or rounded-up blocks would hide a use after free or an overrun from the sanitizer:
// every block is allocated at its size and goes straight back.
constexpr bool kKeepBlocks = false;
#else
constexpr bool kKeepBlocks = true;
#endif
// Bounds what an idle thread holds: a 2 KB story leaves about 17 KB in the lists, a 20 KB
// one 23 KB.
constexpr size_t kMaxCachedBytes = 128 * 1024;

struct FreeBlock {
  FreeBlock* next;
};

enum class CacheState : unsigned char {
  kNew,     // the thread has kept nothing yet: its end drains nothing
  kOpen,    // the thread's end will drain the lists
  kClosed,  // the thread is ending: nothing is kept any more
};

// Trivially destructible, so that a block freed while the thread ends (after Drain ran)
// still finds it; from then on every block goes straight back to the allocator.
struct ThreadCache {
  FreeBlock* lists[kClasses];
  size_t cachedBytes;
  CacheState state;
};

// Initial-exec: every allocation of a parse reaches the cache, and the general model would
// make each reach a call to find it. The few bytes come from the static TLS that the
// loader keeps spare, which also serves a program that loads the library late (dlopen).
thread_local ThreadCache tCache __attribute__((tls_model("initial-exec")));

size_t Capacity(unsigned cls) { return kSmallest << cls; }

unsigned ClassOf(size_t n) {
  if (n <= kSmallest) return 0;
  const unsigned bits = 64 - static_cast<unsigned>(__builtin_clzll(n - 1));  // 2^bits >= n
  return bits - 5 < kClasses ? bits - 5 : kUnpooled;
}

unsigned& ClassAt(void* block) { return *static_cast<unsigned*>(block); }

void Drain(ThreadCache* cache) {
  for (FreeBlock*& list : cache->lists) {
    while (list != nullptr) {
      FreeBlock* next = list->next;
      std::free(list);
      list = next;
    }
  }
  cache->cachedBytes = 0;
}

struct Drainer {
  ~Drainer() {
    tCache.state = CacheState::kClosed;
    Drain(&tCache);
  }
};

void Push(ThreadCache* cache, void* block, unsigned cls) {
  FreeBlock* freed = static_cast<FreeBlock*>(block);
  freed->next = cache->lists[cls];
  cache->lists[cls] = freed;
  cache->cachedBytes += Capacity(cls);
}

// Kept out of line, so that the common paths below stay short.
__attribute__((noinline)) void* AllocateFresh(ThreadCache* cache, unsigned cls, size_t n) {
  const bool pooled = kKeepBlocks && cls != kUnpooled && cache->state != CacheState::kClosed;
  void* block = std::malloc(kHeader + (pooled ? Capacity(cls) : n));
  if (block == nullptr) return nullptr;
  ClassAt(block) = pooled ? cls : kUnpooled;
  return static_cast<char*>(block) + kHeader;
}

__attribute__((noinline)) void KeepOrFree(ThreadCache* cache, void* block, unsigned cls) {
  if (cache->state == CacheState::kClosed || cache->cachedBytes + Capacity(cls) > kMaxCachedBytes) {
    std::free(block);
    return;
  }
  if (cache->state == CacheState::kNew) {
    thread_local Drainer drainer;
    (void)drainer;
    cache->state = CacheState::kOpen;
  }
  Push(cache, block, cls);
}

}  // namespace

void* CacheAllocate(size_t n) {
  const unsigned cls = ClassOf(n);
  ThreadCache* cache = &tCache;
  FreeBlock* block = cls != kUnpooled ? cache->lists[cls] : nullptr;
  if (block == nullptr) return AllocateFresh(cache, cls, n);
  cache->lists[cls] = block->next;
  cache->cachedBytes -= Capacity(cls);
  ClassAt(block) = cls;  // the list's link overwrote it
  return reinterpret_cast<char*>(block) + kHeader;
}

void CacheRelease(void* p) {
  if (p == nullptr) return;
  void* block = static_cast<char*>(p) - kHeader;
  const unsigned cls = ClassAt(block);
  if (cls == kUnpooled) {
    std::free(block);
    return;
  }
  ThreadCache* cache = &tCache;
  if (cache->state != CacheState::kOpen || cache->cachedBytes + Capacity(cls) > kMaxCachedBytes) {
    KeepOrFree(cache, block, cls);
    return;
  }
  Push(cache, block, cls);
}

void* CacheReallocate(void* p, size_t n) {
  if (p == nullptr) return CacheAllocate(n);
  void* block = static_cast<char*>(p) - kHeader;
  const unsigned cls = ClassAt(block);
  if (cls == kUnpooled) {
    void* grown = std::realloc(block, kHeader + n);
    return grown != nullptr ? static_cast<char*>(grown) + kHeader : nullptr;
  }
  if (n <= Capacity(cls)) return p;
  void* moved = CacheAllocate(n);
  if (moved == nullptr) return nullptr;
  std::memcpy(moved, p, Capacity(cls));
  CacheRelease(p);
  return moved;
}

}  // namespace owc
