// SPDX-License-Identifier: MIT
// One captured element of a story document.
#ifndef OWCLIENT_DOC_TAG_FRAME_H
#define OWCLIENT_DOC_TAG_FRAME_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "doc/byte_buffer.h"

namespace owc {

class WCXMLDocTagFrame {
 public:
  WCXMLDocTagFrame() = default;
  WCXMLDocTagFrame(const WCXMLDocTagFrame&) = delete;
  WCXMLDocTagFrame& operator=(const WCXMLDocTagFrame&) = delete;
  virtual ~WCXMLDocTagFrame() = default;

  // Each returns false on a null argument or exhausted memory.
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

  const std::string& GetPath() const { return mPath; }
  const std::string& GetTag() const { return mTag; }
  std::string_view GetContent() const { return mContent.View(); }
  // The value of the first attribute named exactly `name`, or null.
  const std::string* FindAttribute(const char* name) const;
  // Appends "<tag name="value" ...>" with the attributes in document order, escaped by
  // the mode given to SetAttributeMode.
  void AppendStartTag(std::string* out) const;
  // Appends the whole element: start tag, content, end tag.
  void AppendElement(std::string* out) const;

 private:
  std::string mPath;
  std::string mTag;
  std::vector<std::string> mAttrNames;
  std::vector<std::string> mAttrValues;  // same positions as the names
  ByteBuffer mContent;                   // inner content: text and nested tags
  uint32_t mAttrMode = 0;                // entity-reference mode of the capture
};

// Entity-reference modes 1 and 2 escape attribute values in the start tags they write,
// like text; other modes write them as parsed.
bool EscapesAttributes(uint32_t entityMode);

// Appends `name="value"`, preceded by a blank, as a start tag writes it in that mode.
void AppendAttributeText(std::string* out, const char* name, const char* value,
                         uint32_t entityMode);

}  // namespace owc

#endif  // OWCLIENT_DOC_TAG_FRAME_H
