// SPDX-License-Identifier: MIT
// Text from a server or a file shown on a terminal: control characters become \xNN, so
// that what a peer sends cannot drive the operator's terminal. Other bytes (UTF-8 among
// them) pass unchanged.
#ifndef OWTOOL_ESCAPE_H
#define OWTOOL_ESCAPE_H

#include <string>

namespace owtool {

std::string EscapeControls(const std::string& text);

}  // namespace owtool

#endif  // OWTOOL_ESCAPE_H
