// SPDX-License-Identifier: MIT
#include "doc/property_path.h"

#include <cctype>
#include <cstring>

namespace owc {

WCXMLParsePath::~WCXMLParsePath() {
  Position pos = GetHeadPosition();
  while (pos != nullptr) delete GetNext(pos);
  RemoveAll();
}

namespace {

// atoi-like reading of [begin, end), saturating at the 32-bit limits.
int32_t ReadIndex(const char* begin, const char* end) {
  const char* p = begin;
  while (p < end && std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int64_t value = 0;
  while (p < end && *p >= '0' && *p <= '9') {
    if (value <= INT32_MAX) value = value * 10 + (*p - '0');
    ++p;
  }
  if (negative) value = -value;
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

}  // namespace

SegmentError ParsePathSegment(const char* text, char separator, PathSegment* segment) {
  if (*text != separator) return SegmentError::kNoSeparator;
  const char* close = std::strchr(text + 1, ')');
  if (close == nullptr) return SegmentError::kNoEnd;
  const char* open = static_cast<const char*>(std::memchr(text + 1, '(', close - (text + 1)));
  if (open == nullptr) return SegmentError::kNoBeginning;
  segment->name = text + 1;
  segment->nameLen = static_cast<size_t>(open - (text + 1));
  segment->index = ReadIndex(open + 1, close);
  segment->next = close + 1;
  segment->last = *segment->next == '\0';
  return segment->index < -1 ? SegmentError::kBadIndex : SegmentError::kNone;
}

}  // namespace owc
