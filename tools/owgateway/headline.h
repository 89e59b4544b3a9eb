// SPDX-License-Identifier: MIT
// Reads a story's headline for the index at a bounded cost: from the first bytes of its
// XML file (the first hl1 element), or from the <title> of its HTML, never by parsing a
// whole story.
#ifndef OWGATEWAY_HEADLINE_H
#define OWGATEWAY_HEADLINE_H

#include <cstddef>
#include <string>

namespace owgateway {

// How much of a file is read for its headline; a headline sits near the start of a story.
constexpr size_t kHeadlineReadLimit = 64 * 1024;

// The text of the first <hl1> element found in `head`, or "". Markup inside it is dropped,
// entity references are kept as they are (the text is XML, so it is safe HTML text).
std::string HeadlineFromXml(const std::string& head);
// The text of the first <title> element within the first kHeadlineReadLimit bytes, or "".
std::string HeadlineFromHtml(const char* html, size_t length);

}  // namespace owgateway

#endif  // OWGATEWAY_HEADLINE_H
