// The byte-array allocator of the transport: overflow and auxiliary buffers and stream
// chunks all come from NewBytes, so that a test can make any of them fail.
#ifndef OWCLIENT_TRANSPORT_TRANSPORT_ALLOC_H
#define OWCLIENT_TRANSPORT_TRANSPORT_ALLOC_H

#include <cstddef>
#include <cstdint>

namespace owc {

// n bytes (uninitialised), or nullptr when memory ran out. Release with DeleteBytes.
// REQUIRES: n > 0.
uint8_t* NewBytes(size_t n);
void DeleteBytes(uint8_t* bytes);

// Test seam: consulted before every NewBytes; returning false makes that allocation fail.
// nullptr removes it. Thread-safe.
using TransportAllocHook = bool (*)(size_t n);
void SetTransportAllocHook(TransportAllocHook hook);

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_TRANSPORT_ALLOC_H
