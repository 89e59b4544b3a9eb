// SPDX-License-Identifier: MIT
// Acknowledgement after delivery and back-pressure: the session's side of the delivery
// thread's progress. Blocks are acknowledged as they arrive, or owed until the delivery
// count reaches them; the delivery queue's limit holds the connection's reading.
#include <algorithm>
#include <chrono>
#include <cstdio>

#include "gateway/gateway_session.h"
#include "runtime/trace_log.h"

namespace owc {

bool HOBWThread::QueueAtLimit() { return mHOBQThread.GetQueuedBytes() >= mHOBQThread.GetLimit(); }

// Acknowledging after delivery, a queue that runs ahead of the callback buys nothing: the
// server waits for the ACKs anyway. So a file's blocks are read only a little ahead of the
// callback, which keeps memory and latency to that little.
bool HOBWThread::QueueHolds() {
  const uint64_t queued = mHOBQThread.GetQueuedBytes();
  if (queued >= mHOBQThread.GetLimit()) return true;
  return mAckAfterDelivery && queued >= kAckedQueueBytes;
}

// Reading is held while the queue holds; silence while ACKs are owed or reading is held is
// the session's own, and is not counted by the wire client either. Only the configured
// limit is worth a log line: the bound of acknowledgement after delivery is routine.
void HOBWThread::UpdateHold(bool shuttingDown) {
  uint32_t flags = 0;
  bool atLimit = false;
  if (!shuttingDown && mWireHandle != kWireHandleInvalid) {
    atLimit = QueueAtLimit();
    if (atLimit || QueueHolds()) flags |= kHoldReading | kHoldSilence;
    if (!mOwedAcks.empty()) flags |= kHoldSilence;
  }
  bool heldByCallback;  // the wire client is held whatever mHoldFlags says
  {
    NamedLock lock(mMtxRXMsgQ);
    heldByCallback = mRXQueueHeld && mRXMsgQ.GetCount() < kRXMsgQLimit;
    if (heldByCallback) mRXQueueHeld = false;
  }
  if (mWireHandle == kWireHandleInvalid) {
    mHoldFlags = flags;
    mHeldAtLimit = false;
    return;
  }
  if (atLimit != mHeldAtLimit) {
    mHeldAtLimit = atLimit;
    TraceLogF(kLevelProgress,
              atLimit
                  ? "HOBWThread::ProcessState delivery queue at its limit of %u bytes, reading "
                    "held"
                  : "HOBWThread::ProcessState delivery queue below its limit of %u bytes, "
                    "reading resumed",
              mHOBQThread.GetLimit());
  }
  if (flags == mHoldFlags && !heldByCallback) return;
  mHoldFlags = flags;
  if (mWire.holdRX != nullptr) mWire.holdRX(mWireHandle, flags);
}

void HOBWThread::AckBlock(uint32_t number, bool last, uint64_t after) {
  if (mAckAfterDelivery) {
    mState = OBW_STATE_RECEIVING;  // until the last block's ACK is sent
    mOwedAcks.push_back(OwedAck{after, number, last});
    return;
  }
  mState = last ? OBW_STATE_RQST_START : OBW_STATE_RECEIVING;
  if (last) {
    TickTime now;
    now.SetNow();
    CountFile(now);
  }
  if (!SendBlockAck(number)) mState = OBW_STATE_TERMINATE;
}

bool HOBWThread::SendBlockAck(uint32_t number) {
  char text[16];
  std::snprintf(text, sizeof text, "%u", number);
  if (TXRqstAck(text, nullptr)) return true;
  TraceLog(kLevelFailure, "HOBWThread::ProcessStateAux TXRqstAck block failed");
  return false;
}

// A file is counted once, when its last block is acknowledged: on receipt by default, after
// delivery otherwise.
void HOBWThread::CountFile(const TickTime& now) {
  if (mFileCounted) return;
  mFileCounted = true;
  mLastFile = now;
  NamedLock lock(mMtxHOBWStats);
  ++mStats.mFilesTotal;
  ++mStats.mFilesToday;
}

void HOBWThread::SendDeliveredAcks(const TickTime& now) {
  if (mOwedAcks.empty()) return;
  uint64_t delivered = mHOBQThread.GetDeliveredCount();
  while (!mOwedAcks.empty() && mOwedAcks.front().after <= delivered) {
    OwedAck ack = mOwedAcks.front();
    mOwedAcks.pop_front();
    if (!SendBlockAck(ack.number)) {
      mState = OBW_STATE_TERMINATE;
      mOwedAcks.clear();
      return;
    }
    if (ack.last) {
      CountFile(now);
      if (mState == OBW_STATE_RECEIVING) mState = OBW_STATE_RQST_START;
    }
  }
}

// The wait is taken on the real clock: it is the application's own, like a sleep.
int HOBWThread::Drain(uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  constexpr auto kSlice = std::chrono::milliseconds(50);  // bounds a wake-up lost to a
                                                          // concurrent Drain's reset
  Event& delivered = mHOBQThread.GetDeliveredEvent();
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    delivered.Reset();
    if (!mRunning.load()) return 2;
    if (mHOBQThread.IsIdle()) return 0;
    Clock::time_point now = Clock::now();
    if (now >= deadline) return 1;
    auto wait = std::min<Clock::duration>(deadline - now, kSlice);
    delivered.WaitFor(static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(wait).count() + 1));
  }
}

}  // namespace owc
