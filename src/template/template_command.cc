// SPDX-License-Identifier: MIT
#include "template/template_command.h"

#include <algorithm>
#include <string_view>

#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

constexpr std::string_view kTarget = "<?Kavio";
constexpr std::string_view kClose = "?>";

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Finds the target whose "?>" comes before any other target. *close receives the
// position of that "?>". npos when no target is left, or (*close npos) when the last
// target found has no "?>" after it.
size_t FindCommand(std::string_view text, size_t start, size_t* close) {
  *close = std::string_view::npos;
  size_t open = text.find(kTarget, start);
  while (open != std::string_view::npos) {
    size_t afterTarget = open + kTarget.size();
    *close = text.find(kClose, afterTarget);
    if (*close == std::string_view::npos) return open;
    size_t inner = text.substr(afterTarget, *close - afterTarget).find(kTarget);
    if (inner == std::string_view::npos) return open;
    open = afterTarget + inner;  // an interrupted target is literal text
  }
  return open;
}

void SplitCommand(std::string_view body, std::string* word, std::string* args) {
  size_t i = 0;
  while (i < body.size() && !IsBlank(body[i])) ++i;  // text glued to the target
  while (i < body.size() && IsBlank(body[i])) ++i;
  size_t wordStart = i;
  while (i < body.size() && !IsBlank(body[i])) ++i;
  size_t wordEnd = i;
  while (i < body.size() && IsBlank(body[i])) ++i;
  const size_t wordLen = wordEnd - wordStart;
  const size_t argsLen = body.size() - i;
  if (!TryAllocate(std::max(wordLen, argsLen) + 1, [&] {
        word->assign(body.data() + wordStart, wordLen);
        args->assign(body.data() + i, argsLen);
      })) {
    TraceLog(kLevelFailure, "WCHTMLTemplate::TmplCmdGetNext new char [] failed");
    word->clear();
    args->clear();
  }
}

}  // namespace

size_t TmplCmdGetNext(const char* text, size_t end, size_t start, uint32_t* line, std::string* word,
                      std::string* args, std::string* literal) {
  word->clear();
  args->clear();
  if (start == kNoCommandPos || start >= end) return kNoCommandPos;
  std::string_view all(text, end);
  size_t close = std::string_view::npos;
  size_t open = FindCommand(all, start, &close);
  size_t literalEnd = open == std::string_view::npos ? end : open;
  if (literal != nullptr && literalEnd > start) literal->append(text + start, literalEnd - start);
  if (open == std::string_view::npos || close == std::string_view::npos) return kNoCommandPos;
  size_t bodyStart = open + kTarget.size();
  SplitCommand(all.substr(bodyStart, close - bodyStart), word, args);
  size_t after = close + kClose.size();
  *line += static_cast<uint32_t>(std::count(text + start, text + after, '\n'));
  return word->empty() ? kNoCommandPos : after;
}

}  // namespace owc
