// SPDX-License-Identifier: MIT
// Every form of operator new and delete is replaced, so that all of them pair malloc with
// free (the sanitizers check that allocation and release match).
#include "support/failing_new.h"

#include <cstdlib>
#include <new>

namespace {

thread_local size_t tFailBytes = 0;
thread_local bool tFailPending = false;

void* Allocate(size_t n) {
  if (tFailPending && n == tFailBytes) {
    tFailPending = false;
    throw std::bad_alloc();
  }
  void* p = std::malloc(n != 0 ? n : 1);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

void* AllocateOrNull(size_t n) noexcept {
  try {
    return Allocate(n);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

namespace owc_test {

void FailNextPlainAllocation(size_t bytes) {
  tFailBytes = bytes;
  tFailPending = true;
}

bool PlainFailurePending() { return tFailPending; }

}  // namespace owc_test

void* operator new(size_t n) { return Allocate(n); }
void* operator new[](size_t n) { return Allocate(n); }
void* operator new(size_t n, const std::nothrow_t&) noexcept { return AllocateOrNull(n); }
void* operator new[](size_t n, const std::nothrow_t&) noexcept { return AllocateOrNull(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
