// One captured element of a story document.
#ifndef OWCLIENT_DOC_TAG_FRAME_H
#define OWCLIENT_DOC_TAG_FRAME_H

#include <cstddef>
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
  // Appends "<name attr="value" ...>", or "</name>" for an end tag (attrs unused).
  bool AppendTagText(const char* name, const char** attrs, bool endTag);

  const std::string& GetPath() const { return mPath; }
  const std::string& GetTag() const { return mTag; }
  std::string_view GetContent() const { return mContent.View(); }
  // The value of the first attribute named exactly `name`, or null.
  const std::string* FindAttribute(const char* name) const;
  // Appends "<tag name="value" ...>" with the attributes in document order.
  void AppendStartTag(std::string* out) const;

 private:
  std::string mPath;
  std::string mTag;
  std::vector<std::string> mAttrNames;
  std::vector<std::string> mAttrValues;  // same positions as the names
  ByteBuffer mContent;                   // inner content: text and nested tags
};

// Appends `name="value"` pairs, each preceded by a blank, as a start tag writes them.
void AppendAttributeText(std::string* out, const char* name, const char* value);

}  // namespace owc

#endif  // OWCLIENT_DOC_TAG_FRAME_H
