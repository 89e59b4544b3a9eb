// SPDX-License-Identifier: MIT
// The TCP port that speaks the wire protocol: it opens the connection to the wire
// server, gathers received bytes in a receive stream, cuts them into messages and turns
// each into a WCXMLWireMsg object, queued until the connection delivers it. It owns the
// receive time-out of a session: 16 s until the first USER acknowledgement, 12 s after.
// Sending is not done here: the connection writes its send stream through Write.
//
// Threads: SetIPInfo and Connect run on the opening thread before the connection is
// visible to the client thread; everything else runs on the client thread. The
// received-message queue has no lock of its own.
#ifndef OWCLIENT_WIRE_CLIENT_PORT_H
#define OWCLIENT_WIRE_CLIENT_PORT_H

#include <cstdint>
#include <vector>

#include "owclient/wire_messages.h"
#include "transport/data_stream.h"
#include "transport/tcp_port.h"
#include "wire/wire_msg_queue.h"

namespace owc {

class WCOWClientPort : public TCPPort {
 public:
  static constexpr uint32_t kReadBufSize = 32768;
  // The largest block message (65,535 data bytes with its head, length, marker and NUL)
  // fits the parse window, which adds one NUL after the copied bytes.
  static constexpr uint32_t kParseWindowBytes = 66558;
  static constexpr uint32_t kLoginTimeoutMs = 16000;
  static constexpr uint32_t kSessionTimeoutMs = 12000;
  // What a connection may hold on its receive side. Parsed messages waiting for delivery
  // stop the parse at kRXQueueLimit; unparsed bytes stop the reading at kRXStreamBound, and
  // the rest waits in the socket, where TCP flow control holds the server back.
  static constexpr uint32_t kRXQueueLimit = 32;
  static constexpr uint32_t kRXStreamBound = 4 * kParseWindowBytes;

  WCOWClientPort() = default;
  ~WCOWClientPort() override;

  // The server's IPv4 address and TCP port, in host byte order.
  void SetIPInfo(uint32_t address, uint16_t port);
  // Starts a non-blocking connect; the outcome shows later, when the port turns writable
  // or the connection check fails. REQUIRES: the port is not open.
  void Connect();
  // Shuts the socket down in both directions, then closes it.
  bool Close() override;

  // Reads what the socket holds (up to the stream's bound) into the receive stream and
  // parses the complete messages at its front into the queue. Bytes at the front that can
  // never be parsed (see ParseRXMsg) close the port: the server has lost the framing, and
  // a fresh connection resumes where the acknowledgements left off. False when the port
  // failed (it is closed then), or when there was nothing new and nothing left to parse.
  bool ProcessRX();
  // The parsing half of ProcessRX, for bytes already in the receive stream. newData says
  // whether bytes arrived since the last call.
  bool ParseRXStream(bool newData);
  // Parses complete messages from the start of window into the queue; returns the bytes
  // consumed. Parsing stops at an incomplete message, when the queue holds kRXQueueLimit
  // messages, and at one it can never take (keyword ACK or none, session ID without ':',
  // nothing after the ack character, a block number that does not parse), whose
  // bytes stay. REQUIRES: window[length] == '\0'.
  uint32_t ParseRXMsg(const char* window, uint32_t length);

  // The oldest parsed message, passed to the caller, or null.
  WCXMLWireMsg* GetRXMsg();
  bool HasRXMsg() const { return !mRXQ.IsEmpty(); }
  // The last parse stopped at the queue's limit with bytes left in the stream: once the
  // queue has room, the next parse has messages to give without anything read.
  bool HasUnparsed() const { return mParsedToLimit; }
  uint32_t GetRXMsgCount() const { return mRXQ.GetCount(); }
  bool IsUserAcknowledged() const { return mUserAcked; }
  // True when the bytes at the front of the receive stream can never be parsed.
  bool IsFrontBlocked() const { return mFrontBlocked; }
  WCDataStream& GetRXStream() { return mRXStream; }

