// SPDX-License-Identifier: MIT
// Parsing of a story document with expat and capture of the indexed elements.
//
// Only elements that the given property index names are stored; everything else is
// dropped as it streams by. Matching is incremental: each open element remembers the
// index level in which its children are looked up, so an element outside every indexed
// path costs one null test.
#include <expat.h>

#include <climits>
#include <cstring>

#include "doc/declared_encoding.h"
#include "doc/doc_settings.h"
#include "doc/html_entities.h"
#include "doc/parser_cache.h"
#include "doc/search_level.h"
#include "doc/xml_doc.h"
#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

// Documents larger than this are fed to expat in several calls (its length is an int).
constexpr size_t kMaxChunk = 1u << 30;

void AppendDecimal(std::string* out, int32_t value) {
  char digits[16];
  char* end = digits + sizeof digits;
  char* p = end;
  uint32_t v = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  do {
    *--p = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (value < 0) *--p = '-';
  out->append(p, static_cast<size_t>(end - p));
}

// A story never makes the parser open a file or a URL: a reference to an external entity
// fails the parse with expat's own error, which is logged with the document's name.
int XMLCALL RefuseExternalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                                 const XML_Char*) {
  return XML_STATUS_ERROR;
}

}  // namespace

bool WCXMLDoc::Parse(const WCXMLSearchLevel& index, XMLParserCache* parsers) {
  XMLParserCache own;
  if (parsers == nullptr) parsers = &own;
  bool parsed = ParseDocument(mRDFBytes, mRDFName, "RDF", index, parsers) &&
                ParseDocument(mXMLBytes, mXMLName, "XML", index, parsers);
  for (OpenElement& open : mOpen) open.childLevel = nullptr;
  return parsed;
}

void WCXMLDoc::ResetParseState(const WCXMLSearchLevel* index) {
  mPathText.clear();
  mDoctypeSystemId.clear();
  mHasDoctypeSystemId = false;
  mEntityDtdRead = false;
  mUndefinedEntities.clear();
  mDepth = 0;
  mDeadDepth = 0;
  if (mOpen.empty()) mOpen.emplace_back();
  mCounters.clear();
  mCounterNames.clear();
  mOpen[0].countersAt = 0;
  mOpen[0].namesAt = 0;
  mOpen[0].captured = false;
  mOpen[0].childLevel = index;
  mParseTagStack.clear();
}

bool WCXMLDoc::ParseDocument(const std::string& bytes, const std::string& name, const char* kind,
                             const WCXMLSearchLevel& index, XMLParserCache* parsers) {
  if (bytes.empty() || bytes[0] == '\0') return true;
  ResetParseState(&index);
  mCurrentName = name;
  mSeparator = GetLevelSeparator();
  mEntityMode = GetEntityRefOutput();
  mReadOptions = GetReadOptions();
  std::string transcoded;
  std::string declared;
  const std::string* input = ReadableBytes(bytes, kind, &transcoded, &declared);
  // The parser is told UTF-8 whatever the document declares: a transcoded document
  // still carries its original declaration.
  XML_Parser parser = parsers->Take();
  if (parser == nullptr) {
    TraceLogF(kLevelFailure, "WCXMLDoc::Parse ::XML_ParserCreateNS failed for %s [%s]", kind,
              mCurrentName.c_str());
    return false;
  }
  // Expat's defaults stay in force besides: the external DTD subset and parameter entities
  // are never read, and the amplification protection against entity expansion is active.
  XML_SetExternalEntityRefHandler(parser, RefuseExternalEntity);
  XML_SetUserData(parser, this);
  XML_SetElementHandler(parser, ParseCBStartEltHandler, ParseCBEndEltHandler);
  XML_SetCharacterDataHandler(parser, ParseCBCharDataHandler);
  SetReadingHandlers(parser);
  mParser = parser;
  XML_Status status = XML_STATUS_OK;
  size_t offset = 0;
  do {
    size_t chunk = input->size() - offset < kMaxChunk ? input->size() - offset : kMaxChunk;
    bool final = offset + chunk == input->size();
    status = XML_Parse(parser, input->data() + offset, static_cast<int>(chunk), final);
    offset += chunk;
  } while (status == XML_STATUS_OK && offset < input->size());
  if (status != XML_STATUS_OK) {
    TraceLogF(kLevelFailure, "WCXMLDoc::Parse %s parse error: [%s] at line %d for [%s]", kind,
              XML_ErrorString(XML_GetErrorCode(parser)),
              static_cast<int>(XML_GetCurrentLineNumber(parser)), mCurrentName.c_str());
    if (input == &bytes && (mReadOptions & kReadDeclaredEncoding) != 0 && !IsValidUtf8(bytes)) {
      TraceLogF(kLevelFailure,
                "WCXMLDoc::Parse %s [%s] declares the encoding [%s] and its bytes are not UTF-8: "
                "only UTF-8, ISO-8859-1, windows-1252 and US-ASCII are read",
                kind, mCurrentName.c_str(), declared.empty() ? "none" : declared.c_str());
    }
  }
  mParser = nullptr;
  mParseTagStack.clear();  // frames of elements left open by an error
  return status == XML_STATUS_OK;
}

