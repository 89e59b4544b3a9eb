// SPDX-License-Identifier: MIT
// Identity and priority of the calling thread.
#ifndef OWCLIENT_PLATFORM_THREAD_ID_H
#define OWCLIENT_PLATFORM_THREAD_ID_H

#include <cstdint>

namespace owc {

// The kernel thread id (gettid), as log lines show it.
uint32_t CurrentThreadId();

// Best effort: Windows priorities (2 highest, 15 time-critical) map onto a lower nice
// value, which an unprivileged process usually may not take. Failure is silent.
int SetThreadPriority(uint32_t threadId, int windowsPriority);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_THREAD_ID_H
