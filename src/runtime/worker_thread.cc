// SPDX-License-Identifier: MIT
#include "runtime/worker_thread.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>

#include "platform/standard_error.h"
#include "platform/thread_id.h"
#include "runtime/trace_log.h"

namespace owc {

WorkerThread::~WorkerThread() {
  NamedLock lock(mMtxThread);
  ReleaseThreadLocked();
  mStopEvent.reset();
}

// A thread that has ended is joined; one that did not end in time is left running
// (detached), as Stop promises never to kill it.
void WorkerThread::ReleaseThreadLocked() {
  if (!mThread) return;
  if (mThread->joinable()) {
    if (mDone && mDone->IsSet() && mThread->get_id() != std::this_thread::get_id()) {
      mThread->join();
    } else {
      mThread->detach();
    }
  }
  mThread.reset();
}

bool WorkerThread::Start(bool suspended) {
  Stop(true);
  NamedLock lock(mMtxThread);
  ReleaseThreadLocked();
  mStopEvent.reset();
  mExitCode = 0;
  mStopRequested = 0;
  mThreadId.store(0);
  try {
    mStopEvent = std::make_shared<Event>();
    mDone = std::make_shared<Event>();
    mStartGate = std::make_shared<Event>();
    if (!suspended) mStartGate->Set();
    mThread.reset(new std::thread(&WorkerThread::EntryPoint, this, mStartGate));
  } catch (...) {
    mStopEvent.reset();
    mThread.reset();
    mDone.reset();
    return false;
  }
  return true;
}

void WorkerThread::Stop(bool wait) {
  std::shared_ptr<Event> done;
  bool ownThread = false;
  {
    NamedLock lock(mMtxThread);
    mStopRequested = 1;
    Signal();
    if (!mThread) return;
    done = mDone;
    ownThread = mThread->get_id() == std::this_thread::get_id();
    // A thread still held at its start gate must be let go, or it could never end.
    if (mStartGate) mStartGate->Set();
  }
  if (!wait || ownThread || !done) return;
  for (uint32_t i = 0; i < kStopPolls && !done->WaitFor(kStopPollMs); ++i) {
  }
  NamedLock lock(mMtxThread);
  if (mDone == done && done->IsSet()) ReleaseThreadLocked();
}

// Set outside mMtxThread: the woken thread's first step is IsStopRequested, which would
// otherwise find the lock still held and sleep on it once more.
bool WorkerThread::Signal() {
  std::shared_ptr<Event> event;
  {
    NamedLock lock(mMtxThread);
    event = mStopEvent;
  }
  if (!event) return false;
  event->Set();
  return true;
}

// A copy is held across the wait: a thread left running after a Stop that timed out may
// still wait here when a new Start replaces the event.
bool WorkerThread::WaitSignal() {
  std::shared_ptr<Event> event;
  {
    NamedLock lock(mMtxThread);
    event = mStopEvent;
  }
  if (event) event->Wait();
  return true;
}

bool WorkerThread::ResetSignal() {
  NamedLock lock(mMtxThread);
  if (!mStopEvent) return false;
  mStopEvent->Reset();
  return true;
}

uint32_t WorkerThread::IsStopRequested() {
  NamedLock lock(mMtxThread);
  return mStopRequested;
}

uint32_t WorkerThread::GetExitCode() {
  NamedLock lock(mMtxThread);
  return mExitCode;
}

uint32_t WorkerThread::GetThreadId() {
  NamedLock lock(mMtxThread);
  return mThread ? mThreadId.load() : 0;
}

bool WorkerThread::Suspend() { return false; }

bool WorkerThread::Resume() {
  NamedLock lock(mMtxThread);
  if (!mThread || !mStartGate) return false;
  mStartGate->Set();
  return true;
}

int WorkerThread::SetPriority(int windowsPriority) {
  uint32_t tid = GetThreadId();
  if (tid == 0) return 0;
  return SetThreadPriority(tid, windowsPriority);
}

void WorkerThread::Finish(uint32_t exitCode) {
  NamedLock lock(mMtxThread);
  mExitCode = exitCode;
  mStopEvent.reset();
  if (mDone) mDone->Set();
}

void WorkerThread::DieOfException(const char* detail) {
  char text[1200];
  if (detail != nullptr) {
    std::snprintf(text, sizeof text, "::WorkerThreadEntryPoint %d exception: %.1024s\n",
                  static_cast<int>(CurrentThreadId()), detail);
  } else {
    std::snprintf(text, sizeof text, "::WorkerThreadEntryPoint %d unknown / unhandled exception.\n",
                  static_cast<int>(CurrentThreadId()));
  }
  // Written to standard error and the log before the process ends, so the cause of an
  // exit status of 3333 (5 as POSIX keeps it) can be found.
  WriteStandardError(text);
  TraceLog(kLevelFailure, text);
  Finish(0);
  std::_Exit(kUnhandledExceptionExitCode);
}

void WorkerThread::EntryPoint(WorkerThread* self, std::shared_ptr<Event> gate) {
  self->mThreadId.store(CurrentThreadId());
  gate->Wait();
  uint32_t exitCode = 0;
  try {
    exitCode = self->Run();
  } catch (const std::exception& e) {
    self->DieOfException(e.what());
  } catch (...) {
    self->DieOfException(nullptr);
  }
  self->Finish(exitCode);
}

}  // namespace owc
