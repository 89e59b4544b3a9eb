// SPDX-License-Identifier: MIT
// The requests the session sends. Each is built with its message class and handed to
// the wire client, which owns it once it took it; on any failure the session deletes it.
#include <cstdio>
#include <memory>

#include "gateway/gateway_session.h"
#include "runtime/trace_log.h"

namespace owc {

template <class Msg, class Build>
bool HOBWThread::SendRequest(bool needsSession, Build build) {
  if (mWireHandle == kWireHandleInvalid) return false;
  if (needsSession && mHaveSession != 1) return false;
  std::unique_ptr<Msg> msg(new Msg);
  if (mCorkSends && mCorked == kWireHandleInvalid && mWire.corkTX != nullptr) {
    mWire.corkTX(mWireHandle, true);
    mCorked = mWireHandle;
  }
  if (!build(*msg) || mWire.txMsg(mWireHandle, msg.get()) != 0) return false;
  msg.release();  // the wire client's now
  return true;
}

bool HOBWThread::IsConnected() const {
  switch (mState) {
    case OBW_STATE_START:
    case OBW_STATE_WAIT_HELLO:
    case OBW_STATE_USER_SEND:
    case OBW_STATE_TERMINATE:
    case OBW_STATE_STOP:
      return false;
    default:
      return mWireHandle != kWireHandleInvalid;
  }
}

// The one request allowed without a session: a new login, or a resumption when the
// session holds an id.
bool HOBWThread::TXUser() {
  bool sent = SendRequest<WCXMLWireMsgUserReq>(false, [this](WCXMLWireMsgUserReq& m) {
    return m.SetInfo(mHaveSession, mSessionID, nullptr);
  });
  if (sent) TraceLogF(kLevelProgress, "HOBWThread::TXUser SessnID %u.", mSessionID);
  return sent;
}

bool HOBWThread::TXFilter() {
  return SendRequest<WCXMLWireMsgFilterReq>(true, [this](WCXMLWireMsgFilterReq& m) {
    return m.SetInfo(mSessionID) && m.AddFilter(WCXMLWireMsgFilterReq::kRequestAll);
  });
}

bool HOBWThread::TXRqst() {
  return SendRequest<WCXMLWireMsgRequestReq>(
      true, [this](WCXMLWireMsgRequestReq& m) { return m.SetInfo(mSessionID); });
}

bool HOBWThread::TXRqstAck(const char* first, const char* second) {
  return SendRequest<WCXMLWireMsgRequestAckReq>(true, [&](WCXMLWireMsgRequestAckReq& m) {
    return m.SetInfo(mSessionID) && m.SetArg1(first) && m.SetArg2(second);
  });
}

// While logging in and filtering, while the session waits for its own delivery, and while
// the application holds its requests: once stories flow, requests and ACKs keep the line
// alive.
bool HOBWThread::TXHeartbeat() {
  const bool idleByRequest = mState == OBW_STATE_RQST_START && mRequestsHeld.load();
  if ((mState == OBW_STATE_RQST_START || mState == OBW_STATE_WAIT_RQST ||
       mState == OBW_STATE_RECEIVING) &&
      !WaitsForDelivery() && !idleByRequest) {
    return true;
  }
  TickTime now;
  now.SetNow();
  if (!(mLastHeartbeat + kHeartbeatMs < now)) return true;
  mLastHeartbeat = now;
  return SendRequest<WCXMLWireMsgHeartbeatReq>(
      true, [this](WCXMLWireMsgHeartbeatReq& m) { return m.SetInfo(mSessionID); });
}

// Sends only when the application asked for DONE at stop.
bool HOBWThread::TXDone() {
  if (!IsDoneRequested()) return true;
  bool sent = SendRequest<WCXMLWireMsgDoneReq>(
      true, [this](WCXMLWireMsgDoneReq& m) { return m.SetInfo(mSessionID); });
  if (sent) mDoneSent = 1;
  return sent;
}

}  // namespace owc
