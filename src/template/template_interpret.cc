// The command interpreter that expands a template against the document being
// generated. Each level (top, branch of "if"/"else", loop body) is one call of
// ParseTemplate; a loop re-reads its body from the body start on every iteration.
#include "runtime/trace_log.h"
#include "template/html_template.h"
#include "template/template_command.h"

namespace owc {

namespace {

// Deeper nesting of "if"/"foreach" ends the expansion: a hostile template must not
// exhaust the stack.
constexpr uint32_t kMaxNesting = 256;

}  // namespace

size_t WCHTMLTemplate::ReadCommand(size_t pos, uint32_t* line, std::string* word, std::string* args,
                                   bool copy) {
  return TmplCmdGetNext(mText.data(), mTextEnd, pos, line, word, args, copy ? &mOutput : nullptr);
}

bool WCHTMLTemplate::EnterNesting(uint32_t nesting, uint32_t line) {
  if (nesting < kMaxNesting) return true;
  TraceLogF(kLevelFailure, "WCHTMLTemplate::ParseTemplate nesting deeper than %u on line %u",
            kMaxNesting, line);
  mAbort = true;
  return false;
}

bool WCHTMLTemplate::ParseTemplate(Level level, bool emit, size_t* pos, uint32_t* line,
                                   uint32_t nesting) {
  bool result = true;
  std::string word;
  std::string args;
  size_t commandPos = *pos;
  uint32_t commandLine = *line;
  *pos = ReadCommand(*pos, line, &word, &args, emit);
  while (!word.empty() && !mAbort) {
    if (word == "insert") {
      if (emit && !CommandInsert(args)) result = false;
    } else if (word == "if") {
      if (!CommandIf(args, emit, pos, line, nesting)) result = false;
    } else if (word == "foreach") {
      if (!CommandForeach(args, emit, pos, line, nesting)) result = false;
    } else if (word == "else" || word == "end") {
      if (level == Level::kBranch || (word == "end" && level == Level::kLoopBody)) {
        // The caller reads this command again, as the end of the level.
        *pos = commandPos;
        *line = commandLine;
        return result;
      }
      TraceLogF(kLevelFailure, "WCHTMLTemplate::ParseTemplate '%s' unexpected on line %u",
                word.c_str(), *line);
      return false;
    } else if (word != "version" && word != "namespace") {
      TraceLogF(kLevelFailure, "WCHTMLTemplate::ParseTemplate unknown command %s on line %u",
                word.c_str(), *line);
      result = false;
    }
    commandPos = *pos;
    commandLine = *line;
    *pos = ReadCommand(*pos, line, &word, &args, emit);
  }
  return result && !mAbort;
}

bool WCHTMLTemplate::CommandInsert(const std::string& args) {
  std::string uri;
  std::string name;
  if (!TmplValNormalize(args, &uri, &name)) return false;
  std::string value;
  if (mBindingStack.Lookup(uri, name, &value)) {
    mOutput += value;
    return true;
  }
  for (uint32_t index = 0;; ++index) {
    GetValue(uri, name, true, index, true, &value);
    if (value.empty()) break;
    mOutput += value;
  }
  return true;
}

bool WCHTMLTemplate::CommandIf(const std::string& args, bool emit, size_t* pos, uint32_t* line,
                               uint32_t nesting) {
  std::string uri;
  std::string name;
  std::string test;
  bool result = TmplValNormalize(args, &uri, &name);
  if (result) GetValue(uri, name, false, 0, false, &test);
  if (!EnterNesting(nesting + 1, *line)) return false;
  const bool thenEmit = emit && !test.empty();
  const bool elseEmit = emit && test.empty();
  if (!ParseTemplate(Level::kBranch, thenEmit, pos, line, nesting + 1)) result = false;
  std::string word;
  std::string unused;
  *pos = ReadCommand(*pos, line, &word, &unused, false);
  if (word == "else") {
    if (!ParseTemplate(Level::kBranch, elseEmit, pos, line, nesting + 1)) result = false;
    *pos = ReadCommand(*pos, line, &word, &unused, false);
  }
  return result;
}

bool WCHTMLTemplate::CommandForeach(const std::string& args, bool emit, size_t* pos, uint32_t* line,
                                    uint32_t nesting) {
  std::string uri;
  std::string name;
  std::string value;
  bool resolved = TmplValNormalize(args, &uri, &name);
  bool result = resolved;
  if (!EnterNesting(nesting + 1, *line)) return false;
  const size_t bodyPos = *pos;
  const uint32_t bodyLine = *line;
  if (resolved) GetValue(uri, name, true, 0, true, &value);
  bool iterate = false;
  if (emit && !value.empty()) {
    if (mBindingStack.PushFrame() != nullptr) {
      iterate = true;
    } else {
      // The body is then passed over once without output.
      TraceLogF(kLevelFailure,
                "WCHTMLTemplate::ParseTemplate 'foreach' mBindingStack.PushFrame failed on line %u",
                *line);
      result = false;
    }
  }
  for (uint32_t index = 0; !mAbort; ++index) {
    if (iterate && value.empty()) break;
    if (iterate && !mBindingStack.Top()->Bind(uri, name, value)) result = false;
    *pos = bodyPos;
    *line = bodyLine;
    if (!ParseTemplate(Level::kLoopBody, iterate, pos, line, nesting + 1)) result = false;
    if (!iterate) break;
    GetValue(uri, name, true, index + 1, true, &value);
  }
  if (iterate) mBindingStack.PopFrame();
  std::string word;
  std::string unused;
  *pos = ReadCommand(*pos, line, &word, &unused, false);
  return result;
}

}  // namespace owc
