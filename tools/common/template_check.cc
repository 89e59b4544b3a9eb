// SPDX-License-Identifier: MIT
#include "template_check.h"

#include <algorithm>
#include <string_view>
#include <vector>

namespace owtool {
namespace {

constexpr std::string_view kTarget = "<?Kavio";
constexpr std::string_view kClose = "?>";

bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

struct Command {
  std::string word;
  size_t start = 0;  // of its target
  size_t next = 0;   // past its "?>"
};

// The next command from `from`, or false when there is none: no target left, a target
// without "?>", or an empty command (which ends the library's reading too). A target
// interrupted by another before its "?>" is text.
bool NextCommand(std::string_view text, size_t from, Command* command) {
  size_t open = text.find(kTarget, from), close = std::string_view::npos;
  while (open != std::string_view::npos) {
    const size_t body = open + kTarget.size();
    close = text.find(kClose, body);
    if (close == std::string_view::npos) return false;
    const size_t inner = text.substr(body, close - body).find(kTarget);
    if (inner == std::string_view::npos) break;
    open = body + inner;
  }
  if (open == std::string_view::npos) return false;
  size_t i = open + kTarget.size();
  while (i < close && !IsBlank(text[i])) ++i;  // text glued to the target
  while (i < close && IsBlank(text[i])) ++i;
  size_t end = i;
  while (end < close && !IsBlank(text[end])) ++end;
  command->word.assign(text.substr(i, end - i));
  command->start = open;
  command->next = close + kClose.size();
  return !command->word.empty();
}

struct Open {
  std::string word;  // "if" or "foreach"
  size_t line;
  bool hasElse;
};

std::string AtLine(size_t line, const std::string& what) {
  return "template line " + std::to_string(line) + ": " + what;
}

}  // namespace

std::string TemplateProblem(const std::string& text) {
  std::vector<Open> open;
  size_t line = 1, counted = 0;
  Command c;
  for (size_t pos = 0; NextCommand(text, pos, &c); pos = c.next) {
    line += static_cast<size_t>(std::count(text.begin() + counted, text.begin() + c.start, '\n'));
    counted = c.start;
    if (c.word == "if" || c.word == "foreach") {
      open.push_back({c.word, line, false});
    } else if (c.word == "else") {
      if (open.empty() || open.back().word != "if") return AtLine(line, "\"else\" without \"if\"");
      if (open.back().hasElse) return AtLine(line, "a second \"else\" for one \"if\"");
      open.back().hasElse = true;
    } else if (c.word == "end") {
      if (open.empty()) return AtLine(line, "\"end\" without \"if\" or \"foreach\"");
      open.pop_back();
    } else if (c.word != "insert" && c.word != "version" && c.word != "namespace") {
      return AtLine(line, "unknown command \"" + c.word + "\"");
    }
  }
  if (open.empty()) return "";
  return AtLine(open.back().line, "\"" + open.back().word + "\" without \"end\"");
}

}  // namespace owtool
