// SPDX-License-Identifier: MIT
// A loaded HTML template: its text, tag translation table, the properties it needs
// from a story document, its namespace prefixes and its output.
//
// Template language: literal HTML with commands written as "<?Kavio word args?>":
//   version N          declares the version (0, 1 or 2); read when the text is loaded
//   namespace p = URI  binds prefix p for references (quotes around either removed)
//   insert REF         the bound value of REF inside a loop, else every occurrence
//   if REF / else / end         expands the branch when REF has a value
//   foreach REF ... end         expands the body once per occurrence of REF
// REF is one of the nine short names (headline, subheadline, byline, distributor,
// dateline, series.name, series.part, series.totalpart, body), matched byte for byte
// against the whole argument text, or "prefix:path" with a declared prefix.
//
// Thread: no lock; one thread at a time. The conversion interface uses one object per
// environment, the delivery queue one object on its own thread.
#ifndef OWCLIENT_TEMPLATE_HTML_TEMPLATE_H
#define OWCLIENT_TEMPLATE_HTML_TEMPLATE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "doc/parser_cache.h"
#include "doc/search_level.h"
#include "template/extract_prop_list.h"
#include "template/tag_xlate.h"
#include "template/variable_stack.h"

namespace owc {

class WCXMLDoc;
struct ShortNameEntry;

class WCHTMLTemplate {
 public:
  WCHTMLTemplate() = default;
  WCHTMLTemplate(const WCHTMLTemplate&) = delete;
  WCHTMLTemplate& operator=(const WCHTMLTemplate&) = delete;
  virtual ~WCHTMLTemplate();

  // Copies the template and preprocesses it (version, prefixes, needed properties).
  // A null or empty text means no template: Generate then produces nothing. False
  // after a preprocessing error; the text is still kept and can be applied.
  bool SetTemplate(const char* text, uint32_t len);
  // Replaces the tag translation table (format in tag_xlate.h).
  bool SetXlateTable(const char* buffer, uint32_t len);
  // Adds a property the document must keep. A path not ending in ")" gets "(-1)"
  // (every occurrence). True also when the pair is already listed.
  bool AddExtractProp(const char* uri, const char* path);

  // Parses doc with this template's property index and interprets the template into
  // the output. doc is used only during the call. True only when both succeed; output
  // produced before a failure is kept.
  bool Generate(WCXMLDoc* doc);
  // Bytes of output, the terminating NUL included (0 when nothing was produced).
  int32_t GetOutputSize() const;
  // The output, valid until the next Generate, Reset or destruction; null when empty.
  const uint8_t* GetOutputData() const;
  void Reset();

  uint32_t GetVersion() const { return mVersion; }
  const WCXMLSearchLevel& GetSearchLevel() const { return mSearchLevel; }
  const WCHTMLTemplateExtractPropList& GetExtractPropList() const { return mExtractPropList; }

  // A reference to (namespace URI, name); logs and returns false when it cannot be
  // resolved.
  bool TmplValNormalize(const std::string& ref, std::string* uri, std::string* name) const;

 private:
  enum class Level { kTop, kBranch, kLoopBody };
  enum class CommandKind { kInsert, kIf, kForeach, kElse, kEnd, kDeclaration, kUnknown };

  // A resolved reference and the capture keys of its occurrences, built once per template
  // (and again when the level separator changes) instead of for every look-up.
  struct ValueRef {
    std::string uri;
    std::string name;
    const ShortNameEntry* shortName = nullptr;  // when name is one
    char separator = 0;                         // the one the keys were built with
    std::vector<std::string> keys;              // of occurrence i; "" until built
  };

  bool ParsePreprocess();
  bool PreprocessVersion(const std::string& args, uint32_t line);
  bool RegisterReference(const std::string& ref);
  bool TmplCmdAddNameSpace(const std::string& args);
  struct ScannedCommand;
  ScannedCommand* ReadCommand(size_t pos, uint32_t* line, bool copy);
  static CommandKind KindOf(const std::string& word);
  bool ResolveReference(ScannedCommand* command);
  bool ParseTemplate(Level level, bool emit, size_t* pos, uint32_t* line, uint32_t nesting);
  bool CommandInsert(ScannedCommand* command);
  bool CommandIf(ScannedCommand* command, bool emit, size_t* pos, uint32_t* line, uint32_t nesting);
  bool CommandForeach(ScannedCommand* command, bool emit, size_t* pos, uint32_t* line,
                      uint32_t nesting);
  bool EnterNesting(uint32_t nesting, uint32_t line);
  // The expansion budget for a story of that many bytes (both documents).
  void SetBudget(uint64_t storyBytes);
  // Counts one command run; false (with mAbort set) once the expansion is too large.
  bool WithinBudget(uint32_t line);
  // The key under which the document keeps occurrence `occurrence` of the reference.
  const std::string& CaptureKey(ValueRef* ref, int32_t occurrence);
  std::string_view ReadRawValue(ValueRef* ref, bool indexed, uint32_t index, bool valueOnly);
  // Whether the first occurrence of the reference, wrapped in its element's tags, translates
  // to any output (an "if" test); the depths move as if it were translated.
  bool HasValue(ValueRef* ref);
  // The translated value of a reference at one occurrence into *out (emptied first);
  // empty outside Generate.
  void GetValue(ValueRef* ref, bool indexed, uint32_t index, bool valueOnly, std::string* out);
  // GetValue appending to *out: nothing is appended when the value is empty.
  void AppendValue(ValueRef* ref, bool indexed, uint32_t index, bool valueOnly, std::string* out);

  // What TmplCmdGetNext finds from one start position of mText; kept until the text
  // changes, so each Generate scans the template text once per command, not per byte.
  struct ScannedCommand {
    size_t literalEnd = 0;  // the literal text before the command ends here
    size_t next = 0;        // TmplCmdGetNext's result
    uint32_t newlines = 0;  // added to the line count
    std::string word;
    CommandKind kind = CommandKind::kUnknown;
    std::string args;
    bool resolved = false;  // ref holds the reference that args resolved to
    ValueRef ref;
    ScannedCommand* following = nullptr;  // the command read at `next`, once known
  };

  std::string mText;          // the template; processing stops at its first NUL
  size_t mTextEnd = 0;        // length up to that NUL
  bool mHasTemplate = false;  // size is mText.size() + 1 when set
  std::string mOutput;
  WCXMLDoc* mDoc = nullptr;  // set only while Generate runs
  uint32_t mVersion = 2;
  std::map<std::string, std::string> mNamespaces;  // prefix -> URI
  WCVariableStack mBindingStack;
  WCHTMLTemplateExtractPropList mExtractPropList;
  WCXMLSearchLevel mSearchLevel;
  WCHTMLTemplateXlateMap mTagXlateMap;
  XMLParserCache mParsers;   // one expat parser for every document this template reads
  std::string mRawValue;     // scratch of GetValue
  std::string mKeyScratch;   // capture key of an occurrence beyond the cached ones
  std::string mPathScratch;  // property path of a namespaced key being built
  std::unordered_map<size_t, ScannedCommand> mCommands;  // by start position
  ScannedCommand* mLastRead = nullptr;                   // in mCommands
  bool mAbort = false;           // ends every level of the expansion at once
  uint64_t mCommandsRun = 0;     // by the current Generate
  uint64_t mMaxCommandsRun = 0;  // the budget of the current Generate
  uint64_t mMaxOutputBytes = 0;
};

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_HTML_TEMPLATE_H
