// SPDX-License-Identifier: MIT
// A story pair (NITF document and RDF metadata) and the elements captured from it.
//
// Thread: one thread at a time; the parser callbacks run on the thread that calls
// Parse. Calling order: Init, then Parse any number of times, then the getters.
#ifndef OWCLIENT_DOC_XML_DOC_H
#define OWCLIENT_DOC_XML_DOC_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doc/block_cache.h"
#include "doc/tag_frame.h"

struct XML_ParserStruct;

namespace owc {

class WCXMLSearchLevel;
class XMLParserCache;

class WCXMLDoc {
 public:
  WCXMLDoc();
  WCXMLDoc(const WCXMLDoc&) = delete;
  WCXMLDoc& operator=(const WCXMLDoc&) = delete;
  virtual ~WCXMLDoc();

  // With a file flag the pointer is a file name (the length is ignored); otherwise the
  // bytes are copied. A null pointer leaves that document empty; a null name keeps
  // "XML Unknown" / "RDF Unknown". Drops every earlier capture. False when a file could
  // not be read (the other document is still loaded).
  bool Init(bool xmlIsFile, const char* xml, uint32_t xmlLen, const char* xmlName, bool rdfIsFile,
            const char* rdf, uint32_t rdfLen, const char* rdfName);

  // Parses the RDF document, then the XML document, capturing the elements that the
  // property index names; the document keeps no reference to the index afterwards.
  // Captures add to earlier ones; the first capture of a path wins. With `parsers` the
  // expat parser is taken from there (and left there), else one is made for the call.
  bool Parse(const WCXMLSearchLevel& index, XMLParserCache* parsers = nullptr);

  // Output helpers: `out` is emptied first; with `terminator` one NUL byte is appended
  // (also when nothing was found). A non-empty namespace URI looks `prop` up below that
  // namespace's Resource element; otherwise `prop` is a complete property path.
  bool GetProperty(const char* ns, const char* prop, bool valueOnly, std::string* out,
                   bool terminator) const;
  bool GetPropertyAttribute(const char* ns, const char* prop, const char* attr, std::string* out,
                            bool terminator) const;

  // The captured element that GetProperty reads for (ns, prop), or null. Valid until the
  // next Init or the document's destruction.
  const WCXMLDocTagFrame* FindCapture(const char* ns, std::string_view prop) const;

  // Bytes of both documents as loaded: what the template's expansion budget grows with.
  size_t StoryBytes() const { return mXMLBytes.size() + mRDFBytes.size(); }

  // The value a field getter reads, in place: valid until the next Init or Parse or the
  // document's destruction, a NUL byte after its last one (empty when there is none).
  // `format` is a story path format (story_paths.h); the series attributes are read with
  // ViewSeriesAttribute.
  std::string_view ViewField(const char* format, int32_t index) const;
  std::string_view ViewSeriesAttribute(const char* attr) const;

  bool GetHeadline(std::string* out, bool terminator) const;
  bool GetSubheadline(int32_t index, std::string* out, bool terminator) const;
  bool GetByline(int32_t index, std::string* out, bool terminator) const;
  bool GetDistributor(std::string* out, bool terminator) const;
  bool GetDateline(std::string* out, bool terminator) const;
  bool GetBody(std::string* out, bool terminator) const;
  bool GetSeriesName(std::string* out, bool terminator) const;
  bool GetSeriesPart(std::string* out, bool terminator) const;
  bool GetSeriesTotalPart(std::string* out, bool terminator) const;

  // Escapes data into the document's reusable conversion buffer. False when there is
  // nothing to escape (the caller keeps the data as it is) or memory ran out; on true,
  // *out stays valid until the next call. (Parse itself escapes captured text in one
  // pass with the same result, see WriteEntityEscaped.)
  bool EntitiesConverted(const char* data, uint32_t len, const char** out, uint32_t* outLen,
                         bool escapeApos);

  // Parser callbacks; user is the document.
  static void ParseCBStartEltHandler(void* user, const char* name, const char** attrs);
  static void ParseCBEndEltHandler(void* user, const char* name);
  static void ParseCBCharDataHandler(void* user, const char* data, int len);
  // Reading-option callbacks (html entities); user is the document.
  static void ParseCBStartDoctypeHandler(void* user, const char* name, const char* sysid,
                                         const char* pubid, int hasInternalSubset);
  static void ParseCBSkippedEntityHandler(void* user, const char* name, int isParameterEntity);
  static int ParseCBExternalEntityHandler(XML_ParserStruct* parser, const char* context,
                                          const char* base, const char* systemId,
                                          const char* publicId);

