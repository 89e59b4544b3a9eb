// SPDX-License-Identifier: MIT
// The one place a test makes the library's allocations fail: every allocator that reports
// exhausted memory by result (the transport's byte arrays, the wire messages' images)
// asks AllocationAllowed first, so one hook reaches every "out of memory" path.
#ifndef OWCLIENT_RUNTIME_ALLOC_HOOK_H
#define OWCLIENT_RUNTIME_ALLOC_HOOK_H

#include <cstddef>

namespace owc {

// Returns false to make the allocation of n bytes fail. Called on the allocating thread.
using AllocHook = bool (*)(size_t n);

// nullptr removes the hook. Thread-safe.
void SetAllocHook(AllocHook hook);

// False when the hook refuses an allocation of n bytes; true without a hook.
bool AllocationAllowed(size_t n);

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_ALLOC_HOOK_H
