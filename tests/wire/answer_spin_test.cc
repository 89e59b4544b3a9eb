// SPDX-License-Identifier: MIT
#include "wire/answer_spin.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace owc_test {
namespace {

// Feeds `waits` owed answers that take `spunUs` when spun for and `sleptUs` when slept for,
// and returns how many of them were spun for.
int Spins(owc::AnswerSpin& policy, int waits, uint32_t spunUs, uint32_t sleptUs) {
  int spins = 0;
  for (int wait = 0; wait < waits; ++wait) {
    const bool spin = policy.ShouldSpin();
    spins += spin;
    if (spin) {
      policy.NoteSpun(owc::SpinOutcome::kReady, spunUs);
    } else {
      policy.NoteSlept(sleptUs);
    }
  }
  return spins;
}

// Spinning pays only where a wake-up costs more than the answer takes (a quiet virtual
// machine); where the two ways are alike (a far server, a busy machine) a spin is a waste
// of processor time. The thread must settle on the right way for each, keep probing the
// other way, and follow when the machine changes, including after a spin that handed the
// processor away for a whole time slice.
TEST(AnswerSpinTest, SpinsWhileSpinningBringsAnswersClearlySoonerAndFollowsTheMachine) {
  constexpr int kWaits = 64 * 40;  // 40 probes of the other way
  struct Machine {
    uint32_t spunUs, sleptUs;
    int spinsOnceSettled;
  };
  const Machine machines[] = {
      {21, 50, kWaits - 40},  // a quiet virtual machine: one wait in 64 sleeps
      {1050, 1000, 40},       // a far server: one wait in 64 spins
      {14, 15, 40},           // a busy machine, where wake-ups are cheap
  };
  for (const Machine& m : machines) {
    owc::AnswerSpin policy;
    EXPECT_TRUE(policy.ShouldSpin());  // nothing timed yet
    Spins(policy, kWaits - 1, m.spunUs, m.sleptUs);
    EXPECT_EQ(m.spinsOnceSettled, Spins(policy, kWaits, m.spunUs, m.sleptUs)) << m.spunUs;
  }

  // On the quiet machine one answer is held up for milliseconds: spinning goes on. Then
  // answers get slower when spun for: sleeping takes over until the probes have worn them
  // out of the average, and spinning returns.
  owc::AnswerSpin policy;
  Spins(policy, kWaits, 21, 50);
  ASSERT_EQ(1, Spins(policy, 1, 3000, 50));
  EXPECT_EQ(kWaits - 40, Spins(policy, kWaits - 1, 21, 50) + 1);
  EXPECT_LT(Spins(policy, 64, 3000, 50), 64);
  EXPECT_LT(Spins(policy, kWaits, 21, 50), kWaits - 40 - 64);  // still sleeping a while
  EXPECT_EQ(kWaits - 40, Spins(policy, kWaits, 21, 50));
}

// A spin that loses its processor to another thread happens now and then on a quiet
// machine; several close together are the sign of a busy one, where spinning on would be
// preempted for time slices. Then the following waits must sleep, however well spinning did
// before, and spinning is tried again after them.
TEST(AnswerSpinTest, SpinsThatKeepLosingTheirProcessorSendTheNextWaitsToSleep) {
  owc::AnswerSpin policy;
  Spins(policy, 640, 21, 50);
  auto crowdedSpin = [&] {
    ASSERT_TRUE(policy.ShouldSpin());
    policy.NoteSpun(owc::SpinOutcome::kCrowded, 1500);
  };
  crowdedSpin();
  Spins(policy, 70, 21, 50);  // more than 64 spins later
  crowdedSpin();
  EXPECT_EQ(62, Spins(policy, 63, 21, 50));  // one lone crowded spin each time: spinning on
  crowdedSpin();
  EXPECT_EQ(0, Spins(policy, owc::AnswerSpin::kSkipWhenCrowded, 21, 50));
  EXPECT_TRUE(policy.ShouldSpin());
}

}  // namespace
}  // namespace owc_test
