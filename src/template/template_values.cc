// SPDX-License-Identifier: MIT
// How a property reference of a template becomes a value taken from the document.
#include <charconv>

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
void OccurrencePath(const std::string& name, bool indexed, uint32_t index, std::string* path) {
  size_t lastSeparator = name.rfind(GetLevelSeparator());
  size_t lastParen = name.rfind('(');
  size_t keep = name.size();
  if (lastParen != std::string::npos &&
      (lastSeparator == std::string::npos || lastParen > lastSeparator)) {
    keep = lastParen;
  }
  path->assign(name, 0, keep);
  char number[16];
  const int32_t occurrence = indexed ? static_cast<int32_t>(index) : 0;
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

// Value-only reads view the document's own bytes; only a value wrapped in its element's
// tags is built, in mRawValue. The view is valid until the next call.
std::string_view WCHTMLTemplate::ReadRawValue(const std::string& uri, const std::string& name,
                                              bool indexed, uint32_t index, bool valueOnly) {
  mRawValue.clear();
  if (mDoc == nullptr) return std::string_view();
  // A prefixed name bound to a real namespace is a metadata property, never a short name.
  const ShortNameEntry* shortName = uri.empty() ? FindShortName(name) : nullptr;
  if (shortName == nullptr) {
    const char* ns = uri.empty() ? nullptr : uri.c_str();
    OccurrencePath(name, indexed, index, &mPathScratch);
    if (!valueOnly) {
      mDoc->GetProperty(ns, mPathScratch.c_str(), false, &mRawValue, false);
      return mRawValue;
    }
    const WCXMLDocTagFrame* frame = mDoc->FindCapture(ns, mPathScratch);
    return frame != nullptr ? frame->GetContent() : std::string_view();
  }
  // The standard fields read as the document's getters do: the content of the element on
  // the field's path, or one attribute of the series element.
  const int32_t occurrence = indexed ? static_cast<int32_t>(index) : 0;
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
  mPathScratch.clear();
  AppendStoryPath(shortName->pathFormat, GetLevelSeparator(), occurrence, &mPathScratch);
  const WCXMLDocTagFrame* frame = mDoc->FindCapture(nullptr, mPathScratch);
  if (frame == nullptr) return std::string_view();
  if (attribute == nullptr) return frame->GetContent();
  const std::string* value = frame->FindAttribute(attribute);
  return value != nullptr ? std::string_view(*value) : std::string_view();
}

void WCHTMLTemplate::GetValue(const std::string& uri, const std::string& name, bool indexed,
                              uint32_t index, bool valueOnly, std::string* out) {
  out->clear();
  AppendValue(uri, name, indexed, index, valueOnly, out);
}

void WCHTMLTemplate::AppendValue(const std::string& uri, const std::string& name, bool indexed,
                                 uint32_t index, bool valueOnly, std::string* out) {
  mTagXlateMap.TranslateTagsAppend(ReadRawValue(uri, name, indexed, index, valueOnly), out);
}

}  // namespace owc
