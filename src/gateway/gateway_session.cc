// SPDX-License-Identifier: MIT
#include "gateway/gateway_session.h"

#include <new>

#include "platform/platform_time.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

int UtcHourNow() { return UtcCalendarNow().hour; }

}  // namespace

HOBWThread::HOBWThread(const WireOps& wire) : mWire(wire), mHourSource(&UtcHourNow) {
  mHOBQThread.SetDeliveryHook(&HOBWThread::DeliveredHook, reinterpret_cast<uintptr_t>(this));
}

HOBWThread::~HOBWThread() {
  Stop(true);
  mHOBQThread.Stop(true);  // its hook reaches this object's lock, which goes first
  ClearBlockInfo();
}

void HOBWThread::SetCallback(HOBWCallback callback, uintptr_t user) {
  mHOBQThread.SetCallback(callback, user);
}

bool HOBWThread::SetOutputMode(uint32_t mode, const char* tmpl, uint32_t tmplLen, const char* xlate,
                               uint32_t xlateLen) {
  return mHOBQThread.SetOutputMode(mode, tmpl, tmplLen, xlate, xlateLen);
}

void HOBWThread::SetServer(uint32_t address) { mServerAddress = address; }

void HOBWThread::SetSession(uint32_t sessionID) {
  mHaveSession = 1;
  mSessionID = sessionID;
  NamedLock lock(mMtxHOBWStats);
  mStats.mSessionValid = 1;
  mStats.mSessionID = sessionID;
}

void HOBWThread::SetShutdownParams(bool sendDone) {
  NamedLock lock(mMtxShutdownParams);
  mSendDoneOnStop = sendDone ? 1 : 0;
}

bool HOBWThread::IsDoneRequested() {
  NamedLock lock(mMtxShutdownParams);
  return mSendDoneOnStop != 0;
}

void HOBWThread::GetStats(HOBWStats* stats) {
  NamedLock lock(mMtxHOBWStats);
  *stats = mStats;
  mStats.mMessagesLost = 0;
}

void HOBWThread::RXCallback(WCXMLWireMsg* msg, uintptr_t user) {
  auto* self = reinterpret_cast<HOBWThread*>(user);
  if (msg == nullptr) return;
  if (self == nullptr) {
    delete msg;
    return;
  }
  // "(204) No content" only leads to the next request: it waits for the pass after the
  // pause instead of cutting the pause short, so an idle session asks about once per
  // pause rather than once per round trip. Read before queuing: the session thread may
  // delete the message as soon as it is queued.
  const bool nothingWaiting = msg->GetType() == WCXMLWireMsg::kTypeRequest &&
                              msg->GetStatus() == WCXMLWireMsg::kStatusNoContent;
  bool added;
  bool full;
  {
    NamedLock lock(self->mMtxRXMsgQ);
    added = self->mRXMsgQ.AddMsg(msg);
    full = self->mRXMsgQ.GetCount() >= kRXMsgQLimit;
    if (full) self->mRXQueueHeld = true;
  }
  if (!added) delete msg;
  // On the wire-client thread, within its pass: no further message comes until released.
  const uintptr_t handle = self->mRXHandle.load();
  if (full && self->mWire.holdRX != nullptr && handle != kWireHandleInvalid) {
    self->mWire.holdRX(handle, kHoldReading | kHoldSilence);
  }
  if (nothingWaiting) return;
  if (!self->StepElsewhere(false)) self->mRXWake.Set();
}

void HOBWThread::DeliveredHook(uintptr_t user) {
  auto* self = reinterpret_cast<HOBWThread*>(user);
  if (!self->StepElsewhere(true)) self->mRXWake.Set();
}

// Only tried: the wire-client thread holds its connection list here, and the session
// thread, holding mMtxSession, may be waiting for that list to send.
bool HOBWThread::StepElsewhere(bool afterDelivery) {
  if (!mMtxSession.TryLock()) return false;
  bool ran = true;
  if (!afterDelivery || WaitsForADelivery()) ran = MayStepElsewhere() && RunStepElsewhere();
  mMtxSession.Unlock();
  return ran;
}

// Opening and closing a connection stay on the session thread: the wire client cannot
// change its connection list from within its own delivery.
bool HOBWThread::MayStepElsewhere() const {
  return mStepsElsewhere && mRunning.load() && mWireHandle != kWireHandleInvalid &&
         mState != OBW_STATE_START && mState != OBW_STATE_STOP;
}

bool HOBWThread::WaitsForADelivery() {
  if (WaitsForDelivery() || mState == OBW_STATE_RQST_START) return true;
  NamedLock lock(mMtxRXMsgQ);
  return !mRXMsgQ.IsEmpty();
}

