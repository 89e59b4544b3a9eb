// SPDX-License-Identifier: MIT
#include "wire_format.h"

#include <cctype>

namespace owwired {
namespace {

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Bytes from 0x80 up pass, so names in UTF-8 do.
bool IsAcceptableByte(unsigned char c) {
  return (c >= 0x20 && c != 0x7F) || IsBlank(static_cast<char>(c));
}

std::vector<std::string> SplitOnBlanks(std::string_view text) {
  std::vector<std::string> tokens;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsBlank(text[i])) ++i;
    size_t start = i;
    while (i < text.size() && !IsBlank(text[i])) ++i;
    if (i > start) tokens.emplace_back(text.substr(start, i - start));
  }
  return tokens;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

Keyword KeywordOf(std::string_view word) {
  static const struct {
    const char* text;
    Keyword keyword;
  } kTable[] = {{"USER", Keyword::kUser},      {"FLTR", Keyword::kFilter},
                {"RQST", Keyword::kRequest},   {"ACK", Keyword::kAck},
                {"HRTB", Keyword::kHeartbeat}, {"DONE", Keyword::kDone}};
  for (const auto& entry : kTable) {
    if (EqualsIgnoringCase(word, entry.text)) return entry.keyword;
  }
  return Keyword::kUnknown;
}

// The client writes its session id as a signed 32-bit number, so "-5:" is accepted as well
// and read back as the same 32 bits.
bool ParseSessionPrefix(std::string_view* head, ClientMessage* out) {
  bool negative = !head->empty() && (*head)[0] == '-' && head->size() > 1 &&
                  std::isdigit(static_cast<unsigned char>((*head)[1]));
  size_t digitsStart = negative ? 1 : 0;
  if (head->size() <= digitsStart ||
      !std::isdigit(static_cast<unsigned char>((*head)[digitsStart]))) {
    return true;  // no prefix
  }
  size_t colon = head->find(':');
  if (colon == std::string_view::npos) return false;
  uint32_t value = 0;
  if (!ParseU32(head->substr(digitsStart, colon - digitsStart), &value)) return false;
  if (negative && value > 0x80000000u) return false;
  out->hasSession = true;
  out->sessionId = negative ? 0u - value : value;
  head->remove_prefix(colon + 1);
  return true;
}

}  // namespace

bool ParseU32(std::string_view text, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t result = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    result = result * 10 + static_cast<uint64_t>(c - '0');
  }
  if (result > 0xFFFFFFFFull) return false;
  *value = static_cast<uint32_t>(result);
  return true;
}

bool ParseClientMessage(std::string_view text, ClientMessage* out) {
  *out = ClientMessage();
  for (char c : text) {
    if (!IsAcceptableByte(static_cast<unsigned char>(c))) return false;
  }
  std::vector<std::string> tokens = SplitOnBlanks(text);
  if (tokens.empty()) return false;
  std::string_view head = tokens[0];
  if (!ParseSessionPrefix(&head, out)) return false;
  if (!head.empty() && (head[0] == '+' || head[0] == '-')) {
    out->ack = head[0];
    head.remove_prefix(1);
  }
  if (head.empty()) return false;
  out->keywordText = std::string(head);
  out->keyword = KeywordOf(head);
  out->args.assign(tokens.begin() + 1, tokens.end());
  return true;
}

std::string_view StatusText(int code) {
  switch (code) {
    case 204:
      return "(204) No content";
    case 401:
      return "(401) Unauthorized";
    case 404:
      return "(404) Not found";
    case 405:
      return "(405) Method not allowed";
    case 409:
      return "(409) Conflict";
    case 410:
      return "(410) Gone";
    case 503:
      return "(503) Service unavailable";
    default:
      return "(400) Bad request";
  }
}

std::string TextMessage(Prefix prefix, char ack, std::string_view keyword, int status,
                        const std::vector<std::string>& args) {
  std::string text;
  if (prefix.present) text = std::to_string(prefix.id) + ":";
  if (ack != 0) text += ack;
  text += keyword;
  if (status != 0) {
    text += ' ';
    text += StatusText(status);
  }
  for (const std::string& arg : args) {
    text += ' ';
    text += arg;
  }
  text += '\0';
  return text;
}

std::string BlockHead(Prefix prefix, uint32_t number, uint32_t length) {
  std::string head;
  if (prefix.present) head = std::to_string(prefix.id) + ":";
  head += "+BLK";
  head += std::to_string(number);
  head += ':';
  head += static_cast<char>((length >> 8) & 0xFF);
  head += static_cast<char>(length & 0xFF);
  return head;
}

std::string_view BlockTail(bool last) {
  static const char kLast[] = "BLKe";
  static const char kMore[] = "BLKm";
  return std::string_view(last ? kLast : kMore, 5);  // the NUL is part of the message
}

}  // namespace owwired
