// SPDX-License-Identifier: MIT
#ifndef OWCLIENT_TESTS_SUPPORT_GATE_H
#define OWCLIENT_TESTS_SUPPORT_GATE_H

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace owc_test {

// Holds a thread (the delivery thread, in the application callback) until opened; once
// open, every call passes.
class Gate {
 public:
  void Pass() {
    std::unique_lock<std::mutex> lock(mMutex);
    mEntered = true;
    mCond.notify_all();
    mCond.wait(lock, [this] { return mOpen; });
  }
  // Waits (bounded, for the delivery thread) until a callback is held or passed.
  bool WaitEntered() {
    std::unique_lock<std::mutex> lock(mMutex);
    return mCond.wait_for(lock, std::chrono::seconds(10), [this] { return mEntered; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mMutex);
    mOpen = true;
    mCond.notify_all();
  }

 private:
  std::mutex mMutex;
  std::condition_variable mCond;
  bool mEntered = false;
  bool mOpen = false;
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_GATE_H
