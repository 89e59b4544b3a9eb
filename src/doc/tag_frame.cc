// SPDX-License-Identifier: MIT
#include "doc/tag_frame.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "doc/doc_settings.h"
#include "doc/entity_references.h"
#include "runtime/alloc_hook.h"

namespace owc {

// The values are escaped on purpose, against the older rule of writing them raw: expat
// hands over values with their references resolved, so a value written raw, such as
// href="x&quot; onmouseover=&quot;alert(1)", would leave its quotes and put an event
// handler on the page. Text is escaped in these modes for the same reason.
bool EscapesAttributes(uint32_t entityMode) {
  return entityMode == kEntityRefEscape || entityMode == kEntityRefEscapeApos;
}

void AppendAttributeText(std::string* out, const char* name, const char* value,
                         uint32_t entityMode) {
  out->push_back(' ');
  out->append(name);
  out->append("=\"", 2);
  if (EscapesAttributes(entityMode)) {
    const size_t len = std::strlen(value);
    const size_t at = out->size();
    out->resize(at + len * kMaxEscapeGrowth);
    out->resize(at + WriteEntityEscaped(&(*out)[at], value, len, entityMode == kEntityRefEscapeApos,
                                        nullptr));
  } else {
    out->append(value);
  }
  out->push_back('"');
}

void* WCXMLDocTagFrame::operator new(size_t n) {
  void* p = CacheAllocate(n);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

bool WCXMLDocTagFrame::SetPath(const std::string& path, const char* tag) {
  if (tag == nullptr) return false;
  const size_t tagLen = std::strlen(tag);
  return TryAllocate(path.size() + tagLen, [&] {
    // Room for a few short attributes, so that adding them seldom moves the text.
    mText.reserve(path.size() + tagLen + 2 + 32);
    mText.assign(path.data(), path.size());
    mText.push_back('\0');
    mText.append(tag, tagLen + 1);
    mPathLen = path.size();
    mTagLen = tagLen;
    mAttrCount = 0;
  });
}

bool WCXMLDocTagFrame::AddAttribute(const char* name, const char* value) {
  if (name == nullptr || value == nullptr) return false;
  const size_t nameLen = std::strlen(name);
  const size_t valueLen = std::strlen(value);
  const size_t before = mText.size();
  const bool added = TryAllocate(nameLen + valueLen, [&] {
    mText.append(name, nameLen + 1);
    mText.append(value, valueLen + 1);
  });
  if (added) {
    ++mAttrCount;
  } else if (mText.size() > before) {
    mText.resize(before);
  }
  return added;
}

bool WCXMLDocTagFrame::AppendData(const char* data, size_t len) {
  return mContent.Append(data, len);
}

bool WCXMLDocTagFrame::AppendEscaped(const char* data, size_t len, bool escapeApos) {
  if (len > SIZE_MAX / kMaxEscapeGrowth) return false;
  char* dest = mContent.Reserve(len * kMaxEscapeGrowth);
  if (dest == nullptr) return false;
  mContent.Commit(WriteEntityEscaped(dest, data, len, escapeApos, nullptr));
  return true;
}

namespace {

// Element names are a few bytes: counted in place rather than by a call for each tag. The
// bound keeps the loop a loop (unbounded, the compiler makes it a strlen call again).
size_t NameLength(const char* name) {
  constexpr size_t kCounted = 32;
  size_t len = 0;
  while (len < kCounted && name[len] != '\0') ++len;
  return len < kCounted ? len : kCounted + std::strlen(name + kCounted);
}

// Attributes whose name and value lengths are kept from the bound for the copy; further
// ones (rare in a story's markup) are measured again.
constexpr size_t kMeasuredAttributes = 8;

}  // namespace

// The tag is written in one reservation: at most its bytes with each attribute value grown
// by the escaping, instead of a capacity check for each of its pieces.
bool WCXMLDocTagFrame::AppendTagText(const char* name, const char** attrs, bool endTag,
                                     uint32_t entityMode) {
  const bool escape = EscapesAttributes(entityMode);
  const size_t growth = escape ? kMaxEscapeGrowth : 1;
  const size_t nameLen = NameLength(name);
  size_t measured[2 * kMeasuredAttributes];
  size_t most = nameLen + 3;  // "</" and ">"
  size_t count = 0;
  for (const char** a = attrs; !endTag && a != nullptr && a[0] != nullptr; a += 2, ++count) {
    const size_t attrLen = std::strlen(a[0]);
    const size_t valueLen = std::strlen(a[1]);
    if (count < kMeasuredAttributes) {
      measured[2 * count] = attrLen;
      measured[2 * count + 1] = valueLen;
    }
    if (valueLen > (SIZE_MAX / 2 - most) / growth) return false;
    most += attrLen + 4 + valueLen * growth;  // ' ', '=' and the two quotes
  }
  char* const start = mContent.Reserve(most);
  if (start == nullptr) return false;
  char* out = start;
  *out++ = '<';
  if (endTag) *out++ = '/';
  CopyBytes(out, name, nameLen);
  out += nameLen;
  count = 0;
  for (const char** a = attrs; !endTag && a != nullptr && a[0] != nullptr; a += 2, ++count) {
    const bool known = count < kMeasuredAttributes;
    const size_t attrLen = known ? measured[2 * count] : std::strlen(a[0]);
    const size_t valueLen = known ? measured[2 * count + 1] : std::strlen(a[1]);
    *out++ = ' ';
    CopyBytes(out, a[0], attrLen);
    out += attrLen;
    *out++ = '=';
    *out++ = '"';
    if (escape) {
      out += WriteEntityEscaped(out, a[1], valueLen, entityMode == kEntityRefEscapeApos, nullptr);
    } else {
      CopyBytes(out, a[1], valueLen);
      out += valueLen;
    }
    *out++ = '"';
  }
  *out++ = '>';
  mContent.Commit(static_cast<size_t>(out - start));
  return true;
}

const char* WCXMLDocTagFrame::FindAttribute(const char* name) const {
  const char* at = mText.data() + AttributesStart();
  for (size_t i = 0; i < mAttrCount; ++i) {
    const size_t nameLen = std::strlen(at);
    const char* value = at + nameLen + 1;
    if (std::strcmp(at, name) == 0) return value;
    at = value + std::strlen(value) + 1;
  }
  return nullptr;
}

void WCXMLDocTagFrame::AppendStartTag(std::string* out) const {
  out->push_back('<');
  out->append(mText.data() + mPathLen + 1, mTagLen);
  const char* at = mText.data() + AttributesStart();
  for (size_t i = 0; i < mAttrCount; ++i) {
    const char* value = at + std::strlen(at) + 1;
    AppendAttributeText(out, at, value, mAttrMode);
    at = value + std::strlen(value) + 1;
  }
  out->push_back('>');
}

void WCXMLDocTagFrame::AppendElement(std::string* out) const {
  // One allocation for the usual case (attributes may still grow it).
  out->reserve(out->size() + mContent.Size() + 2 * mTagLen + 8);
  AppendStartTag(out);
  out->append(mContent.View().data(), mContent.Size());
  out->append("</", 2);
  out->append(mText.data() + mPathLen + 1, mTagLen);
  out->push_back('>');
}

}  // namespace owc