// Out of memory, as in a pass: the stop state, run by the session thread, closes.
bool HOBWThread::RunStepElsewhere() {
  try {
    return ProcessState(false, true);
  } catch (const std::bad_alloc&) {
    TraceLog(kLevelFailure, "HOBWThread::Run out of memory, ending the connection");
    if (mState != OBW_STATE_STOP) mState = OBW_STATE_TERMINATE;
    return false;
  }
}

WCXMLWireMsg* HOBWThread::TakeRXMsg(bool leaveDone, bool* doneLeft) {
  NamedLock lock(mMtxRXMsgQ);
  if (mRXMsgQ.IsEmpty()) return nullptr;
  if (leaveDone && mRXMsgQ.GetAt(mRXMsgQ.GetHeadPosition())->GetType() == WCXMLWireMsg::kTypeDone) {
    *doneLeft = true;
    return nullptr;
  }
  return mRXMsgQ.RemoveHead();
}

// Called with the connection closed, whose hold went with it.
void HOBWThread::ClearRXMsgQ() {
  NamedLock lock(mMtxRXMsgQ);
  mRXMsgQ.DeleteAll();
  mRXQueueHeld = false;
}

// ACKs owed on a closed connection are never sent: the server sends those blocks again
// on the resumed session, and their repeats are acknowledged once delivered.
void HOBWThread::CloseWire() {
  // A DONE belongs to the connection it was sent on: one left unanswered must not make a
  // later shut-down skip its own DONE or wait for an answer that cannot come.
  mDoneSent = 0;
  mOwedAcks.clear();
  mHoldFlags = 0;
  mHeldAtLimit = false;
  mRXHandle.store(kWireHandleInvalid);
  if (mWireHandle == kWireHandleInvalid) return;
  mWire.close(mWireHandle);
  mWireHandle = kWireHandleInvalid;
}

void HOBWThread::ForgetSession() {
  mHaveSession = 0;
  mSessionID = 0;
  NamedLock lock(mMtxHOBWStats);
  mStats.mSessionValid = 0;
  mStats.mSessionID = 0;
}

void HOBWThread::ClearBlockInfo() {
  delete[] cbInfo.mFName;
  delete[] cbInfo.mParentFName;
  cbInfo = HOBWBlockQElt{};
}

uint32_t HOBWThread::Run() {
  BeginRun();
  while (IsStopRequested() == 0) {
    RunPass();
    Pace();
  }
  ShutDown();
  return 0;
}

void HOBWThread::BeginRun() {
  NamedLock session(mMtxSession);
  TraceLog(kLevelProgress, "HOBWThread::Run thread started");
  ClearRXMsgQ();
  // Blocks queued in an earlier run may have been discarded at its stop: nothing is a
  // repeat of them.
  mQueuedThrough = 0;
  mRepeatsBelow = 0;
  mState = OBW_STATE_START;
  mStopStep = 0;
  mPassCounter = 0;
  mDoneSent = 0;
  // Mode 1 delivers no raw block: the story's HTML needs both files, and the server sends
  // the second only once the first is acknowledged.
  mAckAfterDelivery = (mOptions & HOBW_ACK_AFTER_DELIVERY) != 0 &&
                      mHOBQThread.GetMode() != HOBWQueueThread::kModeHTML;
  mHOBQThread.SetSpinForOwedBlocks(mAckAfterDelivery);
  mOwedAcks.clear();
  mFileCounted = false;
  mHoldFlags = 0;
  mHeldAtLimit = false;
  mHOBQThread.ResetCounts();
  mRunning.store(true);
  mHOBQThread.Start(false);
  SetPriority(kSessionPriority);
}

// Memory running out in a pass ends the connection as a failed request does: the stop
// state closes it, and the session connects anew after its pause.
void HOBWThread::RunPass() {
  NamedLock session(mMtxSession);
  try {
    TickTime now;
    now.SetNow();
    if (mState == OBW_STATE_STOP) StopStateStep(now);
    DailyReset();
    UpdatePassStats(now);
    ProcessState(false);
  } catch (const std::bad_alloc&) {
    TraceLog(kLevelFailure, "HOBWThread::Run out of memory, ending the connection");
    if (mState != OBW_STATE_STOP) mState = OBW_STATE_TERMINATE;
  }
}

// The pause waits on mRXWake, not a plain sleep: a message queued meanwhile ends it
// (all but an empty RQST answer, see RXCallback), and so does a delivery. A pass that
// found nothing to do pauses at once: the next pass could only repeat it before a message
// or a delivery comes, and both end the pause.
void HOBWThread::Pace() {
  bool idle;
  {
    NamedLock session(mMtxSession);
    idle = NothingToDo();
  }
  if (mPassCounter > kPassesBeforePause || idle) {
    mRXWake.WaitFor(kPauseMs);
    mRXWake.Reset();
    mPassCounter = 0;
  }
  ++mPassCounter;
}

