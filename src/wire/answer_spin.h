// SPDX-License-Identifier: MIT
// Whether the client thread should spin for an answer before it sleeps in poll.
//
// On a virtual machine, waking a thread that sleeps on an idle processor costs more than a
// whole loopback exchange with a busy one: a thread that waits a few microseconds for an
// answer it knows is coming halves the exchange's time and spends no more processor time
// than its sleep and wake-up would. A server farther away answers after the spin has run
// out; one miss then sends the next kSkipAfterMiss waits straight to poll, so a slow peer
// costs one spin in 64.
#ifndef OWCLIENT_WIRE_ANSWER_SPIN_H
#define OWCLIENT_WIRE_ANSWER_SPIN_H

#include <cstdint>

namespace owc {

class AnswerSpin {
 public:
  // About twice a loopback exchange on a quiet virtual machine.
  static constexpr uint32_t kSpinUs = 50;
  static constexpr uint32_t kSkipAfterMiss = 63;

  // Asked once for each wait on an owed answer.
  bool Worthwhile() {
    if (mSkip == 0) return true;
    --mSkip;
    return false;
  }
  // The outcome of a spin that Worthwhile allowed.
  void Note(bool answered) { mSkip = answered ? 0 : kSkipAfterMiss; }

 private:
  uint32_t mSkip = 0;
};

}  // namespace owc

#endif  // OWCLIENT_WIRE_ANSWER_SPIN_H
