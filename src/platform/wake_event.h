// SPDX-License-Identifier: MIT
// A manual-reset event that a poll can wait on together with sockets (an eventfd).
#ifndef OWCLIENT_PLATFORM_WAKE_EVENT_H
#define OWCLIENT_PLATFORM_WAKE_EVENT_H

#include <cstdint>
#include <vector>

#include "platform/spin.h"

namespace owc {

class WakeEvent {
 public:
  WakeEvent();
  ~WakeEvent();
  WakeEvent(const WakeEvent&) = delete;
  WakeEvent& operator=(const WakeEvent&) = delete;

  bool IsValid() const { return mFd >= 0; }
  // Thread-safe. Stays set until Reset.
  void Set();
  void Reset();
  int Fd() const { return mFd; }

 private:
  int mFd;
};

// Waits up to timeoutMs until the event is set or one of the sockets has bytes, an end
// of stream or an error to report. Returns true when the event was set. Sockets of -1
// are not watched.
bool WaitForEventOrReadable(const WakeEvent& event, const std::vector<int>& sockets,
                            uint32_t timeoutMs);
// Checks the event and the sockets without blocking, as SpinUntil does (kReady: the event
// or a socket became ready).
SpinOutcome SpinForEventOrReadable(const WakeEvent& event, const std::vector<int>& sockets,
                                   uint32_t spinUs, uint32_t crowdedUs);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_WAKE_EVENT_H
