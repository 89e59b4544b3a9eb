// SPDX-License-Identifier: MIT
// A short busy wait for something another thread or a peer is about to do, for the places
// where a sleep and wake-up would cost more than the wait itself.
#ifndef OWCLIENT_PLATFORM_SPIN_H
#define OWCLIENT_PLATFORM_SPIN_H

#include <cstdint>
#include <functional>

namespace owc {

enum class SpinOutcome {
  kReady,    // what was looked for came
  kNothing,  // spinUs ran out
  kCrowded,  // the thread was kept off its processor for longer than crowdedUs
};

// Calls ready() again and again, yielding between looks, until it returns true, spinUs
// have passed, or the thread was kept off its processor for longer than crowdedUs between
// two looks.
SpinOutcome SpinUntil(const std::function<bool()>& ready, uint32_t spinUs, uint32_t crowdedUs);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_SPIN_H
