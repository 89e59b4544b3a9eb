// SPDX-License-Identifier: MIT
// When a thread that spins for what it expects soon should stop spinning for a while.
//
// A wasted spin now and then (the thread lost its processor once, or what it waited for came
// late once) happens on any machine. Two close together are the sign that spinning does not
// pay here at present: the next waits sleep, and spinning is tried again after them.
#ifndef OWCLIENT_RUNTIME_SPIN_BACKOFF_H
#define OWCLIENT_RUNTIME_SPIN_BACKOFF_H

#include <cstdint>

namespace owc {

class SpinBackoff {
 public:
  // skip: how many waits sleep after two wasted spins within window spins.
  SpinBackoff(uint32_t window, uint32_t skip) : mWindowSpins(window), mSkipAfterTwo(skip) {}
  // False while the waits sleep; each call counts one of them.
  bool Allows();
  // After each spin.
  void Note(bool wasted);

 private:
  const uint32_t mWindowSpins;
  const uint32_t mSkipAfterTwo;
  uint32_t mSkip = 0;
  // Spins left in which a second wasted one would send the waits to sleep.
  uint32_t mWindow = 0;
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_SPIN_BACKOFF_H
