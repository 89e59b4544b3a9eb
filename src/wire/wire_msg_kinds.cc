// SPDX-License-Identifier: MIT
// The message kinds: the header-only ones, USER and FLTR, HELO, the two that keep copies of
// their names (ACK sent, FILE received), and BLK.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "owclient/wire_messages.h"
#include "runtime/alloc_hook.h"

namespace {

uint32_t AckOf(bool accepted) {
  return accepted ? WCXMLWireMsg::kAckPositive : WCXMLWireMsg::kAckNegative;
}

const char kDefaultProductID[] = "Orbrix";
// " " + product identifier + " v%u.%02u.%02u v%u.%02u.%02u": 261 + 2 * 33 + 3, with room.
constexpr size_t kTailSize = 352;

bool IsGiven(const char* text) { return text != nullptr && text[0] != '\0'; }

// Replaces slot with a copy of a given text; false only when memory ran out.
bool KeepCopy(char*& slot, const char* text) {
  if (!IsGiven(text)) return true;
  char* copy = owc::StrDupOrNull(text);
  if (copy == nullptr) return false;
  std::free(slot);
  slot = copy;
  return true;
}

void Forget(char*& slot) {
  std::free(slot);
  slot = nullptr;
}

constexpr uint32_t kMarkerLength = 4;

}  // namespace

// The messages that carry nothing beyond the header, and USER with its optional text.
WCXMLWireMsgUserReq::~WCXMLWireMsgUserReq() = default;

bool WCXMLWireMsgUserReq::SetInfo(uint8_t hasSessionID, uint32_t sessionID, const char* text) {
  return BuildHead(hasSessionID, sessionID, kTypeUser, kAckNone, kStatusNone,
                   ArgTextLength(text)) &&
         AppendArg(text);
}

WCXMLWireMsgUserAck::~WCXMLWireMsgUserAck() = default;

bool WCXMLWireMsgUserAck::SetInfo(bool accepted, uint32_t sessionID, int32_t status) {
  return SetHeader(1, sessionID, kTypeUser, AckOf(accepted), status);
}

WCXMLWireMsgFilterAck::~WCXMLWireMsgFilterAck() = default;

bool WCXMLWireMsgFilterAck::SetInfo(bool accepted, uint32_t sessionID, int32_t status) {
  return SetHeader(1, sessionID, kTypeFilter, AckOf(accepted), status);
}

WCXMLWireMsgRequestReq::~WCXMLWireMsgRequestReq() = default;

bool WCXMLWireMsgRequestReq::SetInfo(uint32_t sessionID) {
  return SetHeader(1, sessionID, kTypeRequest, kAckNone, kStatusNone);
}

WCXMLWireMsgRequestAck::~WCXMLWireMsgRequestAck() = default;

bool WCXMLWireMsgRequestAck::SetInfo(bool accepted, uint32_t sessionID, int32_t status) {
  return SetHeader(1, sessionID, kTypeRequest, AckOf(accepted), status);
}

WCXMLWireMsgHeartbeatReq::~WCXMLWireMsgHeartbeatReq() = default;

bool WCXMLWireMsgHeartbeatReq::SetInfo(uint32_t sessionID) {
  return SetHeader(1, sessionID, kTypeHeartbeat, kAckNone, kStatusNone);
}

WCXMLWireMsgHeartbeatAck::~WCXMLWireMsgHeartbeatAck() = default;

bool WCXMLWireMsgHeartbeatAck::SetInfo(uint32_t sessionID) {
  return SetHeader(1, sessionID, kTypeHeartbeat, kAckPositive, kStatusNone);
}

WCXMLWireMsgDoneReq::~WCXMLWireMsgDoneReq() = default;

bool WCXMLWireMsgDoneReq::SetInfo(uint32_t sessionID) {
  return SetHeader(1, sessionID, kTypeDone, kAckNone, kStatusNone);
}

WCXMLWireMsgDoneAck::~WCXMLWireMsgDoneAck() = default;

bool WCXMLWireMsgDoneAck::SetInfo(uint32_t sessionID) {
  return SetHeader(1, sessionID, kTypeDone, kAckPositive, kStatusNone);
}

WCXMLWireMsgUnknownAck::~WCXMLWireMsgUnknownAck() = default;

bool WCXMLWireMsgUnknownAck::SetInfo(int32_t status) {
  return SetHeader(0, 0, kTypeUnknown, kAckNegative, status);
}

WCXMLWireMsgFilterReq::WCXMLWireMsgFilterReq() noexcept
    : mFilters(nullptr), mFilterCount(0), mFilterCapacity(0) {}

WCXMLWireMsgFilterReq::~WCXMLWireMsgFilterReq() { std::free(mFilters); }

bool WCXMLWireMsgFilterReq::SetInfo(uint32_t sessionID) {
  mFilterCount = 0;
  return SetHeader(1, sessionID, kTypeFilter, kAckNone, kStatusNone);
}

bool WCXMLWireMsgFilterReq::AddFilter(uint32_t requestType) {
  if (!AppendArg(GetRequestKeyword(requestType))) return false;
  if (mFilterCount == mFilterCapacity) {
    uint32_t capacity = mFilterCapacity == 0 ? 4 : 2 * mFilterCapacity;
    void* filters = owc::ReallocOrNull(mFilters, capacity * sizeof *mFilters);
    if (filters == nullptr) {
      ReleaseImage();
      return false;
    }
    mFilters = static_cast<uint32_t*>(filters);
    mFilterCapacity = capacity;
  }
  mFilters[mFilterCount++] = requestType;
  return true;
}

