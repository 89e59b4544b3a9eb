// SPDX-License-Identifier: MIT
// Reading of the tag translation table text.
#include <cstring>

#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"
#include "template/tag_xlate.h"

namespace owc {

namespace {

const char* FindByte(const char* from, const char* end, char byte) {
  if (from >= end) return nullptr;
  return static_cast<const char*>(std::memchr(from, byte, static_cast<size_t>(end - from)));
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one decimal integer as scanf's "%d" does (white space, line breaks included,
// skipped first); only whether it is 0 matters to the caller.
bool ReadFlag(const char** p, const char* end, uint8_t* flag) {
  const char* s = *p;
  while (s < end && IsBlank(*s)) ++s;
  if (s < end && (*s == '+' || *s == '-')) ++s;
  const char* digits = s;
  bool nonZero = false;
  while (s < end && *s >= '0' && *s <= '9') nonZero |= *s++ != '0';
  if (s == digits) return false;
  *flag = nonZero ? 1 : 0;
  *p = s;
  return true;
}

// Reads a quoted field: on success *head/*tail are its quotes.
bool ReadQuoted(const char* from, const char* end, const char** head, const char** tail,
                const char* noHeadMessage, const char* noTailMessage, XlateLine* line) {
  *head = FindByte(from, end, '"');
  if (*head == nullptr) {
    TraceLog(kLevelProgress, noHeadMessage);
    line->error = true;
    return false;
  }
  *tail = FindByte(*head + 1, end, '"');
  if (*tail == nullptr) {
    TraceLog(kLevelProgress, noTailMessage);
    line->error = true;
    return false;
  }
  return true;
}

// The "keep NAME ..." that may follow the flags of an entry, up to the end of its line;
// text that does not start with the word is ignored, as it always was.
void ReadKeepList(const char* from, const char* end, std::vector<std::string>* keep) {
  const char* p = from;
  while (p < end && IsBlank(*p)) ++p;
  if (end - p < 5 || std::memcmp(p, "keep", 4) != 0 || !IsBlank(p[4])) return;
  p += 4;
  while (p < end) {
    while (p < end && IsBlank(*p)) ++p;
    const char* start = p;
    while (p < end && !IsBlank(*p)) ++p;
    if (p == start) break;
    std::string name(start, p);
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    keep->push_back(std::move(name));
  }
}

}  // namespace

bool XlateTableParseLine(const char* text, size_t len, size_t* offset, XlateLine* line) {
  *line = XlateLine();
  const char* end = text + len;
  const char* head = FindByte(text + *offset, end, '"');
  if (head == nullptr) return false;
  line->noEntry = false;
  const char* tail = FindByte(head + 1, end, '"');
  if (tail == nullptr) {
    TraceLog(kLevelProgress, "WCHTMLTemplate::XlateTableParseLine NoQuoteTail for QuoteHead");
    line->error = true;
    return false;
  }
  line->xmlTag.assign(head + 1, tail);
  if (!ReadQuoted(tail + 1, end, &head, &tail,
                  "WCHTMLTemplate::XlateTableParseLine QuoteHead NULL for HTML Start Tag",
                  "WCHTMLTemplate::XlateTableParseLine QuoteTail NULL for HTML Start Tag", line)) {
    return false;
  }
  line->htmlStart.assign(head + 1, tail);
  if (!ReadQuoted(tail + 1, end, &head, &tail,
                  "WCHTMLTemplate::XlateTableParseLine QuoteHead NULL for HTML End Tag",
                  "WCHTMLTemplate::XlateTableParseLine QuoteTail NULL for HTML End Tag", line)) {
    return false;
  }
  line->htmlEnd.assign(head + 1, tail);
  const char* flags = tail + 1;
  const char* p = flags;
  if (!ReadFlag(&p, end, &line->dropContent) || !ReadFlag(&p, end, &line->dropAttributes)) {
    size_t shown = static_cast<size_t>(end - flags) < 30 ? static_cast<size_t>(end - flags) : 30;
    std::string input(flags, shown);
    TraceLogF(kLevelProgress, "WCHTMLTemplate::XlateTableParseLine sscanf != 2, Input = %s",
              input.c_str());
    line->error = true;
    return false;
  }
  const char* lineFeed = FindByte(flags, end, '\n');
  ReadKeepList(p, lineFeed != nullptr ? lineFeed : end, &line->keepAttributes);
  if (lineFeed == nullptr) return false;
  *offset = static_cast<size_t>(lineFeed - text);
  return true;
}

WCHTMLTemplateXlateMap::~WCHTMLTemplateXlateMap() { Clear(); }

void WCHTMLTemplateXlateMap::Clear() {
  mIndex.clear();
  Position pos = GetHeadPosition();
  while (pos != nullptr) delete GetNext(pos);
  RemoveAll();
}

bool WCHTMLTemplateXlateMap::Load(const char* buffer, uint32_t len) {
  Clear();
  const bool loaded = LoadEntries(buffer, len);
  RebuildIndex();  // also after an error: the entries read before stay in use
  return loaded;
}

bool WCHTMLTemplateXlateMap::LoadEntries(const char* buffer, uint32_t len) {
  if (buffer == nullptr || len == 0) return true;
  size_t offset = 0;
  bool more = true;
  XlateLine line;
  while (more && offset < len) {
    more = XlateTableParseLine(buffer, len, &offset, &line);
    if (line.error) {
      TraceLog(kLevelFailure, "WCHTMLTemplate::SetXlateTable parse error in translation buffer");
      return false;
    }
    if (line.noEntry) break;
    WCHTMLTemplateXlate* entry = NewOrNull<WCHTMLTemplateXlate>();
    if (entry == nullptr) {
      TraceLog(kLevelFailure, "WCHTMLTemplate::SetXlateTable new WCHTMLTemplateXlate failed");
      return false;
    }
    entry->xmlTag = std::move(line.xmlTag);
    entry->htmlStart = std::move(line.htmlStart);
    entry->htmlEnd = std::move(line.htmlEnd);
    entry->dropContent = line.dropContent;
    entry->dropAttributes = line.dropAttributes;
    entry->keepAttributes = std::move(line.keepAttributes);
    if (AddTail(entry) == nullptr) {
      delete entry;
      TraceLog(kLevelFailure, "WCHTMLTemplate::SetXlateTable mTagXlateMap.AddTail failed");
      return false;
    }
  }
  return true;
}

}  // namespace owc
