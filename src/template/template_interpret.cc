// SPDX-License-Identifier: MIT
// The command interpreter that expands a template against the document being
// generated. Each level (top, branch of "if"/"else", loop body) is one call of
// ParseTemplate; a loop re-reads its body from the body start on every iteration.
#include "runtime/trace_log.h"
#include "template/html_template.h"
#include "template/short_names.h"
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

WCHTMLTemplate::CommandKind WCHTMLTemplate::KindOf(const std::string& word) {
  if (word == "insert") return CommandKind::kInsert;
  if (word == "if") return CommandKind::kIf;
  if (word == "foreach") return CommandKind::kForeach;
  if (word == "else") return CommandKind::kElse;
  if (word == "end") return CommandKind::kEnd;
  if (word == "version" || word == "namespace") return CommandKind::kDeclaration;
  return CommandKind::kUnknown;
}

void WCHTMLTemplate::SetBudget(uint64_t storyBytes) {
  mMaxCommandsRun = kMinCommandsRun + kCommandsPerStoryByte * storyBytes;
  mMaxOutputBytes = kMinOutputBytes + kOutputBytesPerStoryByte * storyBytes;
}

// The same as TmplCmdGetNext over mText, answered from mCommands after the first time.
// The entry stays valid until the template text changes. Commands are mostly read one
// after the other, so each remembers the one that follows it.
WCHTMLTemplate::ScannedCommand* WCHTMLTemplate::ReadCommand(size_t pos, uint32_t* line, bool copy) {
  const bool follows = mLastRead != nullptr && mLastRead->next == pos;
  ScannedCommand* command = follows ? mLastRead->following : nullptr;
  if (command == nullptr) {
    auto found = mCommands.find(pos);
    if (found == mCommands.end()) {
      ScannedCommand scanned;
      std::string literal;
      scanned.next = TmplCmdGetNext(mText.data(), mTextEnd, pos, &scanned.newlines, &scanned.word,
                                    &scanned.args, &literal);
      scanned.literalEnd = pos + literal.size();
      scanned.kind = KindOf(scanned.word);
      found = mCommands.emplace(pos, std::move(scanned)).first;
    }
    command = &found->second;
    if (follows) mLastRead->following = command;
  }
  mLastRead = command;
  if (copy && command->literalEnd > pos) mOutput.append(mText, pos, command->literalEnd - pos);
  *line += command->newlines;
  return command;
}

// A reference that resolved once resolves the same way until the template changes (the
// prefixes are bound when it is loaded); one that fails is tried, and logged, each time.
bool WCHTMLTemplate::ResolveReference(ScannedCommand* command) {
  if (!command->resolved) {
    ValueRef& ref = command->ref;
    if (!TmplValNormalize(command->args, &ref.uri, &ref.name)) return false;
    // A prefixed name bound to a real namespace is a metadata property, never a short name.
    ref.shortName = ref.uri.empty() ? FindShortName(ref.name) : nullptr;
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
    const CommandKind kind = command->kind;
    if (kind == CommandKind::kInsert) {
      if (emit && !CommandInsert(command)) result = false;
    } else if (kind == CommandKind::kIf) {
      if (!CommandIf(command, emit, pos, line, nesting)) result = false;
    } else if (kind == CommandKind::kForeach) {
      if (!CommandForeach(command, emit, pos, line, nesting)) result = false;
    } else if (kind == CommandKind::kElse || kind == CommandKind::kEnd) {
      if (level == Level::kBranch || (kind == CommandKind::kEnd && level == Level::kLoopBody)) {
        // The caller reads this command again, as the end of the level.
        *pos = commandPos;
        *line = commandLine;
        return result;
      }
      TraceLogF(kLevelFailure, "WCHTMLTemplate::ParseTemplate '%s' unexpected on line %u",
                word.c_str(), *line);
      return false;
    } else if (kind != CommandKind::kDeclaration) {
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
  ValueRef* ref = &command->ref;
  if (const std::string* bound = mBindingStack.Find(ref->uri, ref->name)) {
    mOutput += *bound;
    return true;
  }
  // Each occurrence is translated straight into the output; the first that adds nothing
  // (an empty value) ends the insert.
  for (uint32_t index = 0;; ++index) {
    const size_t before = mOutput.size();
    AppendValue(ref, true, index, true, &mOutput);
    if (mOutput.size() == before) break;
  }
  return true;
}

bool WCHTMLTemplate::CommandIf(ScannedCommand* command, bool emit, size_t* pos, uint32_t* line,
                               uint32_t nesting) {
  bool result = ResolveReference(command);
  // Only whether the translated value is empty matters; it is not written anywhere.
  const bool hasValue = result && HasValue(&command->ref);
  if (!EnterNesting(nesting + 1, *line)) return false;
  const bool thenEmit = emit && hasValue;
  const bool elseEmit = emit && !hasValue;
  if (!ParseTemplate(Level::kBranch, thenEmit, pos, line, nesting + 1)) result = false;
  ScannedCommand* next = ReadCommand(*pos, line, false);
  *pos = next->next;
  if (next->kind == CommandKind::kElse) {
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
  ValueRef* ref = &command->ref;
  const size_t bodyPos = *pos;
  const uint32_t bodyLine = *line;
  if (resolved) GetValue(ref, true, 0, true, &value);
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
    if (iterate && !mBindingStack.Top()->Bind(ref->uri, ref->name, value)) result = false;
    *pos = bodyPos;
    *line = bodyLine;
    if (!ParseTemplate(Level::kLoopBody, iterate, pos, line, nesting + 1)) result = false;
    if (!iterate) break;
    GetValue(ref, true, index + 1, true, &value);
  }
  if (iterate) mBindingStack.PopFrame();
  *pos = ReadCommand(*pos, line, false)->next;
  return result;
}

}  // namespace owc
