// SPDX-License-Identifier: MIT
// Reading of template commands: processing instructions "<?Kavio word arguments?>".
#ifndef OWCLIENT_TEMPLATE_TEMPLATE_COMMAND_H
#define OWCLIENT_TEMPLATE_TEMPLATE_COMMAND_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace owc {

// "No position": no command is left.
constexpr size_t kNoCommandPos = static_cast<size_t>(-1);

// Reads the next command of text[0, end) from start (kNoCommandPos or end: none).
// The command word and the arguments (trailing white space kept) go to *word and
// *args; *line advances by the line feeds from start through the command's "?>".
// With literal non-null, the text before the command is appended to it. Returns the
// position after "?>", or kNoCommandPos with an empty word when no complete command
// follows. A command with an empty word also returns kNoCommandPos: it ends the
// template as the end of the text does. REQUIRES: text has no NUL before end.
size_t TmplCmdGetNext(const char* text, size_t end, size_t start, uint32_t* line, std::string* word,
                      std::string* args, std::string* literal);

}  // namespace owc

#endif  // OWCLIENT_TEMPLATE_TEMPLATE_COMMAND_H
