// SPDX-License-Identifier: MIT
#include "wire/answer_spin.h"

#include <gtest/gtest.h>

namespace owc_test {
namespace {

// A server farther away than the spin answers too late for every spin: one miss must send
// the following waits to poll, so that such a server costs one spin in 64, and a spin
// must be tried again after them, so that a near server is spun for again.
TEST(AnswerSpinTest, AMissSendsTheNextWaitsToPollUntilOneMoreSpinIsTried) {
  owc::AnswerSpin spin;
  for (int wait = 0; wait < 3; ++wait) {
    ASSERT_TRUE(spin.Worthwhile());
    spin.Note(true);
  }
  int spins = 0;
  for (uint32_t wait = 0; wait < 64 * 10; ++wait) {
    if (spin.Worthwhile()) {
      ++spins;
      spin.Note(false);
    }
  }
  EXPECT_EQ(10, spins);
  EXPECT_TRUE(spin.Worthwhile());
  spin.Note(true);
  EXPECT_TRUE(spin.Worthwhile());
}

}  // namespace
}  // namespace owc_test
