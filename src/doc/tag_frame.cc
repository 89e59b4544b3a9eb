// SPDX-License-Identifier: MIT
#include "doc/tag_frame.h"

#include <cstdint>
#include <cstring>

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

bool WCXMLDocTagFrame::SetPath(const std::string& path, const char* tag) {
  if (tag == nullptr) return false;
  const size_t tagLen = std::strlen(tag);
  return TryAllocate(path.size() + tagLen, [&] {
    // Room for a few short attributes, so that adding them seldom moves the text.
    mText.reserve(path.size() + tagLen + 2 + 32);
    mText.assign(path);
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

bool WCXMLDocTagFrame::AppendTagText(const char* name, const char** attrs, bool endTag,
                                     uint32_t entityMode) {
  bool ok = endTag ? mContent.Append("</", 2) : mContent.AppendByte('<');
  ok = ok && mContent.Append(name);
  const bool escape = EscapesAttributes(entityMode);
  for (const char** a = attrs; ok && !endTag && a != nullptr && a[0] != nullptr; a += 2) {
    ok = mContent.AppendByte(' ') && mContent.Append(a[0]) && mContent.Append("=\"", 2) &&
         (escape ? AppendEscaped(a[1], std::strlen(a[1]), entityMode == kEntityRefEscapeApos)
                 : mContent.Append(a[1])) &&
         mContent.AppendByte('"');
  }
  return ok && mContent.AppendByte('>');
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
