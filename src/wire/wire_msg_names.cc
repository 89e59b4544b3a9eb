// SPDX-License-Identifier: MIT
// The two messages that keep copies of their string arguments: ACK (sent) and FILE
// (received). The copies are kept whole; only the image cuts an argument.
#include <cstdlib>

#include "owclient/wire_messages.h"
#include "runtime/alloc_hook.h"

namespace {

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

}  // namespace

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
