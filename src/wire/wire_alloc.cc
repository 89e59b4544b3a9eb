#include "wire/wire_alloc.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace owc {
namespace {

// Atomic only so that a test setting it cannot race with a reader; relaxed is enough.
std::atomic<WireReallocHook> sReallocHook{nullptr};

}  // namespace

void* WireRealloc(void* ptr, size_t size) {
  WireReallocHook hook = sReallocHook.load(std::memory_order_relaxed);
  return hook != nullptr ? hook(ptr, size) : std::realloc(ptr, size);
}

void WireFree(void* ptr) { std::free(ptr); }

char* WireStrDup(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(WireRealloc(nullptr, size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

void SetWireReallocHook(WireReallocHook hook) {
  sReallocHook.store(hook, std::memory_order_relaxed);
}

}  // namespace owc
