#include "doc/story_paths.h"

#include <cstdio>

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
  path.reserve(64);
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 'c') {
      path += separator;
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      char number[16];
      std::snprintf(number, sizeof number, "%d", static_cast<int>(index));
      path += number;
      ++p;
    } else {
      path += *p;
    }
  }
  return path;
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
  const char separator = GetLevelSeparator();
  std::string key;
  key += separator;
  key += uri;
  key += ":Resource(0)";
  key += separator;
  key += uri;
  key += ':';
  key += prop;
  return key;
}

}  // namespace owc
