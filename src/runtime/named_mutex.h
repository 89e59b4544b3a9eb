// Recursive lock carrying the name of the member it guards ("Class::mMember"), for
// diagnosis. The owning thread may lock again; every Lock needs its Unlock.
#ifndef OWCLIENT_RUNTIME_NAMED_MUTEX_H
#define OWCLIENT_RUNTIME_NAMED_MUTEX_H

#include <cstdint>
#include <mutex>

namespace owc {

class NamedMutex {
 public:
  static constexpr int kNameSize = 64;

  explicit NamedMutex(const char* name);
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  void Lock();
  bool Unlock();

  const char* GetName() const { return mName; }
  // Depth of the current holder's nesting; meaningful only to the holder.
  int32_t GetDepth() const { return mDepth; }

 private:
  char mName[kNameSize];
  std::recursive_mutex mMutex;
  int32_t mDepth = 0;
};

// Scoped hold of a NamedMutex.
class NamedLock {
 public:
  explicit NamedLock(NamedMutex& mutex) : mMutex(mutex) { mMutex.Lock(); }
  ~NamedLock() { mMutex.Unlock(); }
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

 private:
  NamedMutex& mMutex;
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_NAMED_MUTEX_H
