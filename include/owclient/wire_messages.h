// SPDX-License-Identifier: MIT
// owclient: the wire-protocol message classes, for C++ callers of OrbrixWireTXMsg.
//
// Every message, outgoing or received, is an object of a class derived from WCXMLWireMsg
// that holds its fields and its complete wire image: the bytes sent on the connection,
// NUL-terminated, GetMsgLen() counting that NUL. Block data may hold NUL bytes, so only
// GetMsgLen() measures an image, never strlen.
//
// Building a message: create it with new, call its SetInfo (then AddFilter or
// SetArg1/SetArg2 where the class has them), and hand it to OrbrixWireTXMsg. A result of
// 0 passes ownership to the library; on any other result, or when building failed, the
// caller deletes it. Messages are always destroyed through a WCXMLWireMsg pointer.
//
// Failure: every operation that allocates returns false when memory runs out, logs
// nothing and leaves the message with no image (GetMsgBuf() null, GetMsgLen() 0); later
// appends to such a message fail too, so checking the last result of a build suffices.
//
// Threads: a message is not shared; whoever owns it may use it on any thread.
#ifndef OWCLIENT_WIRE_MESSAGES_H
#define OWCLIENT_WIRE_MESSAGES_H

#include <cstdint>

#include "owclient/export.h"

// The base of all messages: the header fields and the wire image.
class OWCLIENT_API WCXMLWireMsg {
 public:
  // The constants are enumerators, not static data members, so that a caller built
  // before C++17 can bind them to references without an out-of-line definition.

  // Message types: the index into the keyword table.
  enum : uint32_t {
    kTypeHello = 0,      // "Tazu", received only
    kTypeUser = 1,       // "USER"
    kTypeFilter = 2,     // "FLTR"
    kTypeRequest = 3,    // "RQST"
    kTypeAck = 4,        // "ACK", sent only
    kTypeFile = 5,       // "FILE", received only
    kTypeBlock = 6,      // "BLK", received only
    kTypeHeartbeat = 7,  // "HRTB"
    kTypeDone = 8,       // "DONE"
    kTypeUnknown = 9,    // "UNKN", received only
    kTypeInvalid = 10,   // "????": unset, or no keyword matched
  };

  // Acknowledgement types: the character written before the keyword.
  enum : uint32_t { kAckNone = 0, kAckPositive = '+', kAckNegative = '-' };

  // Status codes with a text of their own; any other non-zero code reads as 400.
  enum : int32_t {
    kStatusNone = 0,
    kStatusNoContent = 204,
    kStatusBadRequest = 400,
    kStatusUnauthorized = 401,
    kStatusNotFound = 404,
    kStatusMethodNotAllowed = 405,
    kStatusConflict = 409,
    kStatusGone = 410,
    kStatusServiceUnavailable = 503,
  };

  // A string argument is written as " " + text, at most this many characters in all.
  enum : uint32_t { kMaxArgText = 255 };

  // Type 10, no ack, status 0, no session ID, no image.
  WCXMLWireMsg() noexcept;
  virtual ~WCXMLWireMsg();
  WCXMLWireMsg(const WCXMLWireMsg&) = delete;
  WCXMLWireMsg& operator=(const WCXMLWireMsg&) = delete;

  // Stores the five fields and replaces the image with the message head:
  // ["%d:" session ID, only when hasSessionID is 1][ack character][keyword][" " status
  // text, only when status is not 0]. ackType is kAckNone, kAckPositive or kAckNegative.
  bool SetHeader(uint8_t hasSessionID, uint32_t sessionID, uint32_t type, uint32_t ackType,
                 int32_t status);
  // Appends raw bytes (NULs allowed) before the terminating NUL.
  // REQUIRES: data is valid for length bytes. False also when there is no image.
  bool AppendData(const void* data, uint32_t length);

  uint32_t GetType() const { return mType; }
  uint32_t GetAckType() const { return mAckType; }
  int32_t GetStatus() const { return mStatus; }
  uint8_t HasSessionID() const { return mHasSessionID; }
  uint32_t GetSessionID() const { return mSessionID; }
  // The wire image (null when none); valid until the image is rebuilt or the message dies.
  const char* GetMsgBuf() const { return mMsgBuf; }
  // Bytes of the image including the terminating NUL; 0 when there is none.
  uint32_t GetMsgLen() const { return mMsgLen; }

 protected:
  // SetHeader that also reserves room for `spare` bytes of later appends, so that a
  // message whose size is known up front is built with one allocation.
  bool BuildHead(uint8_t hasSessionID, uint32_t sessionID, uint32_t type, uint32_t ackType,
                 int32_t status, uint32_t spare);
  // Appends " " + text, cut to kMaxArgText characters in all. Null or empty text: nothing.
  bool AppendArg(const char* text);
  // Bytes that AppendArg(text) adds.
  static uint32_t ArgTextLength(const char* text);
  // Drops the image (length 0); the fields stay.
  void ReleaseImage();

