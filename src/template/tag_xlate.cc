// SPDX-License-Identifier: MIT
// The translation table's index, and ScanTag.
#include "template/tag_xlate.h"

#include "template/tag_name.h"

namespace owc {

namespace {

// FNV-1a over the name folded to lower case: equal for names SameTagName matches.
uint32_t FoldedHash(std::string_view name) {
  uint32_t hash = kFoldedHashStart;
  for (char c : name) hash = FoldedHashStep(hash, c);
  return hash;
}

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

WCHTMLTemplateXlate* WCHTMLTemplateXlateMap::FindXlate(std::string_view name) const {
  if (mIndex.empty()) {  // an empty table
    Position pos = GetHeadPosition();
    while (pos != nullptr) {
      WCHTMLTemplateXlate* entry = GetNext(pos);
      if (SameTagName(entry->xmlTag, name)) return entry;
    }
    return nullptr;
  }
  // Namespaced names ("URI:local") are longer than any entry: no hash for them.
  if (name.size() > mLongestTag) return nullptr;
  return FindHashed(name, FoldedHash(name));
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
    entry->startTag = entry->htmlStart.empty() ? std::string() : "<" + entry->htmlStart + ">";
    entry->endTag = entry->htmlEnd.empty() ? std::string() : "</" + entry->htmlEnd + ">";
    const uint32_t hash = FoldedHash(entry->xmlTag);
    size_t i = hash & mask;
    bool seen = false;
    for (; mIndex[i].entry != nullptr; i = (i + 1) & mask) {
      if (mIndex[i].hash == hash && SameTagName(mIndex[i].entry->xmlTag, entry->xmlTag)) {
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

}  // namespace owc
