// SPDX-License-Identifier: MIT
// A manual-reset event: once set it stays set, waking every waiter, until reset.
#ifndef OWCLIENT_PLATFORM_EVENT_H
#define OWCLIENT_PLATFORM_EVENT_H

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace owc {

class Event {
 public:
  Event() = default;
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void Set();
  void Reset();
  bool IsSet() const;
  // Waits until set; returns at once when already set.
  void Wait();
  // Waits up to ms milliseconds; true when the event was set.
  bool WaitFor(uint32_t ms);

 private:
  mutable std::mutex mMutex;
  std::condition_variable mCond;
  bool mSet = false;
};

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_EVENT_H
