// SPDX-License-Identifier: MIT
#include "wire/client_connect.h"

#include <atomic>
#include <new>

#include "owclient/wire_messages.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

std::atomic<uint16_t> gServerPort{WCOBWClientConnect::kServerPort};

}  // namespace

void WCOBWClientConnect::SetServerPort(uint16_t port) {
  gServerPort.store(port == 0 ? kServerPort : port, std::memory_order_relaxed);
}

uint16_t WCOBWClientConnect::ServerPort() { return gServerPort.load(std::memory_order_relaxed); }

WCOBWClientConnect::WCOBWClientConnect() { mTXStream.SetLimit(kTXStreamBound); }

WCOBWClientConnect::~WCOBWClientConnect() { mCliPort.Close(); }

void WCOBWClientConnect::SetIP(uint32_t address) { mCliPort.SetIPInfo(address, ServerPort()); }

void WCOBWClientConnect::SetRXCallback(OrbrixWireRXCallback callback, uintptr_t userValue) {
  mRXCallback = callback;
  mUserValue = userValue;
}

void WCOBWClientConnect::Connect() { mCliPort.Connect(); }

bool WCOBWClientConnect::TXMsg(WCXMLWireMsg* message) {
  if (message == nullptr) return true;
  if (mTXStream.Add(message->GetMsgBuf(), message->GetMsgLen())) {
    delete message;
    return true;
  }
  if (mCliPort.IsOpen() && mTXStream.WouldPassLimit(message->GetMsgLen())) {
    unsigned socket = mCliPort.LogHandle();
    TraceLogF(kLevelFailure,
              "WCOBWClientConnect::TXMsg send stream over its bound of %u bytes, closing port for "
              "%u",
              kTXStreamBound, socket);
    mCliPort.Close();
    mTXStream.Clear();
  }
  return false;
}

bool WCOBWClientConnect::IsCnctOK() {
  if (!mCliPort.IsOpen()) return false;
  unsigned socket = mCliPort.LogHandle();
  if (!mCliPort.CheckConnection()) {
    TraceLogF(kLevelProgress, "WCOBWClientConnect::IsCnctOK mCliPort.CheckConnection failed for %u",
              socket);
  } else if (!mSilenceHeld && !mCliPort.IsRXTimeOK()) {
    TraceLogF(kLevelProgress, "WCOBWClientConnect::IsCnctOK detected RX timeout for %u", socket);
  } else {
    return true;
  }
  TraceLogF(kLevelProgress, "WCOBWClientConnect::IsCnctOK closing port for %u", socket);
  ClosePort();
  return false;
}

void WCOBWClientConnect::ClosePort() {
  mCliPort.Close();
  mTXStream.Clear();
}

// Whole chunks go to the port one after another; a chunk the port could not take
// entirely keeps its read offset and waits for the next poll. Bytes the port holds in
// its overflow buffer are flushed even when nothing new is queued: a quiet sender must
// not leave its last message stranded there.
void WCOBWClientConnect::SendQueued() {
  WCDataStreamLock lock(mTXStream);
  for (;;) {
    WCDataStreamNode* head = mTXStream.GetHead();
    if (head == nullptr) {
      uint32_t ignored = 0;
      if (mCliPort.HasOverflow()) mCliPort.Write(nullptr, 0, ignored);
      break;
    }
    uint32_t remaining = head->GetRemaining();
    const uint8_t* data = head->GetData(true);
    uint8_t batch[kTXBatchBytes];
    const uint32_t total = mTXStream.GetTotal();
    if (remaining < total && total <= kTXBatchBytes) {
      remaining = mTXStream.Peek(batch, total);
      data = batch;
    }
    uint32_t written = 0;
    mCliPort.Write(data, remaining, written);
    if (written != 0) mTXStream.Consume(written);
    if (written != remaining) break;
  }
}

