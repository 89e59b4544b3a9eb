// SPDX-License-Identifier: MIT
#include "wire/client_thread.h"

#include <chrono>
#include <cinttypes>
#include <memory>
#include <new>

#include "owclient/wire_messages.h"
#include "platform/platform_time.h"
#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"
#include "transport/socket_ops.h"

namespace owc {

WCXMLGWClientThread::~WCXMLGWClientThread() {
  Stop(true);
  DeleteAll();
}

uintptr_t WCXMLGWClientThread::Open(uint32_t address, OrbrixWireRXCallback callback,
                                    uintptr_t userValue) {
  // Owned here until listed: running out of memory on the way must not leak it.
  std::unique_ptr<WCOBWClientConnect> connect(NewOrNull<WCOBWClientConnect>());
  TraceLogF(kLevelProgress, "WCXMLGWClientThread::Open IP addr %s, cnct 0x%08" PRIxPTR,
            DottedIPv4(address).text, reinterpret_cast<uintptr_t>(connect.get()));
  if (connect == nullptr) {
    TraceLog(kLevelFailure, "WCXMLGWClientThread::Open new WCOBWClientConnect failed");
    return 0;
  }
  connect->SetIP(address);
  connect->SetRXCallback(callback, userValue);
  connect->Connect();
  NamedLock lock(mMtxCliCnctList);
  WCOBWCliCnctList::Position position = mCliCnctList.AddTail(connect.get());
  if (position == nullptr) {
    TraceLog(kLevelFailure, "WCXMLGWClientThread::Open mCliCnctList.AddTail failed");
    return 0;
  }
  connect.release();
  // The thread's wait does not watch the new socket yet: without a wake, the server's
  // hello would sit there until the next poll, up to 25 ms at every connect.
  mWakeEvent.Set();
  return reinterpret_cast<uintptr_t>(position);
}

// Handles are list positions. A handle that is not in the list (closed, or never
// opened) is answered as "no connection" rather than followed into freed memory.
WCOBWClientConnect* WCXMLGWClientThread::Find(uintptr_t handle) {
  if (handle == 0) return nullptr;
  for (auto pos = mCliCnctList.GetHeadPosition(); pos != nullptr; pos = pos->next) {
    if (reinterpret_cast<uintptr_t>(pos) == handle) return pos->value;
  }
  return nullptr;
}

void WCXMLGWClientThread::Close(uintptr_t handle) {
  if (handle == 0) return;
  NamedLock lock(mMtxCliCnctList);
  WCOBWClientConnect* connect = Find(handle);
  if (connect == nullptr) return;
  TraceLogF(kLevelProgress, "WCXMLGWClientThread::Close cnct 0x%08" PRIxPTR,
            reinterpret_cast<uintptr_t>(connect));
  mCliCnctList.RemoveAt(reinterpret_cast<WCOBWCliCnctList::Position>(handle));
  delete connect;
}

int32_t WCXMLGWClientThread::TX(uintptr_t handle, WCXMLWireMsg* message) {
  if (handle == 0) return 2;
  {
    NamedLock lock(mMtxCliCnctList);
    WCOBWClientConnect* connect = Find(handle);
    if (connect == nullptr) return 2;
    if (!connect->TXMsg(message)) return 3;
    // Written on the caller's thread when the socket takes it all: waking the client
    // thread for each request and acknowledgement would cost two context switches each.
    if (connect->SendNow()) return 0;
  }
  mWakeEvent.Set();
  return 0;
}

void WCXMLGWClientThread::SetRXHold(uintptr_t handle, bool pause, bool holdSilence) {
  bool released;
  {
    NamedLock lock(mMtxCliCnctList);
    WCOBWClientConnect* connect = Find(handle);
    if (connect == nullptr) return;
    released = connect->IsRXPaused() && !pause;
    connect->SetRXHold(pause, holdSilence);
  }
  // What waited is delivered at once; a change of the silence hold alone leaves the
  // thread asleep.
  if (released) mWakeEvent.Set();
}

void WCXMLGWClientThread::SetTXCork(uintptr_t handle, bool cork) {
  {
    NamedLock lock(mMtxCliCnctList);
    WCOBWClientConnect* connect = Find(handle);
    if (connect == nullptr) return;
    connect->SetTXCork(cork);
    if (cork || connect->SendNow()) return;
  }
  mWakeEvent.Set();
}

uint32_t WCXMLGWClientThread::GetCnctCount() {
  NamedLock lock(mMtxCliCnctList);
  return mCliCnctList.GetCount();
}

bool WCXMLGWClientThread::ServiceAll(bool* answerOwed) {
  NamedLock lock(mMtxCliCnctList);
  bool pending = false;
  *answerOwed = false;
  mWaitSet.Clear();
  for (auto pos = mCliCnctList.GetHeadPosition(); pos != nullptr;) {
    WCOBWClientConnect* connect = mCliCnctList.GetNext(pos);
    const bool sendLeft = connect->Service();
    pending = pending || sendLeft || connect->HasRXMsg();
    *answerOwed = *answerOwed || connect->AnswerOwed();
    mWaitSet.Watch(connect->WatchedPort());
  }
  return pending;
}

// Messages still queued for delivery are handed out on the very next pass: the 25 ms
// pause bounds the wait for news, it is not meant to pace delivery. An answer owed to
// what this pass sent may be spun for first (see AnswerSpin).
void WCXMLGWClientThread::WaitForWork(bool immediate, bool answerOwed) {
  if (immediate || !answerOwed) {
    if (mWaitSet.Wait(mWakeEvent, immediate ? 0 : mPollMs)) mWakeEvent.Reset();
    return;
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const bool spin = mAnswerSpin.ShouldSpin();
  const SpinOutcome outcome = spin ? mWaitSet.Spin(mWakeEvent, AnswerSpin::kSpinUs,
                                                   AnswerSpin::kCrowdedUs)
                                   : SpinOutcome::kNothing;
  const bool ready = outcome == SpinOutcome::kReady;
  if (mWaitSet.Wait(mWakeEvent, ready ? 0 : mPollMs)) mWakeEvent.Reset();
  const auto took = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  const auto answerUs = static_cast<uint32_t>(took.count());
  if (spin) {
    mAnswerSpin.NoteSpun(outcome, answerUs);
  } else {
    mAnswerSpin.NoteSlept(answerUs);
  }
}

void WCXMLGWClientThread::DeleteAll() {
  NamedLock lock(mMtxCliCnctList);
  mCliCnctList.DeleteAll();
}

// A connection's poll handles running out of memory itself (its port closes); out of
// memory while watching or waiting, the pass ends and the next one follows the pause.
void WCXMLGWClientThread::RunPass() {
  try {
    bool answerOwed;
    const bool pending = ServiceAll(&answerOwed);
    WaitForWork(pending, answerOwed);
  } catch (const std::bad_alloc&) {
    TraceLog(kLevelFailure, "WCXMLGWClientThread::Run out of memory");
    SleepMs(mPollMs);
  }
}

uint32_t WCXMLGWClientThread::Run() {
  TraceLog(kLevelThread, "WCXMLGWClientThread::Run thread started");
  if (!mWakeEvent.IsValid()) {
    // Without the event the thread still polls every 25 ms; sends just wait for the pass.
    TraceLog(kLevelFailure, "WCXMLGWClientThread::Run wake event failed");
  }
  SetPriority(kHighestPriority);
  while (IsStopRequested() == 0) RunPass();
  DeleteAll();
  TraceLog(kLevelThread, "WCXMLGWClientThread::Run thread terminated");
  return 0;
}

}  // namespace owc
