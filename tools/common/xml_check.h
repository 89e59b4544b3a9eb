// SPDX-License-Identifier: MIT
// Says in plain words why a story file is no XML document the library can read, for the one
// line a tool prints when the library refused it.
#ifndef OWTOOL_XML_CHECK_H
#define OWTOOL_XML_CHECK_H

#include <string>

namespace owtool {

// "" for a well-formed document; "not XML" when it does not even start like one (a picture,
// plain text); otherwise "not well-formed (invalid token) at line 3, column 7", columns
// counted from 1.
std::string XmlProblem(const std::string& bytes);

}  // namespace owtool

#endif  // OWTOOL_XML_CHECK_H
