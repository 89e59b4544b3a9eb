// SPDX-License-Identifier: MIT
// One captured element of a story document.
#ifndef OWCLIENT_DOC_TAG_FRAME_H
#define OWCLIENT_DOC_TAG_FRAME_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "doc/block_cache.h"
#include "doc/byte_buffer.h"

namespace owc {

class WCXMLDocTagFrame {
 public:
  WCXMLDocTagFrame() = default;
  WCXMLDocTagFrame(const WCXMLDocTagFrame&) = delete;
  WCXMLDocTagFrame& operator=(const WCXMLDocTagFrame&) = delete;
  virtual ~WCXMLDocTagFrame() = default;
  // A story captures a few dozen elements and lets them all go at its end.
  static void* operator new(size_t n);
  static void operator delete(void* p) noexcept { CacheRelease(p); }

  // Each returns false on a null argument or exhausted memory. SetPath comes first, then
  // the attributes.
  bool SetPath(const std::string& path, const char* tag);
  bool AddAttribute(const char* name, const char* value);
  bool AppendData(const char* data, size_t len);
  // Appends data with the XML special characters escaped (entity_references.h).
  bool AppendEscaped(const char* data, size_t len, bool escapeApos);
  // Appends "<name attr="value" ...>", or "</name>" for an end tag (attrs unused). The
  // values are escaped as text is in the given entity-reference mode (see
  // EscapesAttributes), so that a value cannot end its quotes.
  bool AppendTagText(const char* name, const char** attrs, bool endTag, uint32_t entityMode);
  // The mode in which AppendStartTag writes the values: the one of the capture.
  void SetAttributeMode(uint32_t entityMode) { mAttrMode = entityMode; }

  // Both are followed by a NUL byte.
  std::string_view GetPath() const { return std::string_view(mText.data(), mPathLen); }
  std::string_view GetTag() const { return std::string_view(mText.data() + mPathLen + 1, mTagLen); }
  std::string_view GetContent() const { return mContent.View(); }
  bool HasAttributes() const { return mAttrCount != 0; }
  // The value of the first attribute named exactly `name` (NUL-terminated), or null.
  const char* FindAttribute(const char* name) const;
  // Appends "<tag name="value" ...>" with the attributes in document order, escaped by
  // the mode given to SetAttributeMode.
  void AppendStartTag(std::string* out) const;
  // Appends the whole element: start tag, content, end tag.
  void AppendElement(std::string* out) const;

 private:
  // Where the next attribute pair starts in mText.
  size_t AttributesStart() const { return mPathLen + 1 + mTagLen + 1; }

  // The path, the tag and each attribute's name and value, each followed by a NUL byte, in
  // one string: a captured element costs one allocation for them instead of one for each
  // (names and values hold no NUL byte, so the NUL ends each).
  std::basic_string<char, std::char_traits<char>, CacheAllocator<char>> mText;
  size_t mPathLen = 0;
  size_t mTagLen = 0;
  size_t mAttrCount = 0;
  ByteBuffer mContent;     // inner content: text and nested tags
  uint32_t mAttrMode = 0;  // entity-reference mode of the capture
};

// Entity-reference modes 1 and 2 escape attribute values in the start tags they write,
// like text; other modes write them as parsed.
bool EscapesAttributes(uint32_t entityMode);

// Appends `name="value"`, preceded by a blank, as a start tag writes it in that mode.
void AppendAttributeText(std::string* out, const char* name, const char* value,
                         uint32_t entityMode);

}  // namespace owc

#endif  // OWCLIENT_DOC_TAG_FRAME_H
