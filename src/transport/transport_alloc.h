// SPDX-License-Identifier: MIT
// The byte-array allocator of the transport: overflow and auxiliary buffers and stream
// chunks all come from NewBytes, which the allocation hook (runtime/alloc_hook.h) can fail.
#ifndef OWCLIENT_TRANSPORT_TRANSPORT_ALLOC_H
#define OWCLIENT_TRANSPORT_TRANSPORT_ALLOC_H

#include <cstddef>
#include <cstdint>

namespace owc {

// n bytes (uninitialised), or nullptr when memory ran out. Release with DeleteBytes.
// REQUIRES: n > 0.
uint8_t* NewBytes(size_t n);
void DeleteBytes(uint8_t* bytes);

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_TRANSPORT_ALLOC_H