 private:
  // How many earlier siblings had a name: the name is mCounterNames[nameAt, nameAt + nameLen).
  struct SiblingCounter {
    size_t nameAt = 0;
    size_t nameLen = 0;
    int32_t count = 0;
  };
  // State of one open element, indexed by depth; entry 0 stands for the document.
  struct OpenElement {
    size_t pathLen = 0;                            // path text length before its segment
    const WCXMLSearchLevel* childLevel = nullptr;  // where its children are matched
    bool captured = false;
    // Its children's counters are mCounters[countersAt, end) and their names start at
    // namesAt in mCounterNames: while it is the innermost open element, everything its
    // children added has been dropped again.
    size_t countersAt = 0;
    size_t namesAt = 0;
  };

  static void ReadCapture(const WCXMLDocTagFrame* frame, bool valueOnly, std::string* out,
                          bool terminator);
  static void ReadAttribute(const WCXMLDocTagFrame* frame, const char* attr, std::string* out,
                            bool terminator);
  bool GetField(const char* format, int32_t index, std::string* out, bool terminator) const;
  bool GetSeriesAttribute(const char* attr, std::string* out, bool terminator) const;
  bool ParseDocument(const std::string& bytes, const std::string& name, const char* kind,
                     const WCXMLSearchLevel& index, XMLParserCache* parsers);
  const std::string* ReadableBytes(const std::string& bytes, const char* kind,
                                   std::string* transcoded, std::string* declared);
  void SetReadingHandlers(XML_ParserStruct* parser);
  const char* PlainName(const char* name) const;
  const char** PlainAttributes(const char** attrs);
  void NoteUndefinedEntity(const char* name);
  void ResetParseState(const WCXMLSearchLevel* index);
  void StartElement(const char* name, const char** attrs);
  void EndElement(const char* name);
  void CharData(const char* data, size_t len);
  void AddTagTextToStack(const char* name, const char** attrs, bool endTag);
  int32_t NextSiblingIndex(const OpenElement& parent, const char* name, size_t nameLen);
  void CaptureElement(const char* name, const char** attrs);
  bool ParseAddCharDataToStack(const char* data, size_t len);
  bool CopyTopTailToStack(size_t from);
  int ReadExternalEntity(XML_ParserStruct* parser, const char* systemId);
  void AbortParse();

  std::string mXMLBytes;
  std::string mRDFBytes;
  std::string mXMLName;
  std::string mRDFName;
  std::string mCurrentName;
  // Parse state, valid while Parse runs.
  XML_ParserStruct* mParser = nullptr;
  char mSeparator = '\\';
  uint32_t mEntityMode = 1;
  uint32_t mReadOptions = 0;              // the reading options in force for this parse
  std::vector<const char*> mAttrScratch;  // attribute pairs with plain names
  std::string mDoctypeSystemId;           // of the DOCTYPE, when it has one
  bool mHasDoctypeSystemId = false;
  bool mEntityDtdRead = false;  // the HTML entity declarations were handed to the parser
  std::vector<std::string> mUndefinedEntities;  // logged for the document being parsed
  std::string mPathText;
  std::vector<OpenElement> mOpen;  // grows to the deepest nesting, then reused
  // The sibling counters of all open elements, innermost last, and their names: one
  // buffer each instead of a vector and strings per element.
  std::vector<SiblingCounter> mCounters;
  std::string mCounterNames;
  size_t mDepth = 0;               // elements open in mOpen
  // Elements open below one whose children can never match: they need no path, no
  // index and no entry in mOpen, only their tag texts for the enclosing captures.
  size_t mDeadDepth = 0;
  std::vector<std::unique_ptr<WCXMLDocTagFrame>> mParseTagStack;  // innermost last
  // Keyed by each frame's own path (the key views the frame's text, which never changes
  // once the frame is stored), so look-ups need no key string of their own.
  std::unordered_map<std::string_view, std::unique_ptr<WCXMLDocTagFrame>,
                     std::hash<std::string_view>, std::equal_to<std::string_view>,
                     CacheAllocator<std::pair<const std::string_view,
                                              std::unique_ptr<WCXMLDocTagFrame>>>>
      mPropertyMap;
  mutable std::string mKeyScratch;  // namespaced look-up keys
  std::unique_ptr<char[]> mConvBuf;
  uint32_t mConvCap = 0;
};

}  // namespace owc

#endif  // OWCLIENT_DOC_XML_DOC_H
