// SPDX-License-Identifier: MIT
// Exhausted memory is handled one way. Where a failed allocation has an outcome of its own
// (a log line naming the `new` that failed, a false result), that allocation is made
// through one of the checked allocators below, which report failure by result. Every other
// allocation is plain, and std::bad_alloc is caught only where a call enters the library
// (the C interface) or a thread runs its loop.
//
// The checked allocators ask the allocation hook first: it is the one place where a test
// makes them fail.
#ifndef OWCLIENT_RUNTIME_ALLOC_HOOK_H
#define OWCLIENT_RUNTIME_ALLOC_HOOK_H

#include <cstddef>
#include <new>
#include <utility>

namespace owc {

// Returns false to make the allocation of n bytes fail. Called on the allocating thread.
using AllocHook = bool (*)(size_t n);

// nullptr removes the hook. Thread-safe.
void SetAllocHook(AllocHook hook);

// False when the hook refuses an allocation of n bytes; true without a hook.
bool AllocationAllowed(size_t n);

// Runs allocate, which allocates about n bytes with plain new or a container, unless the
// hook refuses them. False when refused or when allocate ran out of memory; what allocate
// changed before it failed stays changed.
template <class Allocate>
bool TryAllocate(size_t n, Allocate&& allocate) {
  if (!AllocationAllowed(n)) return false;
  try {
    allocate();
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

// new T(args...), or nullptr when memory ran out for the object or inside its constructor.
template <class T, class... Args>
T* NewOrNull(Args&&... args) {
  T* object = nullptr;
  TryAllocate(sizeof(T), [&] { object = new T(std::forward<Args>(args)...); });
  return object;
}

// new T[n] (default-initialised), or nullptr when memory ran out. REQUIRES: n > 0.
template <class T>
T* NewArrayOrNull(size_t n) {
  T* array = nullptr;
  TryAllocate(n * sizeof(T), [&] { array = new T[n]; });
  return array;
}

// std::realloc through the hook (nullptr ptr allocates); release with std::free. nullptr
// when memory ran out, and ptr is then untouched. REQUIRES: size > 0.
void* ReallocOrNull(void* ptr, size_t size);
// A NUL-terminated copy from ReallocOrNull, or nullptr when memory ran out.
char* StrDupOrNull(const char* text);

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_ALLOC_HOOK_H
