// SPDX-License-Identifier: MIT
// Recursive lock carrying the name of the member it guards ("Class::mMember"), for
// diagnosis. The owning thread may lock again; every Lock needs its Unlock.
#ifndef OWCLIENT_RUNTIME_NAMED_MUTEX_H
#define OWCLIENT_RUNTIME_NAMED_MUTEX_H

#include <cstdint>
#include <mutex>

#include "runtime/thread_annotations.h"

namespace owc {

class OWC_CAPABILITY("mutex") NamedMutex {
 public:
  static constexpr int kNameSize = 64;

  explicit NamedMutex(const char* name);
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  void Lock() OWC_ACQUIRE();
  // Takes the lock only when no other thread holds it: for a thread that holds locks
  // which the holder may be waiting for, and so must not wait itself.
  bool TryLock() OWC_TRY_ACQUIRE(true);
  bool Unlock() OWC_RELEASE();

  const char* GetName() const { return mName; }
  // Depth of the current holder's nesting; meaningful only to the holder.
  int32_t GetDepth() const { return mDepth; }

 private:
  char mName[kNameSize];
  std::recursive_mutex mMutex;
  int32_t mDepth = 0;
};

// Scoped hold of a NamedMutex.
class OWC_SCOPED_CAPABILITY NamedLock {
 public:
  explicit NamedLock(NamedMutex& mutex) OWC_ACQUIRE(mutex) : mMutex(mutex) { mMutex.Lock(); }
  ~NamedLock() OWC_RELEASE() { mMutex.Unlock(); }
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

 private:
  NamedMutex& mMutex;
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_NAMED_MUTEX_H
