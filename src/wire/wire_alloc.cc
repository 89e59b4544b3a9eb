// SPDX-License-Identifier: MIT
#include "wire/wire_alloc.h"

#include <cstdlib>
#include <cstring>

#include "runtime/alloc_hook.h"

namespace owc {

void* WireRealloc(void* ptr, size_t size) {
  return AllocationAllowed(size) ? std::realloc(ptr, size) : nullptr;
}

void WireFree(void* ptr) { std::free(ptr); }

char* WireStrDup(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = static_cast<char*>(WireRealloc(nullptr, size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

}  // namespace owc
