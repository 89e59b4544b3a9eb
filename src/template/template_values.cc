// How a property reference of a template becomes a value taken from the document.
#include "doc/doc_settings.h"
#include "doc/xml_doc.h"
#include "runtime/trace_log.h"
#include "template/html_template.h"
#include "template/short_names.h"
#include "template/template_text.h"

namespace owc {

namespace {

// The property path of a prefixed reference at one occurrence: any index written in
// its last segment is replaced by the occurrence asked for.
std::string OccurrencePath(const std::string& name, bool indexed, uint32_t index) {
  size_t lastSeparator = name.rfind(GetLevelSeparator());
  size_t lastParen = name.rfind('(');
  std::string path = name;
  if (lastParen != std::string::npos &&
      (lastSeparator == std::string::npos || lastParen > lastSeparator)) {
    path.resize(lastParen);
  }
  path += '(';
  path += std::to_string(indexed ? static_cast<int32_t>(index) : 0);
  path += ')';
  return path;
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

void WCHTMLTemplate::ReadRawValue(const std::string& uri, const std::string& name, bool indexed,
                                  uint32_t index, bool valueOnly) {
  mRawValue.clear();
  if (mDoc == nullptr) return;
  // A prefixed name bound to a real namespace is a metadata property, never a short name.
  const ShortNameEntry* shortName = uri.empty() ? FindShortName(name) : nullptr;
  if (shortName == nullptr) {
    mDoc->GetProperty(uri.empty() ? nullptr : uri.c_str(),
                      OccurrencePath(name, indexed, index).c_str(), valueOnly, &mRawValue, false);
    return;
  }
  const int32_t occurrence = indexed ? static_cast<int32_t>(index) : 0;
  if (shortName->id == ShortNameId::kSubheadline) {
    mDoc->GetSubheadline(occurrence, &mRawValue, false);
    return;
  }
  if (shortName->id == ShortNameId::kByline) {
    mDoc->GetByline(occurrence, &mRawValue, false);
    return;
  }
  if (occurrence != 0) return;  // single fields have one occurrence only
  switch (shortName->id) {
    case ShortNameId::kHeadline:
      mDoc->GetHeadline(&mRawValue, false);
      break;
    case ShortNameId::kDistributor:
      mDoc->GetDistributor(&mRawValue, false);
      break;
    case ShortNameId::kDateline:
      mDoc->GetDateline(&mRawValue, false);
      break;
    case ShortNameId::kSeriesName:
      mDoc->GetSeriesName(&mRawValue, false);
      break;
    case ShortNameId::kSeriesPart:
      mDoc->GetSeriesPart(&mRawValue, false);
      break;
    case ShortNameId::kSeriesTotalPart:
      mDoc->GetSeriesTotalPart(&mRawValue, false);
      break;
    case ShortNameId::kBody:
      mDoc->GetBody(&mRawValue, false);
      break;
    default:
      break;
  }
}

void WCHTMLTemplate::GetValue(const std::string& uri, const std::string& name, bool indexed,
                              uint32_t index, bool valueOnly, std::string* out) {
  ReadRawValue(uri, name, indexed, index, valueOnly);
  mTagXlateMap.TranslateTags(mRawValue, out);
}

}  // namespace owc
