// SPDX-License-Identifier: MIT
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

// Loops multiply: a few nested "foreach" over a story's bylines run for hours and fill
// memory. An expansion that runs more commands, or writes more output, than its budget
// ends like one nested too deep. The budget has a floor that real templates stay far
// below on any story, and grows with the story: a loop over every paragraph of a large
// story runs a few commands per paragraph and writes the story's text a few times over,
// while nested loops grow with a power of the story's size and still hit it.
constexpr uint64_t kMinCommandsRun = 1u << 16;
constexpr uint64_t kCommandsPerStoryByte = 1;
constexpr uint64_t kMinOutputBytes = 16u << 20;
constexpr uint64_t kOutputBytesPerStoryByte = 4;

}  // namespace

void WCHTMLTemplate::SetBudget(uint64_t storyBytes) {
  mMaxCommandsRun = kMinCommandsRun + kCommandsPerStoryByte * storyBytes;
  mMaxOutputBytes = kMinOutputBytes + kOutputBytesPerStoryByte * storyBytes;
}

// The same as TmplCmdGetNext over mText, answered from mCommands after the first time.
// The entry stays valid until the template text changes.
WCHTMLTemplate::ScannedCommand* WCHTMLTemplate::ReadCommand(size_t pos, uint32_t* line, bool copy) {
  auto found = mCommands.find(pos);
  if (found == mCommands.end()) {
    ScannedCommand scanned;
    std::string literal;
    scanned.next = TmplCmdGetNext(mText.data(), mTextEnd, pos, &scanned.newlines, &scanned.word,
                                  &scanned.args, &literal);
    scanned.literalEnd = pos + literal.size();
    found = mCommands.emplace(pos, std::move(scanned)).first;
  }
  ScannedCommand* command = &found->second;
  if (copy && command->literalEnd > pos) mOutput.append(mText, pos, command->literalEnd - pos);
  *line += command->newlines;
  return command;
}

// A reference that resolved once resolves the same way until the template changes (the
// prefixes are bound when it is loaded); one that fails is tried, and logged, each time.
bool WCHTMLTemplate::ResolveReference(ScannedCommand* command) {
  if (!command->resolved) {
    if (!TmplValNormalize(command->args, &command->uri, &command->name)) return false;
    command->resolved = true;
  }
  return true;
}

bool WCHTMLTemplate::EnterNesting(uint32_t nesting, uint32_t line) {
  if (nesting < kMaxNesting) return true;
  TraceLogF(kLevelFailure, "WCHTMLTemplate::ParseTemplate nesting deeper than %u on line %u",
            kMaxNesting, line);
  mAbort = true;
  return false;
}

bool WCHTMLTemplate::WithinBudget(uint32_t line) {
  if (++mCommandsRun <= mMaxCommandsRun && mOutput.size() <= mMaxOutputBytes) return true;
  if (mCommandsRun > mMaxCommandsRun) {
    TraceLogF(kLevelFailure,
              "WCHTMLTemplate::ParseTemplate expansion too large on line %u: more than %llu "
              "commands run for this story",
              line, static_cast<unsigned long long>(mMaxCommandsRun));
  } else {
    TraceLogF(kLevelFailure,
              "WCHTMLTemplate::ParseTemplate expansion too large on line %u: more than %llu "
              "bytes of output for this story",
              line, static_cast<unsigned long long>(mMaxOutputBytes));
  }
  mAbort = true;
  return false;
}

bool WCHTMLTemplate::ParseTemplate(Level level, bool emit, size_t* pos, uint32_t* line,
                                   uint32_t nesting) {
  bool result = true;
  size_t commandPos = *pos;
  uint32_t commandLine = *line;
  ScannedCommand* command = ReadCommand(*pos, line, emit);
  *pos = command->next;
  while (!command->word.empty() && !mAbort) {
    if (!WithinBudget(*line)) break;
    const std::string& word = command->word;
    if (word == "insert") {
      if (emit && !CommandInsert(command)) result = false;
    } else if (word == "if") {
      if (!CommandIf(command, emit, pos, line, nesting)) result = false;
    } else if (word == "foreach") {
      if (!CommandForeach(command, emit, pos, line, nesting)) result = false;
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
    command = ReadCommand(*pos, line, emit);
    *pos = command->next;
  }
  return result && !mAbort;
}

bool WCHTMLTemplate::CommandInsert(ScannedCommand* command) {
  if (!ResolveReference(command)) return false;
  const std::string& uri = command->uri;
  const std::string& name = command->name;
  std::string value;
  if (mBindingStack.Lookup(uri, name, &value)) {
    mOutput += value;
    return true;
  }
  // Each occurrence is translated straight into the output; the first that adds nothing
  // (an empty value) ends the insert.
  for (uint32_t index = 0;; ++index) {
    const size_t before = mOutput.size();
    AppendValue(uri, name, true, index, true, &mOutput);
    if (mOutput.size() == before) break;
  }
  return true;
}

bool WCHTMLTemplate::CommandIf(ScannedCommand* command, bool emit, size_t* pos, uint32_t* line,
                               uint32_t nesting) {
  std::string& test = mTestValue;
  test.clear();
  bool result = ResolveReference(command);
  if (result) GetValue(command->uri, command->name, false, 0, false, &test);
  if (!EnterNesting(nesting + 1, *line)) return false;
  const bool thenEmit = emit && !test.empty();
  const bool elseEmit = emit && test.empty();
  if (!ParseTemplate(Level::kBranch, thenEmit, pos, line, nesting + 1)) result = false;
  ScannedCommand* next = ReadCommand(*pos, line, false);
  *pos = next->next;
  if (next->word == "else") {
    if (!ParseTemplate(Level::kBranch, elseEmit, pos, line, nesting + 1)) result = false;
    *pos = ReadCommand(*pos, line, false)->next;
  }
  return result;
}

bool WCHTMLTemplate::CommandForeach(ScannedCommand* command, bool emit, size_t* pos, uint32_t* line,
                                    uint32_t nesting) {
  std::string value;
  bool resolved = ResolveReference(command);
  bool result = resolved;
  if (!EnterNesting(nesting + 1, *line)) return false;
  const std::string& uri = command->uri;
  const std::string& name = command->name;
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
  *pos = ReadCommand(*pos, line, false)->next;
  return result;
}

}  // namespace owc
