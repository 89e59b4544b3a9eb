// SPDX-License-Identifier: MIT
// Rewriting of the markup inside inserted values through the translation table.
#include "template/tag_xlate.h"

#include "template/attribute_filter.h"

namespace owc {

namespace {

unsigned char FoldAscii(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; }

// Stories and tables mostly agree on the case: folding only where the bytes differ.
bool EqualsNoCase(const std::string& a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i] && FoldAscii(static_cast<unsigned char>(a[i])) !=
                            FoldAscii(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

// FNV-1a over the name folded to lower case: equal for names EqualsNoCase matches.
uint32_t FoldedHash(std::string_view name) {
  uint32_t hash = 2166136261u;
  for (char c : name) hash = (hash ^ FoldAscii(static_cast<unsigned char>(c))) * 16777619u;
  return hash;
}

bool EndsName(char c) { return c == ' ' || c == '>' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

bool ScanTag(std::string_view raw, size_t* pos, bool copy, std::string* out, ScannedTag* tag) {
  *tag = ScannedTag();
  size_t lt = raw.find('<', *pos);
  size_t gt = lt == std::string_view::npos ? lt : raw.find('>', lt);
  if (gt == std::string_view::npos) {
    if (copy && *pos < raw.size()) out->append(raw.data() + *pos, raw.size() - *pos);
    *pos = raw.size();
    return false;
  }
  if (copy) out->append(raw.data() + *pos, lt - *pos);
  size_t nameStart = lt + 1;
  if (gt - lt > 1 && raw[lt + 1] == '/') {
    tag->isEnd = true;
    nameStart = lt + 2;
  }
  size_t nameEnd = nameStart;
  while (!EndsName(raw[nameEnd])) ++nameEnd;  // stops at the ">" at the latest
  tag->name = raw.substr(nameStart, nameEnd - nameStart);
  tag->attrs = nameEnd < gt ? raw.substr(nameEnd, gt - nameEnd) : std::string_view();
  *pos = gt + 1;
  return !tag->name.empty();
}

void EmitTag(bool isEnd, bool dropAttributes, const std::string& htmlTag, std::string_view attrs,
             std::string* out, const std::vector<std::string>* keep) {
  if (htmlTag.empty()) return;
  out->push_back('<');
  if (isEnd) out->push_back('/');
  out->append(htmlTag);
  if (!dropAttributes && keep != nullptr && !keep->empty()) {
    AppendKeptAttributes(attrs, *keep, out);
  } else if (!dropAttributes && !attrs.empty()) {
    out->push_back(' ');
    out->append(attrs.data(), attrs.size());
  }
  out->push_back('>');
}

WCHTMLTemplateXlate* WCHTMLTemplateXlateMap::FindXlate(std::string_view name) const {
  if (mIndex.empty()) {  // an empty table
    Position pos = GetHeadPosition();
    while (pos != nullptr) {
      WCHTMLTemplateXlate* entry = GetNext(pos);
      if (EqualsNoCase(entry->xmlTag, name)) return entry;
    }
    return nullptr;
  }
  // Namespaced names ("URI:local") are longer than any entry: no hash for them.
  if (name.size() > mLongestTag) return nullptr;
  const uint32_t hash = FoldedHash(name);
  const size_t mask = mIndex.size() - 1;
  for (size_t i = hash & mask; mIndex[i].entry != nullptr; i = (i + 1) & mask) {
    const IndexSlot& slot = mIndex[i];
    if (slot.hash == hash && slot.length == name.size() && EqualsNoCase(slot.entry->xmlTag, name)) {
      return slot.entry;
    }
  }
  return nullptr;
}

// Only the first entry of each name is indexed: the one a search in table order finds.
void WCHTMLTemplateXlateMap::RebuildIndex() {
  mIndex.clear();
  mLongestTag = 0;
  if (IsEmpty()) return;
  size_t size = 8;
  while (size < 2 * static_cast<size_t>(GetCount())) size *= 2;
  mIndex.assign(size, IndexSlot());
  const size_t mask = size - 1;
  Position pos = GetHeadPosition();
  while (pos != nullptr) {
    WCHTMLTemplateXlate* entry = GetNext(pos);
    const uint32_t hash = FoldedHash(entry->xmlTag);
    size_t i = hash & mask;
    bool seen = false;
    for (; mIndex[i].entry != nullptr; i = (i + 1) & mask) {
      if (mIndex[i].hash == hash && EqualsNoCase(mIndex[i].entry->xmlTag, entry->xmlTag)) {
        seen = true;
        break;
      }
    }
    if (!seen) mIndex[i] = IndexSlot{hash, static_cast<uint32_t>(entry->xmlTag.size()), entry};
    if (entry->xmlTag.size() > mLongestTag) mLongestTag = entry->xmlTag.size();
  }
}

void WCHTMLTemplateXlateMap::ResetDepths() {
  Position pos = GetHeadPosition();
  while (pos != nullptr) GetNext(pos)->depth = 0;
}

void WCHTMLTemplateXlateMap::TranslateTags(std::string_view raw, std::string* out) {
  out->clear();
  TranslateTagsAppend(raw, out);
}

void WCHTMLTemplateXlateMap::TranslateTagsAppend(std::string_view raw, std::string* out) {
  if (raw.empty()) return;
  // Translated markup is about as long as the source: one growth step for the usual case.
  out->reserve(out->size() + raw.size() + raw.size() / 8);
  Translate(raw, out);
}

bool WCHTMLTemplateXlateMap::TranslatesToText(std::string_view raw) {
  return !raw.empty() && Translate(raw, nullptr);
}

// With out null nothing is written, and the depths move exactly as when writing.
bool WCHTMLTemplateXlateMap::Translate(std::string_view raw, std::string* out) {
  const size_t start = out != nullptr ? out->size() : 0;
  bool wrote = false;
  size_t pos = 0;
  bool suppressing = false;
  std::string_view suppressed;
  ScannedTag tag;
  for (;;) {
    const size_t from = pos;
    const bool scanned = ScanTag(raw, &pos, !suppressing && out != nullptr, out, &tag);
    // ScanTag writes the text before the tag, or the rest when no complete tag follows.
    if (out == nullptr && !suppressing && !wrote) {
      const size_t lt = raw.find('<', from);
      const size_t gt = lt == std::string_view::npos ? lt : raw.find('>', lt);
      wrote = gt == std::string_view::npos ? from < raw.size() : lt > from;
    }
    if (!scanned) break;
    WCHTMLTemplateXlate* entry = FindXlate(tag.name);
    if (entry == nullptr) continue;
    if (suppressing) {
      if (tag.name != suppressed) continue;
      if (!tag.isEnd) {
        ++entry->depth;
        continue;
      }
      if (entry->depth > 0) --entry->depth;
      if (entry->depth > 0) continue;
      suppressing = false;
      wrote = wrote || !entry->htmlEnd.empty();
      if (out != nullptr) EmitTag(true, true, entry->htmlEnd, std::string_view(), out);
    } else if (tag.isEnd) {
      if (entry->depth > 0) --entry->depth;
      wrote = wrote || !entry->htmlEnd.empty();
      if (out != nullptr) EmitTag(true, true, entry->htmlEnd, std::string_view(), out);
    } else {
      ++entry->depth;
      if (entry->dropContent != 0) {
        suppressing = true;
        suppressed = tag.name;
      }
      wrote = wrote || !entry->htmlStart.empty();
      if (out != nullptr) {
        EmitTag(false, entry->dropAttributes != 0, entry->htmlStart, tag.attrs, out,
                &entry->keepAttributes);
      }
    }
  }
  return out != nullptr ? out->size() > start : wrote;
}

}  // namespace owc
