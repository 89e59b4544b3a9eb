// SPDX-License-Identifier: MIT
#include "wire/answer_spin.h"

namespace owc {

namespace {

uint32_t Averaged(uint32_t average, uint32_t sample) {
  if (average == 0) return sample > 0 ? sample : 1;
  const int64_t moved = static_cast<int64_t>(average) +
                        (static_cast<int64_t>(sample) - static_cast<int64_t>(average)) / 8;
  return moved > 0 ? static_cast<uint32_t>(moved) : 1;
}

}  // namespace

// Until both ways have been timed, spinning is tried: on the machines where it pays, it
// pays from the first exchange. "Clearly sooner" is a third less time: where the two are
// close, sleeping leaves the processor to others.
bool AnswerSpin::SpinningPays() const {
  if (mSpunUs == 0 || mSleptUs == 0) return true;
  return static_cast<uint64_t>(mSpunUs) * 3 < static_cast<uint64_t>(mSleptUs) * 2;
}

bool AnswerSpin::ShouldSpin() {
  const bool probe = ++mWaits % kProbeEvery == 0;
  return SpinningPays() != probe;
}

void AnswerSpin::Note(bool spun, uint32_t answerUs) {
  uint32_t& average = spun ? mSpunUs : mSleptUs;
  average = Averaged(average, answerUs);
}

}  // namespace owc
