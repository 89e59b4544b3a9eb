// SPDX-License-Identifier: MIT
#include "runtime/spin_backoff.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace owc_test {
namespace {

// How many of `waits` the backoff lets spin, each spin wasted or not.
int Spins(owc::SpinBackoff& backoff, int waits, bool wasted) {
  int spins = 0;
  for (int wait = 0; wait < waits; ++wait) {
    if (!backoff.Allows()) continue;
    ++spins;
    backoff.Note(wasted);
  }
  return spins;
}

// Lone wasted spins, however many over time, leave spinning on; two within the window send
// exactly the given number of waits to sleep, after which spinning is tried again, and a
// far server that wastes every spin gets two spins per pause.
TEST(SpinBackoffTest, OnlyTwoWastedSpinsCloseTogetherSendTheNextWaitsToSleep) {
  owc::SpinBackoff backoff(8, 100);
  for (int i = 0; i < 50; ++i) {
    ASSERT_EQ(1, Spins(backoff, 1, true));
    ASSERT_EQ(8, Spins(backoff, 8, false));  // the window passes without a second
  }
  ASSERT_EQ(1, Spins(backoff, 1, true));
  EXPECT_EQ(7, Spins(backoff, 7, false));
  EXPECT_EQ(1, Spins(backoff, 1, true));  // the eighth spin since the first
  EXPECT_EQ(0, Spins(backoff, 100, false));
  EXPECT_EQ(1, Spins(backoff, 1, false));

  owc::SpinBackoff farServer(8, 100);
  EXPECT_EQ(2 * 10, Spins(farServer, 102 * 10, true));
}

}  // namespace
}  // namespace owc_test