// The bytes to parse: the document itself, or (declared-encoding option) its text
// transcoded to UTF-8 when it is not UTF-8 but declares a single-byte encoding we read.
// Valid UTF-8 is never transcoded, whatever it declares: feeds label UTF-8 as Latin-1
// often, and it reads correctly as it is.
const std::string* WCXMLDoc::ReadableBytes(const std::string& bytes, const char* kind,
                                           std::string* transcoded, std::string* declared) {
  if ((mReadOptions & kReadDeclaredEncoding) == 0 || IsValidUtf8(bytes)) return &bytes;
  *declared = DeclaredEncoding(bytes);
  const SingleByteEncoding encoding = ClassifyEncoding(*declared);
  if (encoding == SingleByteEncoding::kNone) return &bytes;
  TranscodeToUtf8(bytes, encoding, transcoded);
  TraceLogF(kLevelProgress, "WCXMLDoc::Parse %s [%s] read as %s", kind, mCurrentName.c_str(),
            encoding == SingleByteEncoding::kLatin1 ? "ISO-8859-1" : "windows-1252");
  return transcoded;
}

// Every callback catches everything: no exception may unwind through expat's C frames.
// A failure that escapes the handler's own checks (exhausted memory) stops the parse,
// which then fails as any other parse error does, with expat's "parsing aborted".
void WCXMLDoc::AbortParse() {
  if (mParser != nullptr) XML_StopParser(mParser, XML_FALSE);
}

void WCXMLDoc::ParseCBStartEltHandler(void* user, const char* name, const char** attrs) {
  WCXMLDoc* doc = static_cast<WCXMLDoc*>(user);
  try {
    doc->StartElement(name, attrs);
  } catch (...) {
    doc->AbortParse();
  }
}

void WCXMLDoc::ParseCBEndEltHandler(void* user, const char* name) {
  WCXMLDoc* doc = static_cast<WCXMLDoc*>(user);
  try {
    doc->EndElement(name);
  } catch (...) {
    doc->AbortParse();
  }
}

void WCXMLDoc::ParseCBCharDataHandler(void* user, const char* data, int len) {
  WCXMLDoc* doc = static_cast<WCXMLDoc*>(user);
  if (doc->mParseTagStack.empty() || len <= 0) return;  // outside every capture
  try {
    doc->CharData(data, static_cast<size_t>(len));
  } catch (...) {
    doc->AbortParse();
  }
}

int32_t WCXMLDoc::NextSiblingIndex(const OpenElement& parent, const char* name, size_t nameLen) {
  for (size_t i = parent.countersAt; i < mCounters.size(); ++i) {
    SiblingCounter& counter = mCounters[i];
    const char* seen = mCounterNames.data() + counter.nameAt;
    // Sibling names often share a long namespace URI: the last byte rejects most first.
    if (counter.nameLen == nameLen && seen[nameLen - 1] == name[nameLen - 1] &&
        std::memcmp(seen, name, nameLen) == 0) {
      if (counter.count < INT32_MAX) ++counter.count;
      return counter.count;
    }
  }
  SiblingCounter counter;
  counter.nameAt = mCounterNames.size();
  counter.nameLen = nameLen;
  mCounterNames.append(name, nameLen);
  mCounters.push_back(counter);  // only once named: a counter left unnamed is never used
  return 0;
}

