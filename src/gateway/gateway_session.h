// SPDX-License-Identifier: MIT
// The gateway session: a thread that keeps one logical session with a wire server alive
// while the application wants stories. It connects through the wire client, logs in
// (resuming a session id when it has one), sends its filter, requests stories one file
// at a time and acknowledges every file announcement and block; each block is copied to
// the delivery thread it owns. Silence and errors lead to the stop state, a 16 s pause
// and a fresh start that resumes the session id.
//
// With acknowledgement after delivery, a block's ACK waits until the delivery thread has
// counted the block's callback as returned; the delivery thread wakes the session after
// every delivery, and the session sends the ACKs that are due, in order, at each pass.
// While the session waits for its own delivery (ACKs owed) or the delivery queue holds
// its byte limit, the server's silence is the session's own doing and is not counted; at
// the limit the session also stops taking received messages and holds its connection's
// reading, so that the server is held back by TCP. Acknowledging after delivery, it does
// the same from kAckedQueueBytes on, far below the default limit.
//
// Threads: the configuration setters are for a stopped session (application thread, no
// lock); Start/Stop, SetShutdownParams, GetStats and Drain may be called from any thread;
// RXCallback runs on the wire-client thread and DeliveredHook on the delivery thread.
// The session's steps run with mMtxSession held: on the session thread (its passes, its
// start and its shut-down), and, when that lock is free, right where the news comes from:
// on the wire-client thread after a message arrives, on the delivery thread after a
// delivery it waits for. That saves the session thread's wake-up, two context switches per
// message. Those two threads only try the lock (the wire-client thread holds its
// connection list, which a step takes to send): when it is taken, they queue and wake the
// session thread as before. A step there never opens or closes a connection; a DONE, the
// start and the stop states are left to the session thread. mMtxSession comes before the
// wire client's and the delivery queue's locks; mMtxRXMsgQ, mMtxHOBWStats and
// mMtxShutdownParams are never held together, nor across a call into the wire client or
// the delivery thread.
#ifndef OWCLIENT_GATEWAY_GATEWAY_SESSION_H
#define OWCLIENT_GATEWAY_GATEWAY_SESSION_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>

#include "gateway/delivery_queue.h"
#include "gateway/wire_ops.h"
#include "owclient/owclient.h"
#include "owclient/wire_messages.h"
#include "platform/event.h"
#include "runtime/named_mutex.h"
#include "runtime/tick_time.h"
#include "runtime/worker_thread.h"
#include "wire/wire_msg_queue.h"

namespace owc {

enum HOBWState : uint32_t {
  OBW_STATE_START = 0,
  OBW_STATE_WAIT_HELLO = 1,
  OBW_STATE_USER_SEND = 2,
  OBW_STATE_WAIT_USER_ACK = 3,
  OBW_STATE_FILTER_SEND = 4,
  OBW_STATE_WAIT_FILTER_ACK = 5,
  OBW_STATE_RQST_START = 6,
  OBW_STATE_WAIT_RQST = 7,
  OBW_STATE_RECEIVING = 8,
  OBW_STATE_TERMINATE = 9,
  OBW_STATE_STOP = 10,
};

// The wire handle that designates no connection.
constexpr uintptr_t kWireHandleInvalid = 0;

class HOBWThread : public WorkerThread {
 public:
  static constexpr uint32_t kHeartbeatMs = 8000;
  static constexpr uint32_t kAuthorizationTimeoutMs = 16000;
  static constexpr uint32_t kConnectedTimeoutMs = 12000;
  static constexpr uint32_t kStopPauseMs = 16000;
  static constexpr uint32_t kDoneWaitMs = 12000;
  // The main loop pauses once after every 21 passes.
  static constexpr uint32_t kPassesBeforePause = 20;
  static constexpr uint32_t kPauseMs = 10;
  static constexpr int kSessionPriority = 2;  // highest
  // Received messages the session has not taken yet. Past it the receive callback holds the
  // connection's reading itself: a session thread that falls behind a fast server (or
  // stops taking at the delivery limit) must not let the wire client pile messages up.
  static constexpr uint32_t kRXMsgQLimit = 32;
  // Acknowledging after delivery, the queue's bound when the configured limit is higher:
  // sixteen blocks of the largest size.
  static constexpr uint32_t kAckedQueueBytes = 16u * 65536u;

