// SPDX-License-Identifier: MIT
// Whether the client thread should spin for an answer it owes the server before it sleeps
// in poll.
//
// On a quiet virtual machine, waking a thread that sleeps on an idle processor costs more
// than a whole loopback exchange: spinning for an answer that comes within microseconds
// halves the exchange's time and spends no more processor time than the sleep and wake-up.
// Elsewhere it is a loss: a server farther away answers after the spin has run out, and on
// a busy machine a wake-up is cheap while the spin takes processor time from other threads.
// So the thread keeps a moving average of how long answers took each way and spins only
// while spinning brings them clearly sooner; one wait in kProbeEvery is waited for the
// other way, to notice when that changes.
#ifndef OWCLIENT_WIRE_ANSWER_SPIN_H
#define OWCLIENT_WIRE_ANSWER_SPIN_H

#include <cstdint>

namespace owc {

class AnswerSpin {
 public:
  // About twice a loopback exchange on a quiet virtual machine.
  static constexpr uint32_t kSpinUs = 50;
  // A yield that kept the spinner off its processor this long means another thread wanted
  // it for a time slice: the spin ends there. Longer than a story's rendering by another
  // thread of the gateway, shorter than a scheduler's time slice.
  static constexpr uint32_t kCrowdedUs = 200;
  static constexpr uint32_t kProbeEvery = 64;

  // Asked once for each wait on an owed answer.
  bool ShouldSpin();
  // How long the answer took, from the start of the wait, and whether it was spun for.
  void Note(bool spun, uint32_t answerUs);

 private:
  bool SpinningPays() const;

  // Moving averages (1/8 weight to each new answer); 0 until the first answer.
  uint32_t mSpunUs = 0;
  uint32_t mSleptUs = 0;
  uint32_t mWaits = 0;
};

}  // namespace owc

#endif  // OWCLIENT_WIRE_ANSWER_SPIN_H