  // Builders of received messages: a new object, or null when the message lacks what its
  // type requires or memory ran out. tokens[0] is the prefix-and-keyword token,
  // tokens[1] the first argument. A missing session ID reads as 0.
  WCXMLWireMsg* CreateMsg(uint32_t type, bool hasSessionID, uint32_t sessionID, bool hasAck,
                          char ackChar, uint32_t tokenCount, const char* const* tokens);
  WCXMLWireMsg* CreateMsgHello(uint32_t tokenCount, const char* const* tokens);
  WCXMLWireMsg* CreateMsgUser(uint32_t sessionID, bool hasAck, char ackChar, uint32_t tokenCount,
                              const char* const* tokens);
  WCXMLWireMsg* CreateMsgFilter(uint32_t sessionID, bool hasAck, char ackChar, uint32_t tokenCount,
                                const char* const* tokens);
  WCXMLWireMsg* CreateMsgRqst(uint32_t sessionID, bool hasAck, char ackChar, uint32_t tokenCount,
                              const char* const* tokens);
  WCXMLWireMsg* CreateMsgFile(uint32_t sessionID, bool hasAck, uint32_t tokenCount,
                              const char* const* tokens);
  WCXMLWireMsg* CreateMsgHrtbReq(bool hasSessionID, uint32_t sessionID);
  WCXMLWireMsg* CreateMsgHrtbAck(bool hasSessionID, uint32_t sessionID);
  WCXMLWireMsg* CreateMsgDone(bool hasSessionID, uint32_t sessionID);
  WCXMLWireMsg* CreateMsgUnknown(uint32_t tokenCount, const char* const* tokens);
  // data covers the block's bytes and its 4-byte end marker (dataAndMarkerLength bytes).
  WCXMLWireMsg* CreateMsgRqstBlock(uint32_t sessionID, bool hasAck, char ackChar,
                                   uint32_t blockNumber, const uint8_t* data,
                                   uint32_t dataAndMarkerLength);

 private:
  struct MsgHead;
  // How the message at the current position fared.
  enum class Step { kParsed, kNeedMore, kBlocked };

  // One message at m: kParsed with size its length and msg the object it yielded, or
  // null; kNeedMore when it is not complete yet; kBlocked when no byte can ever follow
  // that makes it a message.
  Step ParseOne(const char* m, uint32_t remaining, WCXMLWireMsg*& msg, uint32_t& size);
  Step ParseHead(const char* m, const char* end, MsgHead& head);
  Step ParseText(const char* m, uint32_t remaining, const MsgHead& head, WCXMLWireMsg*& msg,
                 uint32_t& size);
  Step ParseBlock(const char* m, uint32_t remaining, const MsgHead& head, WCXMLWireMsg*& msg,
                  uint32_t& size);
  bool RXQueueFull() const { return mRXQ.GetCount() >= kRXQueueLimit; }
  // Logs why, closes the port and lets go of the stream's bytes.
  void CloseBlocked();
  // Splits text[0, length) on white space into mTokens; none when memory ran out.
  void Tokenize(const char* text, uint32_t length);
  void SplitTokens(const char* text, uint32_t length);
  void QueueRXMsg(WCXMLWireMsg* msg);

  uint32_t mServerAddress = 0;
  uint16_t mServerPort = 0;
  bool mUserAcked = false;
  WCXMLWireMsgQ mRXQ;  // declared before the stream: destroyed after it
  WCDataStream mRXStream;
  // The last parse left bytes it could not take and nothing arrived since: parsing them
  // again would yield nothing but repeat its log lines.
  bool mParseStalled = false;
  bool mParsedToLimit = false;
  // The last ParseRXMsg stopped at a message it can never take.
  bool mStopBlocked = false;
  // The stream's front can never be parsed: a message it cannot take, or a whole parse
  // window that holds no complete message.
  bool mFrontBlocked = false;
  uint8_t mReadBuf[kReadBufSize];
  char mParseWindow[kParseWindowBytes + 1];
  // Token storage reused from message to message.
  std::vector<char> mTokenText;
  std::vector<const char*> mTokens;
};

}  // namespace owc

#endif  // OWCLIENT_WIRE_CLIENT_PORT_H
