// SPDX-License-Identifier: MIT
#include "wire/answer_spin.h"

#include <algorithm>

namespace owc {

namespace {

// A new answer moves the average by a sixteenth of its difference, and counts as at most
// twice the average: one answer held up for milliseconds must not decide, while a machine
// that stays slower moves the average up by a sixteenth with each answer.
double Averaged(double average, uint32_t sample) {
  if (average == 0) return sample > 0 ? sample : 1;
  const double counted = std::min<double>(sample, 2 * average);
  return average + (counted - average) / 16;
}

}  // namespace

// Until both ways have been timed, spinning is tried: on the machines where it pays, it
// pays from the first exchange. "Clearly sooner" is a third less time: where the two are
// close, sleeping leaves the processor to others.
bool AnswerSpin::SpinningPays() const {
  if (mSpunUs == 0 || mSleptUs == 0) return true;
  return mSpunUs * 3 < mSleptUs * 2;
}

bool AnswerSpin::ShouldSpin() {
  if (!mCrowded.Allows()) return false;
  const bool probe = ++mWaits % kProbeEvery == 0;
  return SpinningPays() != probe;
}

// A lone preemption happens on a quiet machine too; two within kProbeEvery spins are a
// busy one.
void AnswerSpin::NoteSpun(SpinOutcome outcome, uint32_t answerUs) {
  const bool crowded = outcome == SpinOutcome::kCrowded;
  mCrowded.Note(crowded);
  if (!crowded) mSpunUs = Averaged(mSpunUs, answerUs);
}

void AnswerSpin::NoteSlept(uint32_t answerUs) { mSleptUs = Averaged(mSleptUs, answerUs); }

}  // namespace owc
