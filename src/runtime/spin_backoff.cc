// SPDX-License-Identifier: MIT
#include "runtime/spin_backoff.h"

namespace owc {

bool SpinBackoff::Allows() {
  if (mSkip == 0) return true;
  --mSkip;
  return false;
}

void SpinBackoff::Note(bool wasted) {
  if (!wasted) {
    if (mWindow > 0) --mWindow;
  } else if (mWindow > 0) {
    mSkip = mSkipAfterTwo;
    mWindow = 0;
  } else {
    mWindow = mWindowSpins;
  }
}

}  // namespace owc
