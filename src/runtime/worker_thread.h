// SPDX-License-Identifier: MIT
// Base of every long-running activity of the module: a thread running the derived
// class's Run until asked to stop, with a manual-reset stop/wake event.
//
// Thread rules: Start, Stop, Signal and the getters may be called from any thread;
// WaitSignal and ResetSignal by the thread itself. mMtxThread is held only for short
// field accesses, never across a wait. A derived class whose object may be destroyed
// while its thread runs must call Stop(true) in its own destructor: the base destructor
// cannot, because Run belongs to the derived part.
#ifndef OWCLIENT_RUNTIME_WORKER_THREAD_H
#define OWCLIENT_RUNTIME_WORKER_THREAD_H

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "platform/event.h"
#include "runtime/named_mutex.h"

namespace owc {

class WorkerThread {
 public:
  // Exit status of the process when an exception escapes Run (POSIX keeps its low 8 bits).
  static constexpr int kUnhandledExceptionExitCode = 3333;
  // Stop's bounded wait: 3600 polls of 50 ms, three minutes in all.
  static constexpr uint32_t kStopPollMs = 50;
  static constexpr uint32_t kStopPolls = 3600;

  WorkerThread() = default;
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;
  virtual ~WorkerThread();

  // Stops (and waits for) a thread of an earlier start, then starts a fresh one. A
  // suspended thread runs Run only after Resume. False when it could not be created.
  bool Start(bool suspended = false);
  // Sets the stop flag and the event; with wait, waits up to three minutes for the
  // thread to end. Never kills a thread; one that does not end is left running.
  void Stop(bool wait);

  bool Signal();
  bool WaitSignal();
  bool ResetSignal();
  uint32_t IsStopRequested();
  uint32_t GetExitCode();
  // The kernel thread id, or 0 when no thread exists.
  uint32_t GetThreadId();
  // POSIX threads cannot be suspended once running: Suspend returns false. Resume
  // releases a thread started suspended.
  bool Suspend();
  bool Resume();
  int SetPriority(int windowsPriority);

 protected:
  virtual uint32_t Run() = 0;

 private:
  static void EntryPoint(WorkerThread* self, std::shared_ptr<Event> gate);
  void Finish(uint32_t exitCode);
  [[noreturn]] void DieOfException(const char* detail);
  void ReleaseThreadLocked() OWC_REQUIRES(mMtxThread);

  NamedMutex mMtxThread{"WorkerThread::mMtxThread"};
  // Null while no thread exists; shared, so that Signal sets it without holding mMtxThread.
  std::shared_ptr<Event> mStopEvent OWC_GUARDED_BY(mMtxThread);
  std::unique_ptr<std::thread> mThread OWC_GUARDED_BY(mMtxThread);
  uint32_t mExitCode OWC_GUARDED_BY(mMtxThread) = 0;
  uint32_t mStopRequested OWC_GUARDED_BY(mMtxThread) = 0;
  // Open unless started suspended.
  std::shared_ptr<Event> mStartGate OWC_GUARDED_BY(mMtxThread);
  // Set when the thread has left Run; Stop waits on it.
  std::shared_ptr<Event> mDone OWC_GUARDED_BY(mMtxThread);
  std::atomic<uint32_t> mThreadId{0};
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_WORKER_THREAD_H
