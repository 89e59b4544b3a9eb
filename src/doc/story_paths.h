// SPDX-License-Identifier: MIT
// Property paths of the standard fields of a NITF story. Every path is built with the
// module's level separator in force at the call.
#ifndef OWCLIENT_DOC_STORY_PATHS_H
#define OWCLIENT_DOC_STORY_PATHS_H

#include <cstdint>
#include <string>
#include <string_view>

namespace owc {

// Formats: each "%c" is the level separator, "%d" the occurrence index.
extern const char kHeadlinePathFormat[];
extern const char kSubheadlinePathFormat[];
extern const char kBylinePathFormat[];
extern const char kDistributorPathFormat[];
extern const char kDatelinePathFormat[];
extern const char kSeriesPathFormat[];
extern const char kBodyPathFormat[];

// Attributes of the series element.
extern const char kSeriesNameAttr[];
extern const char kSeriesPartAttr[];
extern const char kSeriesTotalPartAttr[];

// Expands a format above with the given separator and index.
std::string FormatStoryPath(const char* format, char separator, int32_t index);
// The same, appended to *out.
void AppendStoryPath(const char* format, char separator, int32_t index, std::string* out);

// A story path formatted in place, for look-ups that should not allocate.
class StoryPathText {
 public:
  StoryPathText(const char* format, char separator, int32_t index);
  std::string_view View() const { return std::string_view(mText, mLength); }

 private:
  char mText[128];  // the longest format above with an 11-character index fits
  size_t mLength = 0;
};

std::string HeadlinePath();
std::string SubheadlinePath(int32_t index);  // -1: every subheadline
std::string BylinePath(int32_t index);       // -1: every byline
std::string DistributorPath();
std::string DatelinePath();
std::string SeriesPath();
std::string BodyPath();

// The key under which a document stores a metadata property: the element named by
// `prop` (with its index) inside the root "Resource" element of namespace `uri`.
std::string NamespacedKey(const char* uri, const char* prop);
// The same key written into *key (replacing its content), so a caller can reuse one buffer.
void BuildNamespacedKey(const char* uri, std::string_view prop, std::string* key);

}  // namespace owc

#endif  // OWCLIENT_DOC_STORY_PATHS_H
