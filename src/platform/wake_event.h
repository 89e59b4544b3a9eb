// SPDX-License-Identifier: MIT
// A manual-reset event that a poll can wait on together with sockets (an eventfd).
#ifndef OWCLIENT_PLATFORM_WAKE_EVENT_H
#define OWCLIENT_PLATFORM_WAKE_EVENT_H

#include <cstdint>
#include <vector>

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
enum class SpinOutcome {
  kReady,    // the event or a socket became ready
  kNothing,  // spinUs ran out
  kCrowded,  // the thread was kept off its processor for longer than crowdedUs
};
// Checks the event and the sockets without blocking, yielding between looks, again and
// again for up to spinUs, or until the thread was kept off its processor for longer than
// crowdedUs between two looks.
SpinOutcome SpinForEventOrReadable(const WakeEvent& event, const std::vector<int>& sockets,
                                   uint32_t spinUs, uint32_t crowdedUs);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_WAKE_EVENT_H
