// SPDX-License-Identifier: MIT
#include "template/short_names.h"

#include <cstring>

#include "doc/doc_settings.h"
#include "doc/story_paths.h"

namespace owc {

namespace {

const ShortNameEntry kShortNames[] = {
    {"headline", ShortNameId::kHeadline, kHeadlinePathFormat, 0},
    {"subheadline", ShortNameId::kSubheadline, kSubheadlinePathFormat, -1},
    {"byline", ShortNameId::kByline, kBylinePathFormat, -1},
    {"distributor", ShortNameId::kDistributor, kDistributorPathFormat, 0},
    {"dateline", ShortNameId::kDateline, kDatelinePathFormat, 0},
    {"series.name", ShortNameId::kSeriesName, kSeriesPathFormat, 0},
    {"series.part", ShortNameId::kSeriesPart, kSeriesPathFormat, 0},
    {"series.totalpart", ShortNameId::kSeriesTotalPart, kSeriesPathFormat, 0},
    {"body", ShortNameId::kBody, kBodyPathFormat, 0},
};

}  // namespace

const ShortNameEntry* FindShortName(const std::string& ref) {
  for (const ShortNameEntry& entry : kShortNames) {
    if (ref.size() == std::strlen(entry.name) && ref.compare(entry.name) == 0) return &entry;
  }
  return nullptr;
}

bool IsShortName(const std::string& ref) { return FindShortName(ref) != nullptr; }

std::string ShortNamePath(const ShortNameEntry& entry) {
  return FormatStoryPath(entry.pathFormat, GetLevelSeparator(), entry.index);
}

}  // namespace owc
