// SPDX-License-Identifier: MIT
// Tests make time pass only by moving the module clock, forward from where it stands.
#ifndef OWCLIENT_TESTS_SUPPORT_CLOCK_H
#define OWCLIENT_TESTS_SUPPORT_CLOCK_H

#include <cstdint>

#include "runtime/clock_thread.h"

namespace owc_test {

// Advances the clock by ms, in whole 50 ms ticks.
inline void AdvanceMs(uint32_t ms) {
  owc::ModuleClock().AdvanceTo(owc::ModuleClock().GetTicks() + ms / 50);
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_CLOCK_H
