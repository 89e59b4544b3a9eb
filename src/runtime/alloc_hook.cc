// SPDX-License-Identifier: MIT
#include "runtime/alloc_hook.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace owc {

namespace {

std::atomic<AllocHook> sAllocHook{nullptr};

}  // namespace

void SetAllocHook(AllocHook hook) { sAllocHook.store(hook, std::memory_order_release); }

bool AllocationAllowed(size_t n) {
  AllocHook hook = sAllocHook.load(std::memory_order_acquire);
  return hook == nullptr || hook(n);
}

void* ReallocOrNull(void* ptr, size_t size) {
  return AllocationAllowed(size) ? std::realloc(ptr, size) : nullptr;
}

char* StrDupOrNull(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(ReallocOrNull(nullptr, size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace owc
