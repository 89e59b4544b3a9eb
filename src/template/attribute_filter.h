// SPDX-License-Identifier: MIT
// The attribute allow-list of a translation table entry: of the attributes of a story's
// tag, only those the entry names reach the page, and none whose value is a script URL.
#ifndef OWCLIENT_TEMPLATE_ATTRIBUTE_FILTER_H
#define OWCLIENT_TEMPLATE_ATTRIBUTE_FILTER_H

#include <string>
#include <string_view>
#include <vector>

namespace owc {

// Appends to out, each preceded by a blank, the attributes of `attrs` (the text of a tag
// after its name) whose names are in `keep` (lower case; compared without regard to case)
// and whose values do not start a javascript:, vbscript: or data: URL. The text is read
// as a browser reads a tag: names end at a blank, "=", "/" or ">"; values are quoted with
// either quote or end at a blank. What is kept is copied as written.
void AppendKeptAttributes(std::string_view attrs, const std::vector<std::string>& keep,
                          std::string* out);

// True when a value, as a browser would take it as a URL (character references decoded,
// leading blanks and controls skipped, tabs and line breaks removed), starts a script or
// data URL.
bool IsScriptUrl(std::string_view value);

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_ATTRIBUTE_FILTER_H
