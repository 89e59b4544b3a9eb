// SPDX-License-Identifier: MIT
// The one allocator of the message classes: images, kept argument copies and filter
// lists all come from WireRealloc, which the allocation hook (runtime/alloc_hook.h) can
// fail.
#ifndef OWCLIENT_WIRE_WIRE_ALLOC_H
#define OWCLIENT_WIRE_WIRE_ALLOC_H

#include <cstddef>

namespace owc {

// realloc semantics (nullptr ptr allocates). REQUIRES: size > 0.
void* WireRealloc(void* ptr, size_t size);
void WireFree(void* ptr);
// A NUL-terminated copy from WireRealloc, or nullptr when memory ran out.
char* WireStrDup(const char* text);

}  // namespace owc

#endif  // OWCLIENT_WIRE_WIRE_ALLOC_H
