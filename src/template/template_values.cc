// SPDX-License-Identifier: MIT
// How a property reference of a template becomes a value taken from the document.
#include <charconv>
#include <cstring>

#include "doc/doc_settings.h"
#include "doc/story_paths.h"
#include "doc/xml_doc.h"
#include "runtime/trace_log.h"
#include "template/html_template.h"
#include "template/short_names.h"
#include "template/template_text.h"

namespace owc {

namespace {

// Writes the property path of a prefixed reference at one occurrence into *path: any
// index written in its last segment is replaced by the occurrence asked for.
void OccurrencePath(const std::string& name, int32_t occurrence, std::string* path) {
  size_t lastSeparator = name.rfind(GetLevelSeparator());
  size_t lastParen = name.rfind('(');
  size_t keep = name.size();
  if (lastParen != std::string::npos &&
      (lastSeparator == std::string::npos || lastParen > lastSeparator)) {
    keep = lastParen;
  }
  path->assign(name, 0, keep);
  char number[16];
  const std::to_chars_result written = std::to_chars(number, number + sizeof number, occurrence);
  path->push_back('(');
  path->append(number, static_cast<size_t>(written.ptr - number));
  path->push_back(')');
}

}  // namespace

bool WCHTMLTemplate::TmplValNormalize(const std::string& ref, std::string* uri,
                                      std::string* name) const {
  uri->clear();
  name->clear();
  if (ref.empty()) return true;
  if (IsShortName(ref)) {
    *name = ref;
    return true;
  }
  size_t colon = ref.find(':');
  if (colon == std::string::npos) {
    TraceLogF(kLevelFailure, "WCHTMLTemplate::TmplValNormalize found bad property [%s] at 1",
              ref.c_str());
    return false;
  }
  std::string prefix = TrimBlanks(ref.substr(0, colon));
  std::string local = TrimBlanks(ref.substr(colon + 1));
  if (prefix.empty() || local.empty()) {
    TraceLogF(kLevelFailure, "WCHTMLTemplate::TmplValNormalize found bad property [%s] at 2",
              ref.c_str());
    return false;
  }
  auto it = mNamespaces.find(prefix);
  if (it == mNamespaces.end()) {
    TraceLogF(kLevelFailure,
              "WCHTMLTemplate::TmplValNormalize could not find property map for [%s]",
              prefix.c_str());
    return false;
  }
  *uri = it->second;
  *name = local;
  return true;
}

namespace {

// Occurrences whose capture keys a reference keeps; later ones (a story with hundreds of
// bylines) are built for each look-up.
constexpr int32_t kCachedOccurrences = 64;

}  // namespace

const std::string& WCHTMLTemplate::CaptureKey(ValueRef* ref, int32_t occurrence) {
  const char separator = GetLevelSeparator();
  if (ref->separator != separator) {
    ref->keys.clear();
    ref->separator = separator;
  }
  const bool cached = occurrence >= 0 && occurrence < kCachedOccurrences;
  const size_t slot = static_cast<size_t>(occurrence);
  if (cached && slot < ref->keys.size() && !ref->keys[slot].empty()) return ref->keys[slot];
  std::string* key = &mKeyScratch;
  if (cached) {
    if (slot >= ref->keys.size()) ref->keys.resize(slot + 1);
    key = &ref->keys[slot];
  }
  key->clear();
  if (ref->shortName != nullptr) {
    AppendStoryPath(ref->shortName->pathFormat, separator, occurrence, key);
  } else if (ref->uri.empty()) {
    OccurrencePath(ref->name, occurrence, key);
  } else {
    OccurrencePath(ref->name, occurrence, &mPathScratch);
    BuildNamespacedKey(ref->uri.c_str(), mPathScratch, key);
  }
  return *key;
}

// Value-only reads view the document's own bytes; only a value wrapped in its element's
// tags is built, in mRawValue. The view is valid until the next call.
std::string_view WCHTMLTemplate::ReadRawValue(ValueRef* ref, bool indexed, uint32_t index,
                                              bool valueOnly) {
  mRawValue.clear();
  if (mDoc == nullptr) return std::string_view();
  const int32_t occurrence = indexed ? static_cast<int32_t>(index) : 0;
  const ShortNameEntry* shortName = ref->shortName;
  if (shortName == nullptr) {
    const WCXMLDocTagFrame* frame = mDoc->FindCapture(nullptr, CaptureKey(ref, occurrence));
    if (frame == nullptr) return std::string_view();
    if (!valueOnly) {
      frame->AppendElement(&mRawValue);
      return mRawValue;
    }
    return frame->GetContent();
  }
  // The standard fields read as the document's getters do: the content of the element on
  // the field's path, or one attribute of the series element.
  const bool repeated =
      shortName->id == ShortNameId::kSubheadline || shortName->id == ShortNameId::kByline;
  if (!repeated && occurrence != 0) return std::string_view();  // one occurrence only
  const char* attribute = nullptr;
  if (shortName->id == ShortNameId::kSeriesName) {
    attribute = kSeriesNameAttr;
  } else if (shortName->id == ShortNameId::kSeriesPart) {
    attribute = kSeriesPartAttr;
  } else if (shortName->id == ShortNameId::kSeriesTotalPart) {
    attribute = kSeriesTotalPartAttr;
  }
  const WCXMLDocTagFrame* frame = mDoc->FindCapture(nullptr, CaptureKey(ref, occurrence));
  if (frame == nullptr) return std::string_view();
  if (attribute == nullptr) return frame->GetContent();
  const char* value = frame->FindAttribute(attribute);
  return value != nullptr ? std::string_view(value) : std::string_view();
}

namespace {

// True when the element's own tags, as written around its content, pass the translation
// without effect: the name is one the table does not know and ScanTag reads it whole, no
// attribute can end the start tag early, and no "<" in the content reaches past it to the
// end tag. The content alone then translates to output exactly when the element does.
bool TagsAreInert(const WCXMLDocTagFrame& frame, const WCHTMLTemplateXlateMap& map) {
  const std::string_view tag = frame.GetTag();
  if (tag.empty() || tag[0] == '/' || frame.HasAttributes()) return false;
  // The tag is followed by a NUL byte and holds none.
  if (std::strcspn(tag.data(), " >\t\n\r") != tag.size()) return false;
  if (map.FindXlate(tag) != nullptr) return false;
  const std::string_view content = frame.GetContent();
  const size_t lastLt = content.rfind('<');
  return lastLt == std::string_view::npos || content.find('>', lastLt) != std::string_view::npos;
}

}  // namespace

bool WCHTMLTemplate::HasValue(ValueRef* ref) {
  if (mDoc != nullptr && ref->shortName == nullptr) {
    const WCXMLDocTagFrame* frame = mDoc->FindCapture(nullptr, CaptureKey(ref, 0));
    if (frame == nullptr) return false;
    if (TagsAreInert(*frame, mTagXlateMap))
      return mTagXlateMap.TranslatesToText(frame->GetContent());
  }
  return mTagXlateMap.TranslatesToText(ReadRawValue(ref, false, 0, false));
}

void WCHTMLTemplate::GetValue(ValueRef* ref, bool indexed, uint32_t index, bool valueOnly,
                              std::string* out) {
  out->clear();
  AppendValue(ref, indexed, index, valueOnly, out);
}

void WCHTMLTemplate::AppendValue(ValueRef* ref, bool indexed, uint32_t index, bool valueOnly,
                                 std::string* out) {
  mTagXlateMap.TranslateTagsAppend(ReadRawValue(ref, indexed, index, valueOnly), out);
}

}  // namespace owc