  // The UTC hour (0..23) that drives the daily statistics reset.
  using HourSource = int (*)();

  // wire: the wire-client functions the session calls; all three must be set.
  explicit HOBWThread(const WireOps& wire);
  ~HOBWThread() override;

  // Configuration; for a stopped session.
  void SetCallback(HOBWCallback callback, uintptr_t user);
  // False when the mode's template or translation table is refused.
  bool SetOutputMode(uint32_t mode, const char* tmpl, uint32_t tmplLen, const char* xlate,
                     uint32_t xlateLen);
  // IPv4 address in host byte order.
  void SetServer(uint32_t address);
  // Resume this session id at the next login.
  void SetSession(uint32_t sessionID);
  void SetHourSource(HourSource source) { mHourSource = source; }
  // HOBW_* option bits (owclient.h).
  void SetOptions(uint32_t options) { mOptions = options; }
  // The delivery queue's byte limit, also the limit of a story file joined for rendering;
  // 0 restores the default.
  void SetQueueLimit(uint32_t maxBytes) { mHOBQThread.SetLimit(maxBytes); }

  // Start for the session: a Drain right after it finds the session running.
  bool StartSession() {
    mRunning.store(true);
    if (Start(false)) return true;
    mRunning.store(false);
    return false;
  }

  // While held, no further file is requested (HOBWHoldRequests). Any thread.
  void HoldRequests(bool hold) { mRequestsHeld.store(hold); }

  // Waits until every queued block was delivered: 0, 1 after timeoutMs, 2 when the
  // session is not running or stops meanwhile. Any thread but the delivery thread.
  int Drain(uint32_t timeoutMs);

  // Whether the shut-down sends DONE; the caller then uses Stop(true).
  void SetShutdownParams(bool sendDone);
  // Copies the statistics out, then clears their messages-lost flag.
  void GetStats(HOBWStats* stats);

  // The receive callback handed to the wire client, user being the HOBWThread. Takes
  // ownership of msg. Wire-client thread.
  static void RXCallback(WCXMLWireMsg* msg, uintptr_t user);
  // Handed to the delivery thread, user being the HOBWThread: runs the session's step when
  // the session waits for a delivery. Delivery thread, no lock held.
  static void DeliveredHook(uintptr_t user);

 protected:
  uint32_t Run() override;

  // The parts of Run, in order: BeginRun once, RunPass and Pace until a stop is
  // requested, ShutDown once. A test may drive them on its own thread instead of
  // starting the session.
  void BeginRun();
  void RunPass();
  void Pace();
  void ShutDown();
  // Off, every step waits for the session thread's pass, as a test of the passes needs;
  // set before BeginRun.
  void SetStepsElsewhere(bool on) { mStepsElsewhere = on; }
  // Whether the next pass, without a message or a delivery, would only wait: the state
  // waits for the server (or the stop pause) or for the delivery queue to drain, and no
  // message is queued.
  bool NothingToDo();

  // Handles every queued message, then makes one pass without a message. Away from the
  // session thread (elsewhere) it stops before a DONE and returns false: closing the
  // connection is the session thread's.
  bool ProcessState(bool shuttingDown, bool elsewhere = false);
  // One step of the state machine; msg may be null. A block message is taken (by the
  // delivery queue), any other stays the caller's.
  void ProcessStateAux(std::unique_ptr<WCXMLWireMsg>& msg, bool shuttingDown);
  bool IsConnected() const;

  // Each true when the wire client took the request (or none was due).
  bool TXUser();
  bool TXFilter();
  bool TXRqst();
  bool TXRqstAck(const char* first, const char* second);
  bool TXHeartbeat();
  bool TXDone();