bool HOBWThread::NothingToDo() {
  switch (mState) {
    case OBW_STATE_WAIT_HELLO:
    case OBW_STATE_WAIT_USER_ACK:
    case OBW_STATE_WAIT_FILTER_ACK:
    case OBW_STATE_WAIT_RQST:
    case OBW_STATE_RECEIVING:
    case OBW_STATE_STOP:
      break;
    case OBW_STATE_RQST_START:
      if (!QueueHolds() && !mRequestsHeld.load()) return false;
      break;
    default:
      return false;
  }
  if (QueueHolds()) return true;  // the queued messages wait for a delivery
  NamedLock lock(mMtxRXMsgQ);
  return mRXMsgQ.IsEmpty();
}

void HOBWThread::StopStateStep(const TickTime& now) {
  switch (mStopStep) {
    case 0:
      TraceLog(kLevelProgress, "HOBWThread::Run OBW_STATE_STOP/begin");
      if (mWireHandle != kWireHandleInvalid) {
        CloseWire();
        ClearRXMsgQ();
      }
      mDoneSent = 0;
      {
        NamedLock lock(mMtxHOBWStats);
        mStats.mConnected = 0;
      }
      mStopBegin = now;
      mStopStep = 1;
      break;
    case 1:
      if (mStopBegin + kStopPauseMs < now) mStopStep = 2;
      break;
    default:
      TraceLog(kLevelProgress, "HOBWThread::Run OBW_STATE_STOP/end");
      mState = OBW_STATE_START;
      mStopStep = 0;
      break;
  }
}

void HOBWThread::DailyReset() {
  int hour = mHourSource();
  if (mDailyResetDone == 0 && hour == 0) {
    mDailyResetDone = 1;
    NamedLock lock(mMtxHOBWStats);
    mStats.mFilesToday = 0;
    mStats.mMaxSecsBetweenFiles = 0;
  } else if (mDailyResetDone == 1 && hour == 23) {
    mDailyResetDone = 0;
  }
}

void HOBWThread::UpdatePassStats(const TickTime& now) {
  uint32_t queued = mHOBQThread.GetQueueCount();
  NamedLock lock(mMtxHOBWStats);
  if (mLastFile.GetSeconds() <= now.GetSeconds()) {
    mStats.mSecsSinceLastFile = now.GetSeconds() - mLastFile.GetSeconds();
    if (mStats.mMaxSecsBetweenFiles < mStats.mSecsSinceLastFile) {
      mStats.mMaxSecsBetweenFiles = mStats.mSecsSinceLastFile;
    }
  }
  mStats.mQueueLen = queued;
}

void HOBWThread::SayDone() {
  UpdateHold(true);  // the answer to DONE must get through
  if (mWireHandle != kWireHandleInvalid && mHaveSession == 1 && mDoneSent == 0) {
    TraceLog(kLevelProgress, "HOBWThread::Run shutdown sending TXDone");
    TXDone();
  }
  TraceLog(kLevelProgress, "HOBWThread::Run shutdown waiting for done ack");
  TickTime waitStart;
  waitStart.SetNow();
  for (;;) {
    ProcessState(true);
    TickTime now;
    now.SetNow();
    if (mDoneSent == 0 || waitStart + kDoneWaitMs < now) break;
    mRXWake.WaitFor(1);
    mRXWake.Reset();
  }
}

void HOBWThread::ShutDown() {
  NamedLock session(mMtxSession);
  TraceLog(kLevelProgress, "HOBWThread::Run shutdown starting");
  mRunning.store(false);  // what is queued is about to be discarded
  try {
    SayDone();
  } catch (const std::bad_alloc&) {
    // The server, not told, keeps the session for a resumption.
    TraceLog(kLevelFailure, "HOBWThread::Run out of memory, shutdown without done");
  }
  TraceLog(kLevelProgress, "HOBWThread::Run shutdown closing handle");
  CloseWire();
  TraceLog(kLevelProgress, "HOBWThread::Run shutdown exiting");
  mHOBQThread.Stop(true);
  ForgetSession();
  {
    NamedLock lock(mMtxHOBWStats);
    mStats.mConnected = 0;
    mStats.mQueueLen = 0;
  }
  ClearRXMsgQ();
  // The names of the file last received are not kept past the run: a packed record's
  // pointers are invisible to leak checkers, and the next run starts from an announcement.
  ClearBlockInfo();
  SetShutdownParams(false);
  TraceLog(kLevelProgress, "HOBWThread::Run thread terminated");
}

}  // namespace owc
