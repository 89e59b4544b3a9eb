// SPDX-License-Identifier: MIT
// The messages that carry nothing beyond the header, and USER with its optional text.
#include "owclient/wire_messages.h"

namespace {

uint32_t AckOf(bool accepted) {
  return accepted ? WCXMLWireMsg::kAckPositive : WCXMLWireMsg::kAckNegative;
}

}  // namespace

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
