// SPDX-License-Identifier: MIT
#include "wire/wire_msg_tables.h"

#include <cstring>

namespace {

constexpr uint32_t kTypeCount = 11;  // 0 to 9 and the unknown type 10
const char* const kMsgKeywords[kTypeCount] = {"Tazu", "USER", "FLTR", "RQST", "ACK", "FILE",
                                              "BLK",  "HRTB", "DONE", "UNKN", "????"};

constexpr uint32_t kRequestTypeCount = 3;  // 0, 1 and the unknown type 2
const char* const kRequestKeywords[kRequestTypeCount] = {"ALL", "STORY", "????"};

struct StatusText {
  int32_t code;
  const char* text;
};
const StatusText kStatusTexts[] = {
    {204, "(204) No content"},          {401, "(401) Unauthorized"}, {404, "(404) Not found"},
    {405, "(405) Method not allowed"},  {409, "(409) Conflict"},     {410, "(410) Gone"},
    {503, "(503) Service unavailable"},
};
const char* const kBadRequestText = "(400) Bad request";

// ASCII only: the protocol's keywords must not depend on the process locale.
char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c; }

bool EqualNoCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool WordEqualNoCase(const char* word, const char* keyword) {
  size_t length = std::strlen(keyword);
  return std::strlen(word) == length && EqualNoCase(word, keyword, length);
}

}  // namespace

const char* GetMsgKeyword(uint32_t type) {
  // Types outside the table read as the unknown type.
  return kMsgKeywords[type < kTypeCount ? type : WCXMLWireMsg::kTypeInvalid];
}

const char* GetRequestKeyword(uint32_t requestType) {
  return kRequestKeywords[requestType < kRequestTypeCount ? requestType
                                                          : WCXMLWireMsgFilterReq::kRequestUnknown];
}

uint32_t GetRequestType(const char* word) {
  if (word == nullptr) return WCXMLWireMsgFilterReq::kRequestUnknown;
  for (uint32_t type = 0; type < WCXMLWireMsgFilterReq::kRequestUnknown; ++type) {
    if (WordEqualNoCase(word, kRequestKeywords[type])) return type;
  }
  return WCXMLWireMsgFilterReq::kRequestUnknown;
}

const char* GetStatusText(int32_t code) {
  for (const StatusText& entry : kStatusTexts) {
    if (entry.code == code) return entry.text;
  }
  return kBadRequestText;
}

namespace owc {

uint32_t GetMsgType(const char* word) {
  if (word == nullptr) return WCXMLWireMsg::kTypeInvalid;
  for (uint32_t type = 0; type < WCXMLWireMsg::kTypeInvalid; ++type) {
    if (WordEqualNoCase(word, kMsgKeywords[type])) return type;
  }
  return WCXMLWireMsg::kTypeInvalid;
}

uint32_t GetMsgTypeByPrefix(const char* text, uint32_t available) {
  for (uint32_t type = 0; type < WCXMLWireMsg::kTypeInvalid; ++type) {
    size_t length = std::strlen(kMsgKeywords[type]);
    if (available < length) length = available;
    if (EqualNoCase(text, kMsgKeywords[type], length)) return type;
  }
  return WCXMLWireMsg::kTypeInvalid;
}

}  // namespace owc
