// SPDX-License-Identifier: MIT
// The session's state machine: one step per received message, one per pass without.
#include <cstdio>
#include <cstring>
#include <memory>

#include "gateway/gateway_session.h"
#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"
#include "transport/socket_ops.h"

namespace owc {

namespace {

// Longest texts, in characters, of the state-machine lines and of the received-message
// echo: both quote received data.
constexpr size_t kMaxStateLogChars = kMaxTraceCutChars;
constexpr size_t kMaxRXEchoChars = 1023;

constexpr char kBeginFileTransfer[] = "HOBWThread::ProcessStateAux begin file transfer: ";
// The announcement is echoed only while prefix and image stay below this length.
constexpr size_t kMaxFileEchoChars = 2046;

const char* ImageOf(const WCXMLWireMsg& msg) {
  return msg.GetMsgBuf() != nullptr ? msg.GetMsgBuf() : "";
}

// A new[] copy of text, or nullptr for none; failed tells when memory ran out. (The
// copy is returned, not stored through a reference: the record's fields are packed.)
char* CopyName(const char* text, bool& failed) {
  failed = false;
  if (text == nullptr) return nullptr;
  size_t size = std::strlen(text) + 1;
  char* copy = NewArrayOrNull<char>(size);
  if (copy == nullptr) {
    failed = true;
    return nullptr;
  }
  std::memcpy(copy, text, size);
  return copy;
}

}  // namespace

// What one step sends (a block's ACK and the next request, say) goes out in one write:
// the first request of the step corks the connection, the end of the step uncorks it. A
// step that sends nothing, as most of an idle session's are, costs nothing.
HOBWThread::TXCork::TXCork(HOBWThread& session) : mSession(session) { mSession.mCorkSends = true; }

HOBWThread::TXCork::~TXCork() {
  mSession.mCorkSends = false;
  if (mSession.mCorked == kWireHandleInvalid) return;
  mSession.mWire.corkTX(mSession.mCorked, false);  // a closed connection is ignored
  mSession.mCorked = kWireHandleInvalid;
}

// At the queue's limit the received messages wait (and, the connection held, the server
// with them) until the delivery thread catches up; a shut-down takes them all.
bool HOBWThread::ProcessState(bool shuttingDown, bool elsewhere) {
  const TXCork cork(*this);
  TickTime now;
  now.SetNow();
  SendDeliveredAcks(now);
  bool doneLeft = false;
  for (;;) {
    if (!shuttingDown && QueueHolds()) break;
    std::unique_ptr<WCXMLWireMsg> msg(TakeRXMsg(elsewhere, &doneLeft));
    if (!msg) break;
    if (msg->GetType() != WCXMLWireMsg::kTypeBlock) {
      TraceLogCut(kLevelProgress, kMaxRXEchoChars, "HOBWThread::ProcessState RX msg %s",
                  ImageOf(*msg));
    }
    ProcessStateAux(msg, shuttingDown);
  }
  // The DONE and the pass after it are the session thread's, in that order.
  if (doneLeft) return false;
  UpdateHold(shuttingDown);
  std::unique_ptr<WCXMLWireMsg> none;
  ProcessStateAux(none, shuttingDown);
  return true;
}

void HOBWThread::ProcessStateAux(std::unique_ptr<WCXMLWireMsg>& msg, bool shuttingDown) {
  if (msg == nullptr && shuttingDown) return;
  TickTime now;
  now.SetNow();
  if (msg != nullptr || WaitsForDelivery()) mLastReceive = now;
  {
    // Until the server's hello arrives, silence in later states does not count.
    NamedLock lock(mMtxHOBWStats);
    if (mStats.mConnected == 0 && mState != OBW_STATE_START && mState != OBW_STATE_WAIT_HELLO) {
      mLastReceive = now;
    }
  }
  CheckTimeouts(now);
  if (IsConnected() && mHaveSession == 1 && !shuttingDown) TXHeartbeat();
  if (msg == nullptr) {
    ActOnState(now);
  } else {
    HandleMessage(msg, now);
  }
}

void HOBWThread::CheckTimeouts(const TickTime& now) {
  if (mState == OBW_STATE_START || mState == OBW_STATE_STOP) return;
  if (mState == OBW_STATE_WAIT_USER_ACK) {
    if (!(mLastReceive + kAuthorizationTimeoutMs < now)) return;
    TraceLog(kLevelProgress, "HOBWThread::ProcessStateAux authorization receive timeout");
    mLastReceive = now;
    mState = OBW_STATE_STOP;
    ForgetSession();  // the next login is a new one
    mDoneSent = 0;
    return;
  }
  if (!(mLastReceive + kConnectedTimeoutMs < now)) return;
  TraceLog(kLevelProgress, "HOBWThread::ProcessStateAux connected receive timeout");
  mLastReceive = now;
  mState = OBW_STATE_STOP;
  mDoneSent = 0;
}

void HOBWThread::ActOnState(const TickTime& now) {
  switch (mState) {
    case OBW_STATE_START:
      OpenConnection(now);
      break;
    case OBW_STATE_USER_SEND:
      SendStateRequest(&HOBWThread::TXUser, "HOBWThread::ProcessStateAux OBW_STATE_USER_SEND",
                       "HOBWThread::ProcessStateAux TXUser failed", OBW_STATE_WAIT_USER_ACK);
      break;
    case OBW_STATE_FILTER_SEND:
      SendStateRequest(&HOBWThread::TXFilter, "HOBWThread::ProcessStateAux OBW_STATE_FILTER_SEND",
                       "HOBWThread::ProcessStateAux TXFilter failed", OBW_STATE_WAIT_FILTER_ACK);
      break;
    case OBW_STATE_RQST_START:
      // No file is asked for until the queue drains, nor while the application holds.
      if (QueueHolds() || mRequestsHeld.load()) break;
      SendStateRequest(&HOBWThread::TXRqst, "HOBWThread::ProcessStateAux OBW_STATE_RQST_START",
                       "HOBWThread::ProcessStateAux TXRqst failed", OBW_STATE_WAIT_RQST);
      break;
    case OBW_STATE_TERMINATE:
      TraceLog(kLevelProgress, "HOBWThread::ProcessStateAux OBW_STATE_TERMINATE");
      TXDone();
      mState = OBW_STATE_STOP;
      break;
    case OBW_STATE_STOP: {
      NamedLock lock(mMtxHOBWStats);
      mStats.mConnected = 0;
      break;
    }
    case OBW_STATE_WAIT_HELLO:
    case OBW_STATE_WAIT_USER_ACK:
    case OBW_STATE_WAIT_FILTER_ACK:
    case OBW_STATE_WAIT_RQST:
    case OBW_STATE_RECEIVING:
      break;
    default:
      TraceLogF(kLevelFailure, "HOBWThread::ProcessStateAux invalid state %d",
                static_cast<int>(mState));
      break;
  }
}

// Silence in the hello wait is counted from here, not from an earlier session's last
// message, so a late or repeated start does not time out at once.
void HOBWThread::OpenConnection(const TickTime& now) {
  TraceLog(kLevelProgress, "HOBWThread::ProcessStateAux OBW_STATE_START");
  TraceLogF(kLevelProgress, "HOBWThread::ProcessStateAux connecting to server %s",
            DottedIPv4(mServerAddress).text);
  mLastReceive = now;
  mFirstFileOfConnection = true;
  if (mWire.open(&mWireHandle, mServerAddress, &HOBWThread::RXCallback,
                 reinterpret_cast<uintptr_t>(this)) != 0) {
    mWireHandle = kWireHandleInvalid;
    TraceLog(kLevelFailure, "HOBWThread::ProcessStateAux ::OrbrixWireOpen failed");
    mState = OBW_STATE_TERMINATE;
    return;
  }
  mRXHandle.store(mWireHandle);
  mState = OBW_STATE_WAIT_HELLO;
}

void HOBWThread::SendStateRequest(bool (HOBWThread::*request)(), const char* entering,
                                  const char* failure, uint32_t next) {
  TraceLog(kLevelProgress, entering);
  if ((this->*request)()) {
    mState = next;
  } else {
    TraceLog(kLevelFailure, failure);
    mState = OBW_STATE_TERMINATE;
  }
}

void HOBWThread::HandleMessage(std::unique_ptr<WCXMLWireMsg>& owned, const TickTime& now) {
  const WCXMLWireMsg& msg = *owned;
  switch (msg.GetType()) {
    case WCXMLWireMsg::kTypeHello:
      OnHello(msg);
      break;
    case WCXMLWireMsg::kTypeUser:
      OnUserAck(msg);
      break;
    case WCXMLWireMsg::kTypeFilter:
      OnFilterAck(msg);
      break;
    case WCXMLWireMsg::kTypeRequest:
      OnRequestAck(msg);
      break;
    case WCXMLWireMsg::kTypeFile:
      // A message of another class claiming this type carries no names: ignored.
      if (auto* file = dynamic_cast<const WCXMLWireMsgRequestFileAck*>(&msg)) OnFile(*file, now);
      break;
    case WCXMLWireMsg::kTypeBlock:
      if (auto* block = dynamic_cast<const WCXMLWireMsgRequestBlockAck*>(&msg)) {
        OnBlock(*block, owned, now);
      }
      break;
    case WCXMLWireMsg::kTypeDone:
      OnDone(now);
      break;
    default:  // ACK, HRTB, UNKN and others
      break;
  }
}

void HOBWThread::OnHello(const WCXMLWireMsg& msg) {
  {
    NamedLock lock(mMtxHOBWStats);
    mStats.mConnected = 1;
  }
  TraceLogCut(kLevelProgress, kMaxStateLogChars,
              "HOBWThread::ProcessStateAux connected to server: %s", ImageOf(msg));
  mState = OBW_STATE_USER_SEND;
}

void HOBWThread::OnUserAck(const WCXMLWireMsg& msg) {
  if (msg.GetStatus() != 0) {
    TraceLogF(kLevelProgress, "HOBWThread::ProcessStateAux user ack error %d", msg.GetStatus());
    ForgetSession();
    mState = OBW_STATE_TERMINATE;
    return;
  }
  TraceLogF(kLevelProgress, "HOBWThread::ProcessStateAux received session ID %u",
            msg.GetSessionID());
  mResumedSession = mHaveSession == 1 && mSessionID == msg.GetSessionID();
  mHaveSession = 1;
  mSessionID = msg.GetSessionID();
  {
    NamedLock lock(mMtxHOBWStats);
    mStats.mSessionID = mSessionID;
    mStats.mSessionValid = 1;
  }
  mState = OBW_STATE_FILTER_SEND;
}

// A rejected filter does not end the session.
void HOBWThread::OnFilterAck(const WCXMLWireMsg& msg) {
  if (msg.GetStatus() != 0) {
    TraceLogF(kLevelProgress, "HOBWThread::ProcessStateAux filter error %d", msg.GetStatus());
    mState = OBW_STATE_TERMINATE;
    return;
  }
  TraceLog(kLevelProgress, msg.GetAckType() == WCXMLWireMsg::kAckPositive
                               ? "HOBWThread::ProcessStateAux filter accepted"
                               : "HOBWThread::ProcessStateAux filter rejected");
  mState = OBW_STATE_RQST_START;
}

// Whatever the answer, the next pass requests again.
void HOBWThread::OnRequestAck(const WCXMLWireMsg& msg) {
  int32_t status = msg.GetStatus();
  if (status == WCXMLWireMsg::kStatusGone) {
    {
      NamedLock lock(mMtxHOBWStats);
      mStats.mMessagesLost = 1;
    }
    TraceLog(kLevelProgress,
             "HOBWThread::ProcessStateAux *** Reception too slow, messages lost ***");
  } else if (status != WCXMLWireMsg::kStatusNoContent) {
    TraceLogF(kLevelProgress, "HOBWThread::ProcessStateAux unknown error for request: %d", status);
  }
  mState = OBW_STATE_RQST_START;
}

void HOBWThread::OnFile(const WCXMLWireMsgRequestFileAck& msg, const TickTime& now) {
  const char* image = ImageOf(msg);
  if (std::strlen(kBeginFileTransfer) + std::strlen(image) < kMaxFileEchoChars) {
    TraceLogF(kLevelProgress, "%s%s", kBeginFileTransfer, image);
  } else {
    TraceLog(kLevelProgress, kBeginFileTransfer);
  }
  if (ContinuesQueuedFile(msg)) {
    mRepeatsBelow = mQueuedThrough;
  } else {
    mRepeatsBelow = 0;
    mQueuedThrough = 0;
    mFileCounted = false;
  }
  mFirstFileOfConnection = false;
  ClearBlockInfo();
  // With two names the second is the file and the first its parent.
  const char* fileName = msg.GetName2() != nullptr ? msg.GetName2() : msg.GetName1();
  const char* parentName = msg.GetName2() != nullptr ? msg.GetName1() : nullptr;
  bool failed;
  cbInfo.mFName = CopyName(fileName, failed);
  if (failed) {
    TraceLog(kLevelFailure, "HOBWThread::ProcessStateAux new cbInfo.mFName [] failed");
    mState = OBW_STATE_TERMINATE;
    return;
  }
  cbInfo.mParentFName = CopyName(parentName, failed);
  if (failed) {
    TraceLog(kLevelFailure, "HOBWThread::ProcessStateAux new cbInfo.mParentFName [] failed");
    mState = OBW_STATE_TERMINATE;
    return;
  }
  if (!TXRqstAck(msg.GetName1(), msg.GetName2())) {
    TraceLog(kLevelFailure, "HOBWThread::ProcessStateAux TXRqstAck file failed");
    mState = OBW_STATE_TERMINATE;
    return;
  }
  mLastReceive = now;
  mState = OBW_STATE_RECEIVING;
}

// The block is acknowledged even when the delivery thread could not queue it. The queue
// takes the message itself rather than a copy of its data: past that, msg may be gone.
void HOBWThread::OnBlock(const WCXMLWireMsgRequestBlockAck& msg,
                         std::unique_ptr<WCXMLWireMsg>& owner, const TickTime& now) {
  uint32_t number = msg.GetBlockNumber();
  TraceLogF(kLevelProgress, "HOBWThread::ProcessStateAux received block %u, %u bytes", number,
            static_cast<unsigned>(msg.GetDataLength()));
  if (number < mRepeatsBelow) {
    OnRepeatedBlock(number, msg.IsLastBlock() != 0);
    mLastReceive = now;
    return;
  }
  cbInfo.mSessionID = mSessionID;
  cbInfo.mFirstBlock = number == 0 ? 1 : 0;
  cbInfo.mLastBlock = msg.IsLastBlock() != 0 ? 1 : 0;
  cbInfo.mBlockNum = number;
  cbInfo.mData = const_cast<uint8_t*>(msg.GetData());
  cbInfo.mDataLen = msg.GetDataLength();
  bool queued = mHOBQThread.EnqDataBlock(cbInfo, std::move(owner));
  cbInfo.mData = nullptr;  // the message went to the queue, or died with a failure
  if (!queued) {
    TraceLog(kLevelFailure, "HOBWThread::ProcessStateAux mHOBQThread.EnqDataBlock failed");
    // Unacknowledged, the block comes again on the resumed session.
    if (mAckAfterDelivery) {
      mState = OBW_STATE_TERMINATE;
      return;
    }
  }
  if (number >= mQueuedThrough) mQueuedThrough = number + 1;
  const bool last = cbInfo.mLastBlock == 1;
  if (last) TraceLog(kLevelProgress, "HOBWThread::ProcessStateAux end of file");
  AckBlock(number, last, mHOBQThread.GetEnqueuedCount());
  mLastReceive = now;
}

bool HOBWThread::ContinuesQueuedFile(const WCXMLWireMsgRequestFileAck& msg) const {
  if (!mResumedSession || !mFirstFileOfConnection || mQueuedThrough == 0) return false;
  const char* fileName = msg.GetName2() != nullptr ? msg.GetName2() : msg.GetName1();
  const char* parentName = msg.GetName2() != nullptr ? msg.GetName1() : nullptr;
  auto same = [](const char* a, const char* b) {
    return a == nullptr ? b == nullptr : b != nullptr && std::strcmp(a, b) == 0;
  };
  return same(cbInfo.mFName, fileName) && same(cbInfo.mParentFName, parentName);
}

// The block's first copy may still wait for the callback: after delivery, its ACK waits
// until everything queued so far was delivered.
void HOBWThread::OnRepeatedBlock(uint32_t number, bool last) {
  TraceLogF(kLevelProgress, "HOBWThread::ProcessStateAux block %u was delivered already", number);
  AckBlock(number, last, mHOBQThread.GetEnqueuedCount());
}

// The state stays: with the statistics disconnected no time-out runs, so a waiting
// state waits until the application stops the session, and a request fails for want
// of a connection and leads to a fresh start.
void HOBWThread::OnDone(const TickTime& now) {
  TraceLog(kLevelProgress, "HOBWThread::ProcessStateAux received done");
  CloseWire();
  mDoneSent = 0;
  ForgetSession();
  {
    NamedLock lock(mMtxHOBWStats);
    mStats.mConnected = 0;
  }
  mLastReceive = now;
}

}  // namespace owc
