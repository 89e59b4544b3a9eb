// SPDX-License-Identifier: MIT
#include "doc/story_paths.h"

#include <charconv>
#include <cstring>

#include "doc/doc_settings.h"

namespace owc {

const char kHeadlinePathFormat[] = "%cnitf(0)%cbody(0)%cbody.head(0)%chedline(0)%chl1(0)";
const char kSubheadlinePathFormat[] = "%cnitf(0)%cbody(0)%cbody.head(0)%chedline(0)%chl2(%d)";
const char kBylinePathFormat[] = "%cnitf(0)%cbody(0)%cbody.head(0)%cbyline(%d)";
const char kDistributorPathFormat[] = "%cnitf(0)%cbody(0)%cbody.head(0)%cdistributor(0)";
const char kDatelinePathFormat[] = "%cnitf(0)%cbody(0)%cbody.head(0)%cdateline(0)%cstory.date(0)";
const char kSeriesPathFormat[] = "%cnitf(0)%cbody(0)%cbody.head(0)%cseries(0)";
const char kBodyPathFormat[] = "%cnitf(0)%cbody(0)%cbody.content(0)";

const char kSeriesNameAttr[] = "series.name";
const char kSeriesPartAttr[] = "series.part";
const char kSeriesTotalPartAttr[] = "series.totalpart";

std::string FormatStoryPath(const char* format, char separator, int32_t index) {
  std::string path;
  AppendStoryPath(format, separator, index, &path);
  return path;
}

void AppendStoryPath(const char* format, char separator, int32_t index, std::string* out) {
  out->reserve(out->size() + 64);
  const char* run = format;  // literal text not yet copied
  const char* p = format;
  for (; *p != '\0'; ++p) {
    if (p[0] != '%' || (p[1] != 'c' && p[1] != 'd')) continue;
    out->append(run, static_cast<size_t>(p - run));
    if (p[1] == 'c') {
      out->push_back(separator);
    } else {
      char number[16];
      const std::to_chars_result written = std::to_chars(number, number + sizeof number, index);
      out->append(number, static_cast<size_t>(written.ptr - number));
    }
    ++p;
    run = p + 1;
  }
  out->append(run, static_cast<size_t>(p - run));
}

StoryPathText::StoryPathText(const char* format, char separator, int32_t index) {
  char* out = mText;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'c') {
      *out++ = separator;
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      out = std::to_chars(out, mText + sizeof mText, index).ptr;
      ++p;
    } else {
      *out++ = *p;
    }
  }
  mLength = static_cast<size_t>(out - mText);
}

namespace {

std::string Format(const char* format, int32_t index = 0) {
  return FormatStoryPath(format, GetLevelSeparator(), index);
}

}  // namespace

std::string HeadlinePath() { return Format(kHeadlinePathFormat); }
std::string SubheadlinePath(int32_t index) { return Format(kSubheadlinePathFormat, index); }
std::string BylinePath(int32_t index) { return Format(kBylinePathFormat, index); }
std::string DistributorPath() { return Format(kDistributorPathFormat); }
std::string DatelinePath() { return Format(kDatelinePathFormat); }
std::string SeriesPath() { return Format(kSeriesPathFormat); }
std::string BodyPath() { return Format(kBodyPathFormat); }

std::string NamespacedKey(const char* uri, const char* prop) {
  std::string key;
  BuildNamespacedKey(uri, prop, &key);
  return key;
}

void BuildNamespacedKey(const char* uri, std::string_view prop, std::string* key) {
  static constexpr std::string_view kResource = ":Resource(0)";
  const char separator = GetLevelSeparator();
  const size_t uriLen = std::strlen(uri);
  key->clear();
  key->reserve(2 * uriLen + kResource.size() + prop.size() + 3);
  key->push_back(separator);
  key->append(uri, uriLen);
  key->append(kResource);
  key->push_back(separator);
  key->append(uri, uriLen);
  key->push_back(':');
  key->append(prop);
}

}  // namespace owc