// Memory running out anywhere in the poll ends the connection as a failed read does: the
// port closes, and the session above notices the silence and connects anew.
bool WCOBWClientConnect::Service() {
  mAnswerOwed = false;
  if (!IsCnctOK()) return false;
  try {
    SendQueued();
    mCliPort.ProcessRX();
    return Deliver();
  } catch (const std::bad_alloc&) {
    TraceLogF(kLevelFailure, "WCOBWClientConnect::Service out of memory, closing port for %u",
              mCliPort.LogHandle());
    ClosePort();
    return false;
  }
}

// The messages of one read go to the callback in one pass: a message per pass would cost
// the client thread a wake-up per message. The callback may pause delivery between two.
// What the callbacks send goes out in one write after the last of them: a burst of block
// acknowledgements then costs the server one wake-up, not one each.
bool WCOBWClientConnect::Deliver() {
  mDeliveryCorked = true;
  bool delivered;
  try {
    delivered = DeliverParsed();
  } catch (...) {
    mDeliveryCorked = false;
    throw;
  }
  mDeliveryCorked = false;
  if (mTXStream.GetTotal() == 0 && !mCliPort.HasOverflow()) return false;
  mAnswerOwed = delivered;
  return !SendNow();
}

bool WCOBWClientConnect::DeliverParsed() {
  bool delivered = false;
  while (!mRXPaused) {
    WCXMLWireMsg* message = mCliPort.GetRXMsg();
    if (message == nullptr) return delivered;
    delivered = true;
    const bool nothingWaiting = message->GetType() == WCXMLWireMsg::kTypeRequest &&
                                message->GetStatus() == WCXMLWireMsg::kStatusNoContent;
    mEmptyAnswers = nothingWaiting ? mEmptyAnswers + (mEmptyAnswers < kQuietAnswers) : 0;
    if (mRXCallback != nullptr) {
      mRXCallback(message, mUserValue);  // the callback owns it now
    } else {
      delete message;
    }
  }
  return delivered;
}

// Only a port whose connect completed is written: before that the client thread's poll
// is what notices the connect, and a port that failed is the client thread's to report.
// Corked, the uncorking sends.
bool WCOBWClientConnect::SendNow() {
  if (mTXCorked || mDeliveryCorked) return true;
  if (!mCliPort.IsOpen() || !mCliPort.IsTXLatched()) return false;
  SendQueued();
  return mTXStream.GetTotal() == 0 && !mCliPort.HasOverflow();
}

// A paused connection's socket stays readable while its bytes wait there: watching it
// would turn the client thread's wait into a busy loop. A server that has answered
// "nothing waiting" for about half a second is not watched either: an idle session asks
// a hundred times a second, and waking for each empty answer cost more than everything
// else an idle client does. Its answers are then read on the 25 ms poll until one brings
// something else, so the first story after a quiet spell waits up to 25 ms longer; a feed
// with a story every few hundred milliseconds keeps its immediate reads.
const TCPPort* WCOBWClientConnect::WatchedPort() const {
  const bool quiet = mEmptyAnswers >= kQuietAnswers;
  // At the peer's end of stream the socket reports readable for ever: the receive
  // time-out closes the port, until then its poll reads it.
  const bool ended = mCliPort.PeerEnded();
  return !ended && !mRXPaused && !quiet && mCliPort.IsOpen() ? &mCliPort : nullptr;
}

bool WCOBWClientConnect::HasRXMsg() const {
  return !mRXPaused && (mCliPort.HasRXMsg() || mCliPort.HasUnparsed());
}

void WCOBWClientConnect::SetRXHold(bool pause, bool holdSilence) {
  mRXPaused = pause;
  if (mSilenceHeld && !holdSilence && mCliPort.IsOpen()) {
    mCliPort.SetRXTimeout(mCliPort.GetRXTimeout());  // silence counts from now
  }
  mSilenceHeld = holdSilence;
}

void WCOBWCliCnctList::DeleteAll() {
  while (!IsEmpty()) delete RemoveHead();
}

}  // namespace owc