// Text for the open captures is written once, into the innermost frame, and copied
// from there to the enclosing ones (usually there are none).
void WCXMLDoc::AddTagTextToStack(const char* name, const char** attrs, bool endTag) {
  WCXMLDocTagFrame& top = *mParseTagStack.back();
  const size_t from = top.GetContent().size();
  if (top.AppendTagText(name, attrs, endTag, mEntityMode) &&
      (mParseTagStack.size() == 1 || CopyTopTailToStack(from))) {
    return;
  }
  if (endTag) {
    TraceLogF(kLevelFailure,
              "WCXMLDoc::ParseCBEndEltHandler [%s] could not add end tag text to stack",
              mCurrentName.c_str());
  } else {
    TraceLogF(kLevelFailure,
              "WCXMLDoc::ParseCBStartEltHandler [%s] could not add start tag text to stack",
              mCurrentName.c_str());
  }
}

void WCXMLDoc::StartElement(const char* name, const char** attrs) {
  if (name == nullptr || *name == '\0') {
    TraceLogF(kLevelFailure, "WCXMLDoc::ParseCBStartEltHandler [%s] recevied NULL start tag",
              mCurrentName.c_str());
    return;
  }
  if ((mReadOptions & kReadPlainNitf) != 0) {
    name = PlainName(name);
    attrs = PlainAttributes(attrs);
  }
  if (!mParseTagStack.empty()) AddTagTextToStack(name, attrs, false);
  const WCXMLSearchLevel* level = mOpen[mDepth].childLevel;
  if (level == nullptr || mDeadDepth > 0) {
    ++mDeadDepth;
    return;
  }
  const size_t nameLen = std::strlen(name);
  int32_t index = 0;
  if (!TryAllocate(sizeof(OpenElement) + nameLen, [&] {
        index = NextSiblingIndex(mOpen[mDepth], name, nameLen);
        if (mOpen.size() == mDepth + 1) mOpen.emplace_back();
      })) {
    // Without a step the element and its content cannot be matched: they pass by.
    TraceLogF(kLevelFailure, "WCXMLDoc::ParseCBStartEltHandler node allocation failed for %s",
              name);
    ++mDeadDepth;
    return;
  }
  OpenElement& self = mOpen[++mDepth];
  self.pathLen = mPathText.size();
  self.countersAt = mCounters.size();
  self.namesAt = mCounterNames.size();
  self.captured = false;
  self.childLevel = nullptr;
  mPathText.push_back(mSeparator);
  mPathText.append(name, nameLen);
  mPathText.push_back('(');
  AppendDecimal(&mPathText, index);
  mPathText.push_back(')');
  if (level->MatchStep(name, nameLen, index, &self.childLevel)) CaptureElement(name, attrs);
}

void WCXMLDoc::CaptureElement(const char* name, const char** attrs) {
  std::unique_ptr<WCXMLDocTagFrame> frame(NewOrNull<WCXMLDocTagFrame>());
  if (frame == nullptr) {
    TraceLogF(kLevelFailure, "WCXMLDoc::ParseCBStartEltHandler [%s] new WCXMLDocTagFrame failed",
              mCurrentName.c_str());
    return;
  }
  frame->SetAttributeMode(mEntityMode);
  if (!frame->SetPath(mPathText, name)) {
    TraceLogF(kLevelFailure, "WCXMLDoc::ParseCBStartEltHandler [%s] tagFrame->SetPath failed",
              mCurrentName.c_str());
    return;
  }
  for (const char** a = attrs; a != nullptr && a[0] != nullptr; a += 2) {
    if (!frame->AddAttribute(a[0], a[1])) {
      TraceLogF(kLevelFailure,
                "WCXMLDoc::ParseCBStartEltHandler [%s] tagFrame->AddAttribute failed",
                mCurrentName.c_str());
      return;
    }
  }
  if (!TryAllocate(sizeof frame, [&] { mParseTagStack.push_back(std::move(frame)); })) {
    TraceLogF(kLevelFailure, "WCXMLDoc::ParseCBStartEltHandler [%s] mParseTagStack.Push failed",
              mCurrentName.c_str());
    return;
  }
  mOpen[mDepth].captured = true;
}

