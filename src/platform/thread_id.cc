// SPDX-License-Identifier: MIT
#include "platform/thread_id.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace owc {

uint32_t CurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }

int SetThreadPriority(uint32_t threadId, int windowsPriority) {
  // Windows 2 (highest) and 15 (time-critical) ask for more than normal; negative nice
  // needs privilege, so this mostly fails, silently, and the thread runs at normal.
  int nice = windowsPriority >= 15 ? -10 : windowsPriority > 0 ? -5 : 0;
  int result = setpriority(PRIO_PROCESS, static_cast<id_t>(threadId), nice);
  return result == 0 ? 1 : 0;
}

}  // namespace owc