  uint32_t GetState() const { return mState; }
  void ForceState(uint32_t state) { mState = state; }
  bool HasSession() const { return mHaveSession == 1; }
  uint32_t GetSessionID() const { return mSessionID; }
  bool IsDoneSent() const { return mDoneSent == 1; }
  uintptr_t GetWireHandle() const { return mWireHandle; }
  bool AcksAfterDelivery() const { return mAckAfterDelivery; }
  uint64_t GetQueuedBytes() { return mHOBQThread.GetQueuedBytes(); }
  const HOBWBlockQElt& GetBlockInfo() const { return cbInfo; }

 private:
  template <class Msg, class Build>
  bool SendRequest(bool needsSession, Build build);
  // The scope of one step's requests, which go out in one write (see gateway_states.cc).
  class TXCork {
   public:
    explicit TXCork(HOBWThread& session);
    ~TXCork();
    TXCork(const TXCork&) = delete;
    TXCork& operator=(const TXCork&) = delete;

   private:
    HOBWThread& mSession;
  };

  // Pass steps.
  void StopStateStep(const TickTime& now);
  // The shut-down's DONE (when asked for and a session runs) and the wait for its answer.
  void SayDone();
  void DailyReset();
  void UpdatePassStats(const TickTime& now);
  void CheckTimeouts(const TickTime& now);
  void ActOnState(const TickTime& now);
  void OpenConnection(const TickTime& now);
  void SendStateRequest(bool (HOBWThread::*request)(), const char* entering, const char* failure,
                        uint32_t next);
  void HandleMessage(std::unique_ptr<WCXMLWireMsg>& msg, const TickTime& now);

  // Message handlers.
  void OnHello(const WCXMLWireMsg& msg);
  void OnUserAck(const WCXMLWireMsg& msg);
  void OnFilterAck(const WCXMLWireMsg& msg);
  void OnRequestAck(const WCXMLWireMsg& msg);
  void OnFile(const WCXMLWireMsgRequestFileAck& msg, const TickTime& now);
  void OnBlock(const WCXMLWireMsgRequestBlockAck& msg, std::unique_ptr<WCXMLWireMsg>& owner,
               const TickTime& now);
  void OnDone(const TickTime& now);
  // Whether an announcement continues, on a resumed session's new connection, the file
  // whose blocks were queued last; such a file's blocks below mQueuedThrough are repeats.
  bool ContinuesQueuedFile(const WCXMLWireMsgRequestFileAck& msg) const;
  // Acknowledges a block queued already on an earlier connection, without queuing it again.
  void OnRepeatedBlock(uint32_t number, bool last);
  // Acknowledges a block, or owes its ACK until the delivery count reaches after.
  void AckBlock(uint32_t number, bool last, uint64_t after);
  bool SendBlockAck(uint32_t number);
  // Sends the owed ACKs whose blocks were delivered; the last block's ACK ends the file.
  void SendDeliveredAcks(const TickTime& now);
  void CountFile(const TickTime& now);
  // Back-pressure: whether the delivery queue holds its limit, and the connection hold
  // that follows from it and from owed ACKs.
  bool QueueAtLimit();
  // Whether the session takes no message, asks for no file and holds reading: at the
  // limit, and acknowledging after delivery also from kAckedQueueBytes on.
  bool QueueHolds();
  void UpdateHold(bool shuttingDown);
  bool WaitsForDelivery() const { return mHoldFlags != 0 || !mOwedAcks.empty(); }

  // The step on a thread other than the session's, when mMtxSession is free and the state
  // allows: true when it ran whole, false when the session thread must run it.
  bool StepElsewhere(bool afterDelivery);
  bool MayStepElsewhere() const;
  bool RunStepElsewhere();
  // Whether a delivery changes anything for the session: owed ACKs, a hold, messages or a
  // request waiting for the queue to drain.
  bool WaitsForADelivery();

