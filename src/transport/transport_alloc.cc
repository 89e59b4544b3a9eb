// SPDX-License-Identifier: MIT
#include "transport/transport_alloc.h"

#include <new>

#include "runtime/alloc_hook.h"

namespace owc {

uint8_t* NewBytes(size_t n) {
  if (!AllocationAllowed(n)) return nullptr;
  return new (std::nothrow) uint8_t[n];
}

void DeleteBytes(uint8_t* bytes) { delete[] bytes; }

}  // namespace owc
