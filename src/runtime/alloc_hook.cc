// SPDX-License-Identifier: MIT
#include "runtime/alloc_hook.h"

#include <atomic>

namespace owc {

namespace {

std::atomic<AllocHook> sAllocHook{nullptr};

}  // namespace

void SetAllocHook(AllocHook hook) { sAllocHook.store(hook, std::memory_order_release); }

bool AllocationAllowed(size_t n) {
  AllocHook hook = sAllocHook.load(std::memory_order_acquire);
  return hook == nullptr || hook(n);
}

}  // namespace owc
