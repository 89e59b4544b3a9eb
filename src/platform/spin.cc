// SPDX-License-Identifier: MIT
#include "platform/spin.h"

#include <sched.h>

#include <chrono>

namespace owc {

// Each look is followed by a yield: the thread whose work is awaited, or the peer's, may be
// waiting for this very processor. A look that came more than crowdedUs after the one
// before means that some other thread had the processor for a time slice, in the yield or
// by preemption: spinning on would only hand it the next one.
SpinOutcome SpinUntil(const std::function<bool()>& ready, uint32_t spinUs, uint32_t crowdedUs) {
  using Clock = std::chrono::steady_clock;
  auto last = Clock::now();
  const auto end = last + std::chrono::microseconds(spinUs);
  for (;;) {
    if (ready()) return SpinOutcome::kReady;
    sched_yield();
    const auto now = Clock::now();
    if (now - last > std::chrono::microseconds(crowdedUs)) return SpinOutcome::kCrowded;
    if (now >= end) return SpinOutcome::kNothing;
    last = now;
  }
}

}  // namespace owc
