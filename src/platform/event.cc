// SPDX-License-Identifier: MIT
#include "platform/event.h"

#include <chrono>

namespace owc {

// Notified after the unlock: a waiter woken while the setter still held the mutex would
// block on it at once, and every hand-off between two threads would cost two more system
// calls on each side and often a second context switch. The owner keeps the event alive
// across every Set (shared ownership, or the setting thread ended first), so touching it
// after the unlock is safe.
void Event::Set() {
  {
    std::lock_guard<std::mutex> lock(mMutex);
    mSet = true;
  }
  mCond.notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> lock(mMutex);
  mSet = false;
}

bool Event::IsSet() const {
  std::lock_guard<std::mutex> lock(mMutex);
  return mSet;
}

void Event::Wait() {
  std::unique_lock<std::mutex> lock(mMutex);
  mCond.wait(lock, [this] { return mSet; });
}

bool Event::WaitFor(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mMutex);
  return mCond.wait_for(lock, std::chrono::milliseconds(ms), [this] { return mSet; });
}

}  // namespace owc