void WCXMLDoc::EndElement(const char* name) {
  if (name == nullptr || *name == '\0') {
    TraceLogF(kLevelFailure, "WCXMLDoc::ParseCBEndEltHandler [%s] received NULL end tag",
              mCurrentName.c_str());
    return;
  }
  if ((mReadOptions & kReadPlainNitf) != 0) name = PlainName(name);
  if (mDeadDepth > 0) {
    --mDeadDepth;
    if (!mParseTagStack.empty()) AddTagTextToStack(name, nullptr, true);
    return;
  }
  if (mDepth == 0) {
    TraceLogF(kLevelFailure,
              "WCXMLDoc::ParseCBEndEltHandler [%s] separator not found in parse path",
              mCurrentName.c_str());
    mPathText.clear();
    return;
  }
  OpenElement& self = mOpen[mDepth--];
  mPathText.resize(self.pathLen);
  mCounters.resize(self.countersAt);
  mCounterNames.resize(self.namesAt);
  if (self.captured) {
    if (mParseTagStack.empty()) {
      TraceLogF(kLevelFailure,
                "WCXMLDoc::ParseCBEndEltHandler [%s] mParseTagStack.Pop returned NULL",
                mCurrentName.c_str());
      return;
    }
    std::unique_ptr<WCXMLDocTagFrame> frame = std::move(mParseTagStack.back());
    mParseTagStack.pop_back();
    // Stories capture a few dozen elements: growing the table step by step would cost
    // more than these buckets.
    if (mPropertyMap.empty()) mPropertyMap.reserve(32);
    auto inserted = mPropertyMap.try_emplace(frame->GetPath());
    if (inserted.second) {
      inserted.first->second = std::move(frame);
    } else {
      TraceLogF(kLevelProgress,
                "WCXMLDoc::ParseCBEndEltHandler [%s] detected duplicate element [%s]",
                mCurrentName.c_str(), frame->GetPath().data());
    }
  }
  if (!mParseTagStack.empty()) AddTagTextToStack(name, nullptr, true);
}

void WCXMLDoc::CharData(const char* data, size_t len) {
  if (mEntityMode != kEntityRefEscape && mEntityMode != kEntityRefEscapeApos) {
    if (!ParseAddCharDataToStack(data, len)) {
      TraceLog(kLevelFailure, "WCXMLDoc::ParseCBCharDataHandler could not add data to tag stack");
    }
    return;
  }
  // One pass that writes what EntitiesConverted would produce (or the text itself when
  // nothing needs escaping, which is the same bytes).
  WCXMLDocTagFrame& top = *mParseTagStack.back();
  const size_t from = top.GetContent().size();
  if (!top.AppendEscaped(data, len, mEntityMode == kEntityRefEscapeApos) ||
      (mParseTagStack.size() > 1 && !CopyTopTailToStack(from))) {
    TraceLog(kLevelFailure,
             "WCXMLDoc::ParseCBCharDataHandler could not add Converted data to tag stack");
  }
}

bool WCXMLDoc::CopyTopTailToStack(size_t from) {
  const std::string_view text = mParseTagStack.back()->GetContent();
  for (size_t i = mParseTagStack.size() - 1; i-- > 0;) {
    if (!mParseTagStack[i]->AppendData(text.data() + from, text.size() - from)) {
      TraceLog(kLevelFailure, "WCXMLDoc::ParseAddCharDataToStack tagFrame->AppendData failed");
      return false;
    }
  }
  return true;
}

bool WCXMLDoc::ParseAddCharDataToStack(const char* data, size_t len) {
  for (auto it = mParseTagStack.rbegin(); it != mParseTagStack.rend(); ++it) {
    if (!(*it)->AppendData(data, len)) {
      TraceLog(kLevelFailure, "WCXMLDoc::ParseAddCharDataToStack tagFrame->AppendData failed");
      return false;
    }
  }
  return true;
}

}  // namespace owc
