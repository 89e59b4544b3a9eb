// SPDX-License-Identifier: MIT
// The field form: one field or captured property of one story, printed on standard output.
#ifndef OWCONVERT_FIELDS_H
#define OWCONVERT_FIELDS_H

#include <cstdint>
#include <string>
#include <vector>

#include "conversion.h"
#include "options.h"

namespace owconvert {

// A parsed --field argument, "name" or "name:index".
struct FieldSpec {
  std::string name;
  bool hasIndex = false;
  uint32_t index = 0;
};

// Accepts the nine standard field names; only subheadline and byline take an index.
bool ParseFieldSpec(const std::string& text, FieldSpec* field, std::string* error);

// The values the field names, in order. A field without an index yields every
// occurrence up to the first empty one.
std::vector<std::string> ReadField(const owtool::Story& story, const FieldSpec& field);

// A value as a reader sees it: references decoded, tags removed, white space that holds a
// line break folded to one space, and no white space at either end.
std::string PlainText(const std::string& markup);

// The values of `o.property` (with o.ns, o.attr, o.withTags). The story must have been
// parsed with the property registered; see RunFieldForm.
std::vector<std::string> ReadProperty(const owtool::Story& story, const Options& o);

// Loads the environment (template optional), registers the property, parses the story
// and prints the values one a line. Returns the exit status.
int RunFieldForm(const Options& o, const std::string& tmpl, const std::string& table,
                 const owtool::StoryFiles& files);

}  // namespace owconvert

#endif  // OWCONVERT_FIELDS_H
