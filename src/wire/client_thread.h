// SPDX-License-Identifier: MIT
// The one thread that drives every wire connection of the module: each pass checks,
// sends, reads and delivers the received messages of every connection, then waits up to
// 25 ms. A message queued for sending is written at once by the queuing thread when the
// connection is up and the socket takes it whole; otherwise it ends the wait, as does a
// watched socket turning readable, so answers are read and sent at once. When a pass
// wrote what the messages it delivered called for, the answer is spun for briefly before
// the wait, where that brings answers sooner (see AnswerSpin).
//
// Thread rules: Open, Close, TX and GetCnctCount may be called from any thread. The
// list lock is held for a whole pass, so receive callbacks run with it held: a callback
// must return promptly and must not wait for a thread that calls into the wire client
// (TX from the callback itself proceeds: the lock is recursive).
#ifndef OWCLIENT_WIRE_CLIENT_THREAD_H
#define OWCLIENT_WIRE_CLIENT_THREAD_H

#include <cstdint>
#include <vector>

#include "owclient/owclient.h"
#include "platform/wake_event.h"
#include "runtime/named_mutex.h"
#include "runtime/worker_thread.h"
#include "transport/port_wait.h"
#include "wire/answer_spin.h"
#include "wire/client_connect.h"

namespace owc {

class WCXMLGWClientThread : public WorkerThread {
 public:
  static constexpr uint32_t kPollMs = 25;
  static constexpr int kHighestPriority = 2;

  WCXMLGWClientThread() = default;
  ~WCXMLGWClientThread() override;

  // Creates a connection and starts its non-blocking connect on the caller's thread.
  // Returns its handle (never 0), or 0 on failure.
  uintptr_t Open(uint32_t address, OrbrixWireRXCallback callback, uintptr_t userValue);
  // Destroys the connection; 0 and handles that are not open are ignored.
  void Close(uintptr_t handle);
  // 0 = queued (the message is taken), 2 = no such connection, 3 = queuing failed.
  int32_t TX(uintptr_t handle, WCXMLWireMsg* message);
  // See WCOBWClientConnect::SetRXHold; handles that are not open are ignored. A pause
  // takes effect before this returns: no message is delivered after it.
  void SetRXHold(uintptr_t handle, bool pause, bool holdSilence);
  // See WCOBWClientConnect::SetTXCork; handles that are not open are ignored. Uncorked,
  // what was queued meanwhile is written on the caller's thread as TX would.
  void SetTXCork(uintptr_t handle, bool cork);
  uint32_t GetCnctCount();

 protected:
  uint32_t Run() override;
  // Test seams: a long poll shows what would otherwise wait for it (set before Start);
  // a wake lets a stop requested meanwhile end the wait.
  void SetPollMs(uint32_t pollMs) { mPollMs = pollMs; }
  void Wake() { mWakeEvent.Set(); }

 private:
  // Finds the live connection behind a handle, or nullptr.
  WCOBWClientConnect* Find(uintptr_t handle) OWC_REQUIRES(mMtxCliCnctList);
  // Services every connection, then waits for the next pass.
  void RunPass();
  // One pass over every connection; notes the ports to watch until the next one.
  // answerOwed: a connection wrote what its delivered messages called for.
  bool ServiceAll(bool* answerOwed);
  void WaitForWork(bool immediate, bool answerOwed);
  void DeleteAll();

  // Guards the list and every connection in it.
  NamedMutex mMtxCliCnctList{"WCXMLGWClientThread::mMtxCliCnctList"};
  WCOBWCliCnctList mCliCnctList OWC_GUARDED_BY(mMtxCliCnctList);
  WakeEvent mWakeEvent;

  // Client thread only: the ports watched between passes.
  PortWaitSet mWaitSet;
  uint32_t mPollMs = kPollMs;
  AnswerSpin mAnswerSpin;
};

}  // namespace owc

#endif  // OWCLIENT_WIRE_CLIENT_THREAD_H