 private:
  // Makes room for an image of `needed` bytes; on failure drops the image.
  bool Reserve(uint64_t needed);

  uint32_t mType;
  uint32_t mAckType;
  int32_t mStatus;
  uint8_t mHasSessionID;
  uint32_t mSessionID;
  char* mMsgBuf;
  uint32_t mMsgLen;
  uint32_t mMsgCapacity;  // allocated bytes of mMsgBuf; appends grow it geometrically
};

// The server's hello, received: "+Tazu <product> v<a>.<bb>.<cc> v<d>.<ee>.<ff>".
// The constructor builds the image at once; it has none only if memory ran out.
class OWCLIENT_API WCXMLWireMsgHello : public WCXMLWireMsg {
 public:
  enum : uint32_t { kProductIDSize = 262 };  // 261 characters and the NUL

  WCXMLWireMsgHello() noexcept;
  ~WCXMLWireMsgHello() override;

  // Store the numbers or the identifier (cut to 261 characters) and rebuild the image.
  // False, with nothing changed, when the message has no image.
  bool SetVersions(uint32_t major1, uint32_t minor1, uint32_t patch1, uint32_t major2,
                   uint32_t minor2, uint32_t patch2);
  bool SetProductID(const char* productID);

  const char* GetProductID() const { return mProductID; }
  uint32_t GetMajor1() const { return mMajor1; }
  uint32_t GetMinor1() const { return mMinor1; }
  uint32_t GetPatch1() const { return mPatch1; }
  uint32_t GetMajor2() const { return mMajor2; }
  uint32_t GetMinor2() const { return mMinor2; }
  uint32_t GetPatch2() const { return mPatch2; }

 private:
  bool BuildImage();

  char mProductID[kProductIDSize];
  uint32_t mMajor1;
  uint32_t mMinor1;
  uint32_t mPatch1;
  uint32_t mMajor2;
  uint32_t mMinor2;
  uint32_t mPatch2;
};

// USER, sent: ["%d:"]USER[" " text].
class OWCLIENT_API WCXMLWireMsgUserReq : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgUserReq() override;
  // The prefix is written only when hasSessionID is 1; text may be null or empty.
  bool SetInfo(uint8_t hasSessionID, uint32_t sessionID, const char* text);
};

// USER acknowledgement, received: "%d:"(+|-)USER[" " status].
class OWCLIENT_API WCXMLWireMsgUserAck : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgUserAck() override;
  bool SetInfo(bool accepted, uint32_t sessionID, int32_t status);
};

// FLTR, sent: "%d:"FLTR, then " " + a request-type word per AddFilter.
class OWCLIENT_API WCXMLWireMsgFilterReq : public WCXMLWireMsg {
 public:
  // Request types: the index into the request-word table.
  enum : uint32_t {
    kRequestAll = 0,      // "ALL"
    kRequestStory = 1,    // "STORY"
    kRequestUnknown = 2,  // "????"
  };

  WCXMLWireMsgFilterReq() noexcept;
  ~WCXMLWireMsgFilterReq() override;

  // Also forgets the filters added before.
  bool SetInfo(uint32_t sessionID);
  // REQUIRES: SetInfo succeeded. Appends the word and records the number.
  bool AddFilter(uint32_t requestType);

  uint32_t GetFilterCount() const { return mFilterCount; }
  // REQUIRES: index < GetFilterCount().
  uint32_t GetFilter(uint32_t index) const { return mFilters[index]; }

 private:
  // The request types added, in order: a plain owned array keeps this header free of
  // templates; nothing reads it on the wire path.
  uint32_t* mFilters;
  uint32_t mFilterCount;
  uint32_t mFilterCapacity;
};

// FLTR acknowledgement, received: "%d:"(+|-)FLTR[" " status].
class OWCLIENT_API WCXMLWireMsgFilterAck : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgFilterAck() override;
  bool SetInfo(bool accepted, uint32_t sessionID, int32_t status);
};

// RQST, sent: "%d:"RQST.
class OWCLIENT_API WCXMLWireMsgRequestReq : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgRequestReq() override;
  bool SetInfo(uint32_t sessionID);
};

// RQST acknowledgement, received: "%d:"(+|-)RQST[" " status].
class OWCLIENT_API WCXMLWireMsgRequestAck : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgRequestAck() override;
  bool SetInfo(bool accepted, uint32_t sessionID, int32_t status);
};

