// SPDX-License-Identifier: MIT
// Checks a template's commands once, before any story meets it. The library checks a
// template only while it renders one, so a mistake would otherwise show story after story.
#ifndef OWTOOL_TEMPLATE_CHECK_H
#define OWTOOL_TEMPLATE_CHECK_H

#include <string>

namespace owtool {

// "" when every command is known and every if and foreach is closed; otherwise the first
// problem in one line: `template line 4: unknown command "bogus"`, `template line 2: "if"
// without "end"`, `template line 9: "else" without "if"`. Commands are read as the library
// reads them: a target without its "?>" and everything after an empty command is text.
std::string TemplateProblem(const std::string& text);

}  // namespace owtool

#endif  // OWTOOL_TEMPLATE_CHECK_H
