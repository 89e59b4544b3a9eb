// SPDX-License-Identifier: MIT
#include "wire/client_port.h"

#include <cstdio>
#include <cstring>

#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"
#include "transport/socket_ops.h"
#include "wire/wire_msg_tables.h"

namespace owc {

namespace {

constexpr uint32_t kBlockKeywordLength = 3;  // "BLK"
constexpr uint32_t kBlockMarkerLength = 4;   // "BLKm" or "BLKe"

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The conversion "%u" on NUL-terminated text: leading white space, an optional sign and
// at least one digit; a minus wraps, too many digits saturate, the result is cut to
// 32 bits. Written out because sscanf measures the whole remaining window first, which
// for a block message is its binary data.
bool ScanUnsigned(const char* text, uint32_t& value) {
  const char* p = text;
  while (IsSpace(*p)) ++p;
  bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if (!IsDigit(*p)) return false;
  uint64_t v = 0;
  bool overflow = false;
  for (; IsDigit(*p); ++p) {
    uint64_t digit = static_cast<uint64_t>(*p - '0');
    if (v > (UINT64_MAX - digit) / 10) overflow = true;
    v = v * 10 + digit;
  }
  if (overflow) {
    v = UINT64_MAX;
  } else if (negative) {
    v = 0 - v;
  }
  value = static_cast<uint32_t>(v);
  return true;
}

bool MarkerIsLast(const uint8_t* marker) {
  static const char kLast[] = "blke";
  for (uint32_t i = 0; i < kBlockMarkerLength; ++i) {
    char c = static_cast<char>(marker[i]);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    if (c != kLast[i]) return false;
  }
  return true;
}

// The status argument "(%d)"; 0 for none.
int32_t StatusOf(uint32_t tokenCount, const char* const* tokens) {
  int status = 0;
  if (tokenCount >= 2 && std::sscanf(tokens[1], "(%d)", &status) == 1) return status;
  return 0;
}

// The acknowledgement classes share one shape: SetInfo(accepted, session ID, status).
template <class Msg>
Msg* CreateAckMsg(uint32_t sessionID, bool hasAck, char ackChar, uint32_t tokenCount,
                  const char* const* tokens) {
  if (!hasAck) return nullptr;
  auto* msg = new Msg;
  if (!msg->SetInfo(ackChar != '-', sessionID, StatusOf(tokenCount, tokens))) {
    delete msg;
    msg = nullptr;
  }
  return msg;
}

// The messages that carry nothing but the session ID: SetInfo(session ID).
template <class Msg>
Msg* CreateSessionMsg(bool hasSessionID, uint32_t sessionID) {
  if (!hasSessionID) return nullptr;
  auto* msg = new Msg;
  if (!msg->SetInfo(sessionID)) {
    delete msg;
    msg = nullptr;
  }
  return msg;
}

}  // namespace

struct WCOWClientPort::MsgHead {
  bool hasSessionID = false;
  uint32_t sessionID = 0;
  bool hasAck = false;
  char ackChar = 0;
  const char* keyword = nullptr;
  uint32_t type = WCXMLWireMsg::kTypeInvalid;
};

WCOWClientPort::~WCOWClientPort() { Close(); }

void WCOWClientPort::SetIPInfo(uint32_t address, uint16_t port) {
  mServerAddress = address;
  mServerPort = port;
}

void WCOWClientPort::Connect() {
  TraceLog(kLevelProgress, "WCOWClientPort::Connect connecting");
  mUserAcked = false;
  SetRXTimeout(kLoginTimeoutMs);
  if (mServerAddress == 0 || mServerPort == 0) {
    TraceLog(kLevelFailure, "WCOWClientPort::Connect IP info not set");
    return;
  }
  mRXQ.DeleteAll();
  mRXStream.Clear();
  mParseStalled = false;
  mParsedToLimit = false;
  mFrontBlocked = false;
  if (IsOpen()) Close();  // never leak a socket, though Connect runs once per port
  uint32_t error = 0;
  unsigned socket = 0;
  if (!CreateSocket(socket, error)) {
    TraceLogF(kLevelFailure, "WCOWClientPort::Connect ::socket failed with error %d",
              static_cast<int>(error));
    return;
  }
  TraceLogF(kLevelProgress, "WCOWClientPort::Connect assigned socket %u", socket);
  // A failed Open has closed the socket: connecting it then could reach a descriptor
  // that another thread has been given meanwhile, so the attempt ends here.
  if (!OpenCreated()) return;
  if (StartConnect(mServerAddress, mServerPort, error) == ConnectStart::kFailed) {
    SetLastError(error);  // the connection check reports the closed connection
  }
}

bool WCOWClientPort::Close() {
  if (IsOpen()) {
    TraceLogF(kLevelProgress, "WCOWClientPort::Close closing socket %u", LogHandle());
    Shutdown();
  }
  return TCPPort::Close();
}

// Reading stops short of the stream's bound: the stream only grows that far while parsed
// messages wait for delivery, and then the socket holds the rest. A read that did not fill
// the buffer found the socket empty: asking again would only cost a system call, and
// bytes that come later wake the client thread's wait anew.
bool WCOWClientPort::ProcessRX() {
  bool newData = false;
  for (;;) {
    if (mRXStream.GetTotal() > kRXStreamBound - kReadBufSize) break;
    uint32_t n = 0;
    if (!ReadSome(mReadBuf, kReadBufSize, n)) {
      Close();
      return false;
    }
    if (n == 0) break;
    if (!mRXStream.Add(mReadBuf, n)) {
      Close();
      return false;
    }
    newData = true;
    if (n < kReadBufSize) break;
  }
  bool parsed = ParseRXStream(newData);
  if (mFrontBlocked && IsOpen()) {
    CloseBlocked();
    return false;
  }
  return parsed;
}

void WCOWClientPort::CloseBlocked() {
  uint32_t held = mRXStream.GetTotal();
  TraceLogF(kLevelFailure,
            "WCOWClientPort::ProcessRX %u bytes at the front of the receive stream can never be "
            "parsed, closing",
            held);
  Close();
  mRXStream.Clear();
  mParseStalled = false;
  mParsedToLimit = false;
}

// Parses window after window while whole messages come off the front, so that parsing
// keeps pace with reading however much one call gathered, until the queue is full.
bool WCOWClientPort::ParseRXStream(bool newData) {
  WCDataStreamLock lock(mRXStream);
  if (!newData && mParseStalled) return true;
  bool copiedAny = false;
  mParsedToLimit = false;
  while (!RXQueueFull()) {
    uint32_t copied = mRXStream.Peek(mParseWindow, kParseWindowBytes);
    if (copied == 0) {
      mParseStalled = false;
      return newData || copiedAny;
    }
    copiedAny = true;
    mParseWindow[copied] = '\0';
    uint32_t consumed = ParseRXMsg(mParseWindow, copied);
    if (consumed == 0) {
      // A full window without one complete message cannot change by waiting: the parse
      // never sees more than a window.
      mFrontBlocked = mStopBlocked || copied == kParseWindowBytes;
      mParseStalled = true;
      return true;
    }
    mRXStream.Consume(consumed);
  }
  mParseStalled = false;  // the rest is parsed once the queue has room
  mParsedToLimit = mRXStream.GetTotal() != 0;
  return true;
}

uint32_t WCOWClientPort::ParseRXMsg(const char* window, uint32_t length) {
  uint32_t consumed = 0;
  mStopBlocked = false;
  while (consumed < length && !RXQueueFull()) {
    WCXMLWireMsg* msg = nullptr;
    uint32_t size = 0;
    Step step = ParseOne(window + consumed, length - consumed, msg, size);
    if (step != Step::kParsed) {
      mStopBlocked = step == Step::kBlocked;
      break;
    }
    if (msg != nullptr) QueueRXMsg(msg);
    consumed += size;
  }
  return consumed;
}

// A keyword that is ACK or none stays so whatever follows; the message is only called
// blocked once its NUL has arrived, so that a head cut inside leading blanks still waits.
WCOWClientPort::Step WCOWClientPort::ParseOne(const char* m, uint32_t remaining, WCXMLWireMsg*& msg,
                                              uint32_t& size) {
  MsgHead head;
  Step step = ParseHead(m, m + remaining, head);
  if (step != Step::kParsed) return step;
  if (head.type == WCXMLWireMsg::kTypeAck || head.type == WCXMLWireMsg::kTypeInvalid) {
    return std::memchr(m, '\0', remaining) != nullptr ? Step::kBlocked : Step::kNeedMore;
  }
  if (head.type == WCXMLWireMsg::kTypeBlock) return ParseBlock(m, remaining, head, msg, size);
  return ParseText(m, remaining, head, msg, size);
}

// Session ID, acknowledgement character and type. Running into the end of the window
// means the message is not complete yet: that stops quietly, where the same shape ended
// by the message's own NUL is logged.
WCOWClientPort::Step WCOWClientPort::ParseHead(const char* m, const char* end, MsgHead& head) {
  const char* keyword = m;
  if (ScanUnsigned(m, head.sessionID)) {
    head.hasSessionID = true;
    const char* colon = m;
    while (colon < end && *colon != '\0' && *colon != ':') ++colon;
    if (colon == end || (*colon == ':' && colon + 1 == end)) return Step::kNeedMore;
    if (*colon != ':' || colon[1] == '\0') {
      TraceLog(kLevelFailure, "WCOWClientPort::ParseRXMsg found msg with no ':' after session ID");
      return Step::kBlocked;
    }
    keyword = colon + 1;
  }
  if (*keyword == '+' || *keyword == '-') {
    head.hasAck = true;
    head.ackChar = *keyword++;
    if (keyword == end) return Step::kNeedMore;
    if (*keyword == '\0') {
      TraceLog(kLevelFailure, "WCOWClientPort::ParseRXMsg found msg with nothing after ack");
      return Step::kBlocked;
    }
  }
  if (keyword == end) return Step::kNeedMore;
  head.keyword = keyword;
  head.type = GetMsgTypeByPrefix(keyword, static_cast<uint32_t>(end - keyword));
  return Step::kParsed;
}

WCOWClientPort::Step WCOWClientPort::ParseText(const char* m, uint32_t remaining,
                                               const MsgHead& head, WCXMLWireMsg*& msg,
                                               uint32_t& size) {
  const void* nul = std::memchr(m, '\0', remaining);
  if (nul == nullptr) return Step::kNeedMore;
  uint32_t length = static_cast<uint32_t>(static_cast<const char*>(nul) - m);
  Tokenize(m, length);
  msg = CreateMsg(head.type, head.hasSessionID, head.sessionID, head.hasAck, head.ackChar,
                  static_cast<uint32_t>(mTokens.size()), mTokens.data());
  size = length + 1;
  return Step::kParsed;
}

// The block is cut by its 16-bit length alone. The four marker bytes only tell whether it
// is the last block ("BLKe" in any case); any other four bytes mean that more follow, so
// they are not checked, nor is the byte after them that stands for the NUL (it is counted
// in the block's size). A block shorter than its length waits for the rest of its bytes.
WCOWClientPort::Step WCOWClientPort::ParseBlock(const char* m, uint32_t remaining,
                                                const MsgHead& head, WCXMLWireMsg*& msg,
                                                uint32_t& size) {
  const char* end = m + remaining;
  const char* keyword = head.keyword;
  if (end - keyword < static_cast<ptrdiff_t>(kBlockKeywordLength)) return Step::kNeedMore;
  const char* colon = keyword;
  while (colon < end && *colon != '\0' && *colon != ':') ++colon;
  if (colon == end) return Step::kNeedMore;
  if (*colon != ':') return Step::kBlocked;
  uint32_t blockNumber = 0;
  if (!ScanUnsigned(keyword + kBlockKeywordLength, blockNumber)) return Step::kBlocked;
  if (end - colon - 1 < 2) return Step::kNeedMore;
  const auto* lengthBytes = reinterpret_cast<const uint8_t*>(colon + 1);
  uint32_t dataLength = static_cast<uint32_t>(lengthBytes[0]) << 8 | lengthBytes[1];
  const char* data = colon + 3;
  uint64_t total = static_cast<uint64_t>(data - m) + dataLength + kBlockMarkerLength + 1;
  if (total > remaining) return Step::kNeedMore;
  msg = CreateMsgRqstBlock(head.sessionID, head.hasAck, head.ackChar, blockNumber,
                           reinterpret_cast<const uint8_t*>(data), dataLength + kBlockMarkerLength);
  size = static_cast<uint32_t>(total);
  return Step::kParsed;
}

// Without memory for the tokens there are none, and the builders reject what needs them.
void WCOWClientPort::Tokenize(const char* text, uint32_t length) {
  mTokens.clear();
  if (!TryAllocate(length + 1, [&] { SplitTokens(text, length); })) mTokens.clear();
}

void WCOWClientPort::SplitTokens(const char* text, uint32_t length) {
  mTokenText.assign(text, text + length);
  mTokenText.push_back('\0');
  bool inToken = false;
  for (uint32_t i = 0; i < length; ++i) {
    if (IsSpace(mTokenText[i])) {
      mTokenText[i] = '\0';
      inToken = false;
    } else if (!inToken) {
      mTokens.push_back(&mTokenText[i]);
      inToken = true;
    }
  }
}

void WCOWClientPort::QueueRXMsg(WCXMLWireMsg* msg) {
  if (msg->GetType() == WCXMLWireMsg::kTypeUser && !mUserAcked) {
    mUserAcked = true;
    SetRXTimeout(kSessionTimeoutMs);
  }
  if (!mRXQ.AddMsg(msg)) delete msg;
}

WCXMLWireMsg* WCOWClientPort::GetRXMsg() { return mRXQ.IsEmpty() ? nullptr : mRXQ.RemoveHead(); }

WCXMLWireMsg* WCOWClientPort::CreateMsg(uint32_t type, bool hasSessionID, uint32_t sessionID,
                                        bool hasAck, char ackChar, uint32_t tokenCount,
                                        const char* const* tokens) {
  switch (type) {
    case WCXMLWireMsg::kTypeHello:
      return CreateMsgHello(tokenCount, tokens);
    case WCXMLWireMsg::kTypeUser:
      return CreateMsgUser(sessionID, hasAck, ackChar, tokenCount, tokens);
    case WCXMLWireMsg::kTypeFilter:
      return CreateMsgFilter(sessionID, hasAck, ackChar, tokenCount, tokens);
    case WCXMLWireMsg::kTypeRequest:
      return CreateMsgRqst(sessionID, hasAck, ackChar, tokenCount, tokens);
    case WCXMLWireMsg::kTypeFile:
      return CreateMsgFile(sessionID, hasAck, tokenCount, tokens);
    case WCXMLWireMsg::kTypeHeartbeat:
      return hasAck ? CreateMsgHrtbAck(hasSessionID, sessionID)
                    : CreateMsgHrtbReq(hasSessionID, sessionID);
    case WCXMLWireMsg::kTypeDone:
      return CreateMsgDone(hasSessionID, sessionID);
    case WCXMLWireMsg::kTypeUnknown:
      return CreateMsgUnknown(tokenCount, tokens);
    default:
      return nullptr;  // ACK is never received; BLK has its own builder
  }
}

WCXMLWireMsg* WCOWClientPort::CreateMsgHello(uint32_t tokenCount, const char* const* tokens) {
  uint32_t v[6];
  if (tokenCount != 4 || std::sscanf(tokens[2], "v%u.%u.%u", &v[0], &v[1], &v[2]) != 3 ||
      std::sscanf(tokens[3], "v%u.%u.%u", &v[3], &v[4], &v[5]) != 3) {
    return nullptr;
  }
  // The server's product identifier is not kept; SetVersions fails on a hello whose
  // constructor could not build the image.
  auto* msg = new WCXMLWireMsgHello;
  if (!msg->SetVersions(v[0], v[1], v[2], v[3], v[4], v[5])) {
    delete msg;
    msg = nullptr;
  }
  return msg;
}

WCXMLWireMsg* WCOWClientPort::CreateMsgUser(uint32_t sessionID, bool hasAck, char ackChar,
                                            uint32_t tokenCount, const char* const* tokens) {
  WCXMLWireMsgUserAck* msg =
      CreateAckMsg<WCXMLWireMsgUserAck>(sessionID, hasAck, ackChar, tokenCount, tokens);
  if (msg != nullptr) {
    TraceLogF(kLevelProgress,
              "WCOWClientPort::CreateMsgUser ID %u hasAck %u ackType %u %u acceptFlag %u.",
              sessionID, hasAck ? 1u : 0u, static_cast<unsigned>(msg->GetAckType()),
              static_cast<unsigned>(msg->GetStatus()), ackChar != '-' ? 1u : 0u);
  }
  return msg;
}

WCXMLWireMsg* WCOWClientPort::CreateMsgFilter(uint32_t sessionID, bool hasAck, char ackChar,
                                              uint32_t tokenCount, const char* const* tokens) {
  return CreateAckMsg<WCXMLWireMsgFilterAck>(sessionID, hasAck, ackChar, tokenCount, tokens);
}

WCXMLWireMsg* WCOWClientPort::CreateMsgRqst(uint32_t sessionID, bool hasAck, char ackChar,
                                            uint32_t tokenCount, const char* const* tokens) {
  return CreateAckMsg<WCXMLWireMsgRequestAck>(sessionID, hasAck, ackChar, tokenCount, tokens);
}

WCXMLWireMsg* WCOWClientPort::CreateMsgFile(uint32_t sessionID, bool hasAck, uint32_t tokenCount,
                                            const char* const* tokens) {
  if (!hasAck || tokenCount < 2) return nullptr;
  auto* msg = new WCXMLWireMsgRequestFileAck;
  if (!msg->SetInfo(sessionID, tokens[1], tokenCount >= 3 ? tokens[2] : nullptr)) {
    delete msg;
    msg = nullptr;
  }
  return msg;
}

WCXMLWireMsg* WCOWClientPort::CreateMsgHrtbReq(bool hasSessionID, uint32_t sessionID) {
  return CreateSessionMsg<WCXMLWireMsgHeartbeatReq>(hasSessionID, sessionID);
}

WCXMLWireMsg* WCOWClientPort::CreateMsgHrtbAck(bool hasSessionID, uint32_t sessionID) {
  return CreateSessionMsg<WCXMLWireMsgHeartbeatAck>(hasSessionID, sessionID);
}

WCXMLWireMsg* WCOWClientPort::CreateMsgDone(bool hasSessionID, uint32_t sessionID) {
  return CreateSessionMsg<WCXMLWireMsgDoneAck>(hasSessionID, sessionID);
}

WCXMLWireMsg* WCOWClientPort::CreateMsgUnknown(uint32_t tokenCount, const char* const* tokens) {
  auto* msg = new WCXMLWireMsgUnknownAck;
  if (!msg->SetInfo(StatusOf(tokenCount, tokens))) {
    delete msg;
    msg = nullptr;
  }
  return msg;
}

WCXMLWireMsg* WCOWClientPort::CreateMsgRqstBlock(uint32_t sessionID, bool hasAck, char /*ackChar*/,
                                                 uint32_t blockNumber, const uint8_t* data,
                                                 uint32_t dataAndMarkerLength) {
  if (!hasAck || data == nullptr || dataAndMarkerLength < kBlockMarkerLength ||
      dataAndMarkerLength - kBlockMarkerLength > UINT16_MAX) {
    return nullptr;
  }
  uint32_t dataLength = dataAndMarkerLength - kBlockMarkerLength;
  uint8_t last = MarkerIsLast(data + dataLength) ? 1 : 0;
  auto* msg = new WCXMLWireMsgRequestBlockAck;
  if (!msg->SetInfo(sessionID, blockNumber, static_cast<uint16_t>(dataLength), data, last)) {
    TraceLog(kLevelFailure, "WCOWClientPort::CreateMsgRqstBlock msgObj->SetInfo failed");
    delete msg;
    return nullptr;
  }
  return msg;
}

}  // namespace owc
