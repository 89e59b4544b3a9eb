// SPDX-License-Identifier: MIT
// The nine short property names of the template language ("headline", "body", ...):
// each stands for a standard field of a NITF story.
#ifndef OWCLIENT_TEMPLATE_SHORT_NAMES_H
#define OWCLIENT_TEMPLATE_SHORT_NAMES_H

#include <cstdint>
#include <string>

namespace owc {

enum class ShortNameId {
  kHeadline,
  kSubheadline,
  kByline,
  kDistributor,
  kDateline,
  kSeriesName,
  kSeriesPart,
  kSeriesTotalPart,
  kBody,
};

struct ShortNameEntry {
  const char* name;
  ShortNameId id;
  const char* pathFormat;  // a story path format (doc/story_paths.h)
  int32_t index;           // the index registered for "%d": -1 = every occurrence
};

// The entry whose name equals ref byte for byte, or null. The table is constant data,
// usable from any thread at any time.
const ShortNameEntry* FindShortName(const std::string& ref);
bool IsShortName(const std::string& ref);
// The parse property registered for a short name (its namespace URI is always empty).
std::string ShortNamePath(const ShortNameEntry& entry);

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_SHORT_NAMES_H