// ACK, sent: "%d:"+ACK[" " arg1][" " arg2]: the names of a FILE, or a block number.
class OWCLIENT_API WCXMLWireMsgRequestAckReq : public WCXMLWireMsg {
 public:
  WCXMLWireMsgRequestAckReq() noexcept;
  ~WCXMLWireMsgRequestAckReq() override;

  // Also forgets the arguments set before.
  bool SetInfo(uint32_t sessionID);
  // REQUIRES: SetInfo succeeded. Keep a copy of a non-empty text (not cut) and append it
  // as an argument (cut). Null or empty text changes nothing and succeeds.
  bool SetArg1(const char* text);
  bool SetArg2(const char* text);

  // The kept copies; null when not set.
  const char* GetArg1() const { return mArg1; }
  const char* GetArg2() const { return mArg2; }

 private:
  bool SetArg(char*& slot, const char* text);

  char* mArg1;
  char* mArg2;
};

// FILE, received: "%d:"+FILE name1[" " name2]. With two names, name1 is the parent file.
class OWCLIENT_API WCXMLWireMsgRequestFileAck : public WCXMLWireMsg {
 public:
  WCXMLWireMsgRequestFileAck() noexcept;
  ~WCXMLWireMsgRequestFileAck() override;

  // Each name is kept (not cut) and written (cut) only when given; an empty name counts
  // as not given, since it would not survive the wire's white-space split.
  bool SetInfo(uint32_t sessionID, const char* name1, const char* name2);

  // The kept copies; null when not given.
  const char* GetName1() const { return mName1; }
  const char* GetName2() const { return mName2; }

 private:
  void ForgetNames();

  char* mName1;
  char* mName2;
};

// BLK, received: "%d:"+BLK<number>:<length, 2 bytes big-endian><data>(BLKm|BLKe).
class OWCLIENT_API WCXMLWireMsgRequestBlockAck : public WCXMLWireMsg {
 public:
  WCXMLWireMsgRequestBlockAck() noexcept;
  ~WCXMLWireMsgRequestBlockAck() override;

  // Builds the whole image with one allocation. REQUIRES: data is valid for dataLength
  // bytes (it may be null when dataLength is 0) and does not point into this message.
  bool SetInfo(uint32_t sessionID, uint32_t blockNumber, uint16_t dataLength, const void* data,
               uint8_t lastBlock);

  uint32_t GetBlockNumber() const { return mBlockNumber; }
  // A view into the image at the first data byte (at the end marker when the length is
  // 0); null when there is no image. Valid while the message lives and is not rebuilt.
  const uint8_t* GetData() const { return mData; }
  uint16_t GetDataLength() const { return mDataLength; }
  // 1 when the end marker is "BLKe".
  uint8_t IsLastBlock() const { return mLastBlock; }

 private:
  uint32_t mBlockNumber;
  const uint8_t* mData;
  uint16_t mDataLength;
  uint8_t mLastBlock;
};

// HRTB, sent, or received from the server as a heartbeat request: "%d:"HRTB.
class OWCLIENT_API WCXMLWireMsgHeartbeatReq : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgHeartbeatReq() override;
  bool SetInfo(uint32_t sessionID);
};

// HRTB answer, received: "%d:"+HRTB.
class OWCLIENT_API WCXMLWireMsgHeartbeatAck : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgHeartbeatAck() override;
  bool SetInfo(uint32_t sessionID);
};

// DONE, sent: "%d:"DONE.
class OWCLIENT_API WCXMLWireMsgDoneReq : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgDoneReq() override;
  bool SetInfo(uint32_t sessionID);
};

// DONE from the server, the end of the session: "%d:"+DONE.
class OWCLIENT_API WCXMLWireMsgDoneAck : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgDoneAck() override;
  bool SetInfo(uint32_t sessionID);
};

// UNKN, received: the server did not understand a message: -UNKN[" " status].
class OWCLIENT_API WCXMLWireMsgUnknownAck : public WCXMLWireMsg {
 public:
  ~WCXMLWireMsgUnknownAck() override;
  bool SetInfo(int32_t status);
};

// Table look-ups; the texts are static and never null.
// The keyword of a message type; "????" for 10 and for any type outside the table.
OWCLIENT_API const char* GetMsgKeyword(uint32_t type);
// The word of a request type; "????" for 2 and above.
OWCLIENT_API const char* GetRequestKeyword(uint32_t requestType);
// The request type named by a whole word, ignoring case; 2 when none (or word is null).
OWCLIENT_API uint32_t GetRequestType(const char* word);
// The complete status text, e.g. "(410) Gone"; "(400) Bad request" for unlisted codes.
OWCLIENT_API const char* GetStatusText(int32_t code);

#endif  // OWCLIENT_WIRE_MESSAGES_H
