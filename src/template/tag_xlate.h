// SPDX-License-Identifier: MIT
// The tag translation table: which markup of an inserted value passes into the HTML
// and how it is renamed. Tags without an entry are removed (their text stays).
//
// Table text: entries of three double-quoted strings and two integers,
//   "XML tag" "HTML start tag" "HTML end tag" dropContent dropAttributes
// e.g. "hl1" "h1" "h1" 0 0. An entry ends at the first line feed after its sixth
// quote; text outside quotes between entries is ignored (lines without quotes are
// comments). Strings are taken byte for byte, with no escapes.
//
// Extension: after the two integers the line may say "keep" and attribute names, as in
//   "a" "a" "a" 0 0 keep href title
// Of the tag's attributes only those named then pass (and none whose value is a
// javascript:, vbscript: or data: URL); without "keep", dropAttributes decides alone.
//
// Thread: no lock; used by the thread that runs its template.
#ifndef OWCLIENT_TEMPLATE_TAG_XLATE_H
#define OWCLIENT_TEMPLATE_TAG_XLATE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/dl_list.h"
#include "template/tag_name.h"

namespace owc {

struct WCHTMLTemplateXlate {
  std::string xmlTag;     // matched without regard to case
  std::string htmlStart;  // written between "<" and ">"; empty drops the start tag
  std::string htmlEnd;    // written between "</" and ">"; empty drops the end tag
  uint8_t dropContent = 0;
  uint8_t dropAttributes = 0;
  std::vector<std::string> keepAttributes;  // lower case; empty: no allow-list
  int32_t depth = 0;                        // nesting while values are translated; never below 0
  // As the translation writes them, set when the table is indexed: "<htmlStart>" and
  // "</htmlEnd>", each empty when its HTML tag is.
  std::string startTag;
  std::string endTag;
};

// The fields of one table entry as read by XlateTableParseLine.
struct XlateLine {
  std::string xmlTag;
  std::string htmlStart;
  std::string htmlEnd;
  uint8_t dropContent = 0;
  uint8_t dropAttributes = 0;
  std::vector<std::string> keepAttributes;
  bool noEntry = true;
  bool error = false;
};

// Reads the entry that starts at or after text[*offset] (text has len bytes). Returns
// true when an entry was read and a line feed follows it (*offset then points at that
// line feed); false at the end of the table (noEntry), on a syntax error (error, after
// the message), or for a last entry without a line feed (neither flag set).
bool XlateTableParseLine(const char* text, size_t len, size_t* offset, XlateLine* line);

// A tag found by ScanTag; both views point into the scanned value.
struct ScannedTag {
  std::string_view name;   // self-closing tags keep their slash: "br/"
  std::string_view attrs;  // from the byte that ended the name up to the ">"
  bool isEnd = false;
};

// Finds the next tag at or after *pos. With copy, the text before it is appended to
// out (or, when no complete tag follows, the rest of the value). Moves *pos past the
// tag; false when there is no tag or its name is empty.
bool ScanTag(std::string_view raw, size_t* pos, bool copy, std::string* out, ScannedTag* tag);

// The table, in table order; owns its entries.
class WCHTMLTemplateXlateMap : public DLList<WCHTMLTemplateXlate*> {
 public:
  WCHTMLTemplateXlateMap() = default;
  ~WCHTMLTemplateXlateMap() override;

  // Replaces the table. False on a syntax error or an entry that cannot be allocated,
  // after the message; the entries read before stay.
  bool Load(const char* buffer, uint32_t len);
  void Clear();
  WCHTMLTemplateXlate* FindXlate(std::string_view name) const;
  void ResetDepths();
  // Rewrites raw through the table into out (emptied first). Depths carry over from
  // one value to the next until ResetDepths.
  void TranslateTags(std::string_view raw, std::string* out);
  // The same, appending to out. REQUIRES: raw does not view out's own bytes.
  void TranslateTagsAppend(std::string_view raw, std::string* out);
  // Whether TranslateTagsAppend would append anything; the depths move as if it ran.
  bool TranslatesToText(std::string_view raw);

 private:
  // Open addressing over the first entry of each name (folded to lower case); entries
  // change only through Load and Clear, which rebuild it.
  struct IndexSlot {
    uint32_t hash = 0;
    uint32_t length = 0;  // of the entry's tag, checked before the bytes
    WCHTMLTemplateXlate* entry = nullptr;
  };
  // The translation (tag_xlate_translate.cc), read in one pass: each tag's name is hashed
  // as it is read. Writes to out unless it is null. True when something was (or would
  // have been) written.
  template <bool kWrite>
  bool Translate(std::string_view raw, std::string* out);
  // FindXlate for a name no longer than mLongestTag, with its FoldedHashStep hash. Inline:
  // the translation's loop calls it for each tag.
  WCHTMLTemplateXlate* FindHashed(std::string_view name, uint32_t hash) const {
    const size_t mask = mIndex.size() - 1;
    for (size_t i = hash & mask; mIndex[i].entry != nullptr; i = (i + 1) & mask) {
      const IndexSlot& slot = mIndex[i];
      if (slot.hash == hash && slot.length == name.size() &&
          SameTagName(slot.entry->xmlTag, name)) {
        return slot.entry;
      }
    }
    return nullptr;
  }
  bool LoadEntries(const char* buffer, uint32_t len);
  void RebuildIndex();
  std::vector<IndexSlot> mIndex;  // empty, or a power of two at least twice the entries
  size_t mLongestTag = 0;         // of the indexed entries
  std::string mKeptScratch;       // the attributes a keep list lets through, for one tag
};

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_TAG_XLATE_H
