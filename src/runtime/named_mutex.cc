// SPDX-License-Identifier: MIT
#include "runtime/named_mutex.h"

#include <cstring>

namespace owc {

NamedMutex::NamedMutex(const char* name) {
  std::strncpy(mName, name != nullptr ? name : "", kNameSize);
  mName[kNameSize - 1] = '\0';
}

void NamedMutex::Lock() {
  mMutex.lock();
  ++mDepth;
}

bool NamedMutex::TryLock() {
  if (!mMutex.try_lock()) return false;
  ++mDepth;
  return true;
}

bool NamedMutex::Unlock() {
  --mDepth;
  mMutex.unlock();
  return true;
}

}  // namespace owc
