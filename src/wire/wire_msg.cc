// SPDX-License-Identifier: MIT
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "owclient/wire_messages.h"
#include "runtime/alloc_hook.h"

namespace {

constexpr uint64_t kMaxImage = UINT32_MAX;

}  // namespace

WCXMLWireMsg::WCXMLWireMsg() noexcept
    : mType(kTypeInvalid),
      mAckType(kAckNone),
      mStatus(kStatusNone),
      mHasSessionID(0),
      mSessionID(0),
      mMsgBuf(nullptr),
      mMsgLen(0),
      mMsgCapacity(0) {}

WCXMLWireMsg::~WCXMLWireMsg() { std::free(mMsgBuf); }

bool WCXMLWireMsg::SetHeader(uint8_t hasSessionID, uint32_t sessionID, uint32_t type,
                             uint32_t ackType, int32_t status) {
  return BuildHead(hasSessionID, sessionID, type, ackType, status, 0);
}

bool WCXMLWireMsg::BuildHead(uint8_t hasSessionID, uint32_t sessionID, uint32_t type,
                             uint32_t ackType, int32_t status, uint32_t spare) {
  mType = type;
  mAckType = ackType;
  mStatus = status;
  mHasSessionID = hasSessionID;
  mSessionID = sessionID;
  ReleaseImage();

  // Any flag value other than 1 means no prefix; the flag itself is kept as given.
  char prefix[16];
  int prefixLength = 0;
  if (hasSessionID == 1) {
    prefixLength = std::snprintf(prefix, sizeof prefix, "%d:", static_cast<int32_t>(sessionID));
  }
  const char* keyword = GetMsgKeyword(type);
  size_t keywordLength = std::strlen(keyword);
  const char* statusText = status != kStatusNone ? GetStatusText(status) : nullptr;
  size_t statusLength = statusText != nullptr ? std::strlen(statusText) + 1 : 0;
  size_t length = prefixLength + (ackType != kAckNone ? 1 : 0) + keywordLength + statusLength + 1;
  if (!Reserve(static_cast<uint64_t>(length) + spare)) return false;

  char* out = mMsgBuf;
  std::memcpy(out, prefix, prefixLength);
  out += prefixLength;
  if (ackType != kAckNone) *out++ = static_cast<char>(ackType);
  std::memcpy(out, keyword, keywordLength);
  out += keywordLength;
  if (statusText != nullptr) {
    *out++ = ' ';
    std::memcpy(out, statusText, statusLength - 1);
    out += statusLength - 1;
  }
  *out = '\0';
  mMsgLen = static_cast<uint32_t>(length);
  return true;
}

bool WCXMLWireMsg::AppendData(const void* data, uint32_t length) {
  if (mMsgBuf == nullptr) return false;
  uint64_t needed = static_cast<uint64_t>(mMsgLen) + length;
  if (needed > mMsgCapacity && !Reserve(needed)) return false;
  if (length != 0) std::memcpy(mMsgBuf + mMsgLen - 1, data, length);
  mMsgLen = static_cast<uint32_t>(needed);
  mMsgBuf[mMsgLen - 1] = '\0';
  return true;
}

bool WCXMLWireMsg::AppendArg(const char* text) {
  uint32_t length = ArgTextLength(text);
  if (length == 0) return true;
  char arg[kMaxArgText];
  arg[0] = ' ';
  std::memcpy(arg + 1, text, length - 1);
  return AppendData(arg, length);
}

uint32_t WCXMLWireMsg::ArgTextLength(const char* text) {
  if (text == nullptr || text[0] == '\0') return 0;
  size_t length = std::strlen(text) + 1;
  const size_t limit = kMaxArgText;
  return static_cast<uint32_t>(length < limit ? length : limit);
}

void WCXMLWireMsg::ReleaseImage() {
  std::free(mMsgBuf);
  mMsgBuf = nullptr;
  mMsgLen = 0;
  mMsgCapacity = 0;
}

bool WCXMLWireMsg::Reserve(uint64_t needed) {
  if (needed <= mMsgCapacity) return true;
  // Doubling keeps an image built by many appends linear in its size.
  uint64_t capacity = needed;
  if (capacity < 2 * static_cast<uint64_t>(mMsgCapacity)) capacity = 2 * mMsgCapacity;
  if (capacity > kMaxImage) capacity = kMaxImage;
  void* buffer = needed <= kMaxImage ? owc::ReallocOrNull(mMsgBuf, capacity) : nullptr;
  if (buffer == nullptr) {
    ReleaseImage();
    return false;
  }
  mMsgBuf = static_cast<char*>(buffer);
  mMsgCapacity = static_cast<uint32_t>(capacity);
  return true;
}