  // The oldest received message, or null; with leaveDone a DONE at the head stays.
  WCXMLWireMsg* TakeRXMsg(bool leaveDone = false, bool* doneLeft = nullptr);
  void ClearRXMsgQ();
  void CloseWire();
  void ForgetSession();
  void ClearBlockInfo();
  bool IsDoneRequested();

  HOBWQueueThread mHOBQThread;
  const WireOps mWire;
  uint32_t mServerAddress = 0;
  // The current block: the names (new[]) are owned and stay from the file announcement;
  // the data points into the block message being handled. The name is the described one
  // (the log lines quote it).
  HOBWBlockQElt cbInfo{};  // NOLINT(readability-identifier-naming)

  // Held by whichever thread runs a step of the session (see the threads above).
  NamedMutex mMtxSession{"HOBWThread::mMtxSession"};

  NamedMutex mMtxHOBWStats{"HOBWThread::mMtxHOBWStats"};
  HOBWStats mStats OWC_GUARDED_BY(mMtxHOBWStats){};
  uint8_t mDailyResetDone = 0;  // session thread only

  NamedMutex mMtxRXMsgQ{"HOBWThread::mMtxRXMsgQ"};
  WCXMLWireMsgQ mRXMsgQ OWC_GUARDED_BY(mMtxRXMsgQ);
  // Set by RXCallback when it held the connection; UpdateHold releases it.
  bool mRXQueueHeld OWC_GUARDED_BY(mMtxRXMsgQ) = false;
  // The open connection, for RXCallback's hold (mWireHandle is the steps', under
  // mMtxSession, which RXCallback only tries).
  std::atomic<uintptr_t> mRXHandle{kWireHandleInvalid};
  // Set by RXCallback: ends the main loop's pause early, so a story's latency does not
  // depend on it.
  Event mRXWake;

  NamedMutex mMtxShutdownParams{"HOBWThread::mMtxShutdownParams"};
  uint8_t mSendDoneOnStop OWC_GUARDED_BY(mMtxShutdownParams) = 0;

  uintptr_t mWireHandle = kWireHandleInvalid;
  uint32_t mState = OBW_STATE_START;
  TickTime mLastHeartbeat;
  TickTime mLastReceive;
  TickTime mLastFile;
  uint8_t mDoneSent = 0;
  uint8_t mHaveSession = 0;
  uint32_t mSessionID = 0;

  // Repeats after a resumption: a server that did not see the acknowledgement of a block
  // before the connection broke sends that block again. Within one run (the delivery
  // thread keeps every queued block), the session delivers each block of a file once.
  uint32_t mQueuedThrough = 0;   // blocks of cbInfo's file queued in this run: 0..n-1
  uint32_t mRepeatsBelow = 0;    // blocks of the current announcement already queued
  bool mResumedSession = false;  // the last USER answer confirmed the id we asked for
  bool mFirstFileOfConnection = false;

  // Acknowledgement after delivery; mOptions is configuration, the rest the run's own.
  struct OwedAck {
    uint64_t after;  // the delivery count at which the ACK is due
    uint32_t number;
    bool last;
  };
  uint32_t mOptions = 0;
  bool mAckAfterDelivery = false;
  std::deque<OwedAck> mOwedAcks;  // of the open connection, oldest first
  bool mFileCounted = false;      // the current file's last ACK counted it already
  uint32_t mHoldFlags = 0;        // kHoldReading/kHoldSilence set on the open connection
  bool mHeldAtLimit = false;      // the hold at the configured limit was logged
  std::atomic<bool> mRunning{false};
  bool mStepsElsewhere = true;
  bool mCorkSends = false;                 // within a step: the first request corks
  uintptr_t mCorked = kWireHandleInvalid;  // the connection corked by this step
  std::atomic<bool> mRequestsHeld{false};  // the application's, kept across runs

  // Run's own: the stop state's step and start, the passes since the last pause.
  uint32_t mStopStep = 0;
  TickTime mStopBegin;
  uint32_t mPassCounter = 0;
  HourSource mHourSource;
};

}  // namespace owc

#endif  // OWCLIENT_GATEWAY_GATEWAY_SESSION_H