WCXMLWireMsgHello::WCXMLWireMsgHello() noexcept
    : mMajor1(1), mMinor1(0), mPatch1(0), mMajor2(1), mMinor2(0), mPatch2(0) {
  std::memcpy(mProductID, kDefaultProductID, sizeof kDefaultProductID);
  // Without memory the hello stays without an image; its user sees GetMsgLen() == 0.
  BuildImage();
}

WCXMLWireMsgHello::~WCXMLWireMsgHello() = default;

bool WCXMLWireMsgHello::SetVersions(uint32_t major1, uint32_t minor1, uint32_t patch1,
                                    uint32_t major2, uint32_t minor2, uint32_t patch2) {
  if (GetMsgBuf() == nullptr) return false;
  mMajor1 = major1;
  mMinor1 = minor1;
  mPatch1 = patch1;
  mMajor2 = major2;
  mMinor2 = minor2;
  mPatch2 = patch2;
  return BuildImage();
}

bool WCXMLWireMsgHello::SetProductID(const char* productID) {
  if (GetMsgBuf() == nullptr) return false;
  std::snprintf(mProductID, sizeof mProductID, "%s", productID != nullptr ? productID : "");
  return BuildImage();
}

// The image is rebuilt whole: it is short, and a hello is made once per connection.
bool WCXMLWireMsgHello::BuildImage() {
  char tail[kTailSize];
  int length = std::snprintf(tail, sizeof tail, " %s v%u.%02u.%02u v%u.%02u.%02u", mProductID,
                             mMajor1, mMinor1, mPatch1, mMajor2, mMinor2, mPatch2);
  return BuildHead(0, 0, kTypeHello, kAckPositive, kStatusNone, static_cast<uint32_t>(length)) &&
         AppendData(tail, static_cast<uint32_t>(length));
}

// The two messages that keep copies of their string arguments: ACK (sent) and FILE
// (received). The copies are kept whole; only the image cuts an argument.
WCXMLWireMsgRequestAckReq::WCXMLWireMsgRequestAckReq() noexcept : mArg1(nullptr), mArg2(nullptr) {}

WCXMLWireMsgRequestAckReq::~WCXMLWireMsgRequestAckReq() {
  std::free(mArg1);
  std::free(mArg2);
}

bool WCXMLWireMsgRequestAckReq::SetInfo(uint32_t sessionID) {
  Forget(mArg1);
  Forget(mArg2);
  return SetHeader(1, sessionID, kTypeAck, kAckPositive, kStatusNone);
}

bool WCXMLWireMsgRequestAckReq::SetArg1(const char* text) { return SetArg(mArg1, text); }

bool WCXMLWireMsgRequestAckReq::SetArg2(const char* text) { return SetArg(mArg2, text); }

bool WCXMLWireMsgRequestAckReq::SetArg(char*& slot, const char* text) {
  if (!IsGiven(text)) return true;
  if (!KeepCopy(slot, text)) {
    ReleaseImage();
    return false;
  }
  return AppendArg(text);
}

WCXMLWireMsgRequestFileAck::WCXMLWireMsgRequestFileAck() noexcept
    : mName1(nullptr), mName2(nullptr) {}

WCXMLWireMsgRequestFileAck::~WCXMLWireMsgRequestFileAck() { ForgetNames(); }

bool WCXMLWireMsgRequestFileAck::SetInfo(uint32_t sessionID, const char* name1, const char* name2) {
  ForgetNames();
  uint32_t spare = ArgTextLength(name1) + ArgTextLength(name2);
  if (!BuildHead(1, sessionID, kTypeFile, kAckPositive, kStatusNone, spare)) return false;
  if (!KeepCopy(mName1, name1) || !KeepCopy(mName2, name2)) {
    ReleaseImage();
    return false;
  }
  return AppendArg(name1) && AppendArg(name2);
}

void WCXMLWireMsgRequestFileAck::ForgetNames() {
  Forget(mName1);
  Forget(mName2);
}

WCXMLWireMsgRequestBlockAck::WCXMLWireMsgRequestBlockAck() noexcept
    : mBlockNumber(0), mData(nullptr), mDataLength(0), mLastBlock(0) {}

WCXMLWireMsgRequestBlockAck::~WCXMLWireMsgRequestBlockAck() = default;

// One allocation sized for the whole image, then plain copies: the receive path builds
// one of these per block at full line rate.
bool WCXMLWireMsgRequestBlockAck::SetInfo(uint32_t sessionID, uint32_t blockNumber,
                                          uint16_t dataLength, const void* data,
                                          uint8_t lastBlock) {
  mBlockNumber = blockNumber;
  mDataLength = dataLength;
  mLastBlock = lastBlock;
  mData = nullptr;

  char number[16];
  int numberLength = std::snprintf(number, sizeof number, "%u:", blockNumber);
  const unsigned char length[2] = {static_cast<unsigned char>(dataLength >> 8),
                                   static_cast<unsigned char>(dataLength & 0xFF)};
  uint32_t spare = static_cast<uint32_t>(numberLength) + sizeof length + dataLength + kMarkerLength;
  if (!BuildHead(1, sessionID, kTypeBlock, kAckPositive, kStatusNone, spare) ||
      !AppendData(number, static_cast<uint32_t>(numberLength)) ||
      !AppendData(length, sizeof length)) {
    return false;
  }
  uint32_t dataOffset = GetMsgLen() - 1;
  if (!AppendData(data, dataLength) ||
      !AppendData(lastBlock == 1 ? "BLKe" : "BLKm", kMarkerLength)) {
    return false;
  }
  mData = reinterpret_cast<const uint8_t*>(GetMsgBuf()) + dataOffset;
  return true;
}
