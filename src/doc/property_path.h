// SPDX-License-Identifier: MIT
// Property paths: "\name(index)" segments from the root element down, where the index
// counts same-named siblings from 0 and -1 stands for every occurrence.
#ifndef OWCLIENT_DOC_PROPERTY_PATH_H
#define OWCLIENT_DOC_PROPERTY_PATH_H

#include <cstdint>
#include <string>

#include "runtime/dl_list.h"

namespace owc {

// One step of a concrete element path.
class XMLPropNode {
 public:
  XMLPropNode() = default;
  XMLPropNode(std::string name, int32_t index) : mName(std::move(name)), mIndex(index) {}
  virtual ~XMLPropNode() = default;

  const std::string& GetName() const { return mName; }
  int32_t GetIndex() const { return mIndex; }
  void SetName(const char* name, size_t len) { mName.assign(name, len); }
  void SetIndex(int32_t index) { mIndex = index; }

 private:
  std::string mName;
  int32_t mIndex = 0;
};

// The steps from the root element down, root at the head. Owns the nodes it holds when
// destroyed; a holder that owns them elsewhere empties the list first.
class WCXMLParsePath : public DLList<XMLPropNode*> {
 public:
  ~WCXMLParsePath() override;
};

// One parsed segment of a path text.
struct PathSegment {
  const char* name = nullptr;  // points into the parsed text
  size_t nameLen = 0;
  int32_t index = 0;
  const char* next = nullptr;  // the text after the segment's ")"
  bool last = false;           // nothing follows the ")"
};

enum class SegmentError {
  kNone,
  kNoSeparator,  // the text does not start with the level separator
  kNoEnd,        // no ")" after the separator
  kNoBeginning,  // no "(" before that ")"
  kBadIndex,     // an index below -1
};

// Parses the segment at the start of text (NUL-terminated). The index is read as a
// signed decimal (leading blanks and sign allowed, reading stops at the first other
// character, no number reads as 0); values beyond 32 bits saturate.
SegmentError ParsePathSegment(const char* text, char separator, PathSegment* segment);

}  // namespace owc

#endif  // OWCLIENT_DOC_PROPERTY_PATH_H
