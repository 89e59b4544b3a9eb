// SPDX-License-Identifier: MIT
// Whether the client thread should spin for an answer it owes the server before it sleeps
// in poll.
//
// On a quiet virtual machine, waking a thread that sleeps on an idle processor costs more
// than a whole loopback exchange: spinning for an answer that comes within microseconds
// halves the exchange's time and spends no more processor time than the sleep and wake-up.
// Elsewhere it is a loss, and the policy turns it off:
// - where spinning does not bring answers clearly sooner: a server farther away, or a
//   machine busy enough that wake-ups are cheap. The thread keeps moving averages of how
//   long answers took each way, and one wait in kProbeEvery is waited for the other way;
// - where the spinner keeps losing its processor to other threads (each such spin ends at
//   once): a thread that spins on among busy ones is preempted for whole time slices,
//   while one that sleeps is woken ahead of them. After two such spins within kProbeEvery
//   spins, the next kSkipWhenCrowded waits sleep.
#ifndef OWCLIENT_WIRE_ANSWER_SPIN_H
#define OWCLIENT_WIRE_ANSWER_SPIN_H

#include <cstdint>

#include "platform/spin.h"
#include "runtime/spin_backoff.h"

namespace owc {

class AnswerSpin {
 public:
  // About twice a loopback exchange on a quiet virtual machine.
  static constexpr uint32_t kSpinUs = 50;
  // Longer than a small story's rendering by another thread of the gateway, shorter than
  // a scheduler's time slice.
  static constexpr uint32_t kCrowdedUs = 200;
  static constexpr uint32_t kProbeEvery = 64;
  static constexpr uint32_t kSkipWhenCrowded = 4095;

  // Asked once for each wait on an owed answer.
  bool ShouldSpin();
  // How long the answer took from the start of the wait: after a spin, with its outcome,
  // or after a sleep.
  void NoteSpun(SpinOutcome outcome, uint32_t answerUs);
  void NoteSlept(uint32_t answerUs);

 private:
  bool SpinningPays() const;

  // Moving averages of the answers' times in µs; 0 until the first answer.
  double mSpunUs = 0;
  double mSleptUs = 0;
  uint32_t mWaits = 0;
  SpinBackoff mCrowded{kProbeEvery, kSkipWhenCrowded};
};

}  // namespace owc

#endif  // OWCLIENT_WIRE_ANSWER_SPIN_H
