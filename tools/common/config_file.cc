// SPDX-License-Identifier: MIT
#include "config_file.h"

#include <algorithm>

namespace owtool {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string Trim(const std::string& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// A name ends at a blank or '='; what follows, with an optional '=', is the value.
void SplitLine(const std::string& line, std::string* name, std::string* rest, bool* hasValue) {
  size_t end = 0;
  while (end < line.size() && !IsBlank(line[end]) && line[end] != '=') ++end;
  *name = line.substr(0, end);
  std::string after = Trim(line.substr(end));
  *hasValue = !after.empty();
  if (!after.empty() && after[0] == '=') after = Trim(after.substr(1));
  if (after.size() >= 2 && after.front() == '"' && after.back() == '"') {
    after = after.substr(1, after.size() - 2);
  }
  *rest = after;
}

const OptionSpec* FindLong(const std::vector<OptionSpec>& options, const std::string& name) {
  for (const OptionSpec& option : options) {
    if (name == option.longName) return &option;
  }
  return nullptr;
}

// "" when the line can be used.
std::string CheckSetting(const OptionSpec* option, const std::string& name, bool hasValue,
                         const std::vector<int>& refused) {
  if (option == nullptr) {
    if (name.compare(0, 1, "-") == 0) return "write '" + name.substr(name.find_first_not_of('-')) +
                                             "' without its dashes";
    return "unknown option '" + name + "'";
  }
  const std::string quoted = "option '" + name + "'";
  if (std::find(refused.begin(), refused.end(), option->id) != refused.end()) {
    return quoted + " cannot be used in a configuration file";
  }
  if (option->value == Value::kNone && hasValue) return quoted + " takes no value";
  if (option->value == Value::kRequired && !hasValue) return quoted + " needs a value";
  return "";
}

}  // namespace

bool ParseConfig(const std::string& file, const std::string& text,
                 const std::vector<OptionSpec>& options, const std::vector<int>& refused,
                 std::vector<ConfigSetting>* settings, std::string* error) {
  size_t number = 0;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line[0] == '#') continue;
    if (line.find('\0') != std::string::npos) {
      *error = file + ":" + std::to_string(number) + ": not a text line";
      return false;
    }
    std::string name, value;
    bool hasValue = false;
    SplitLine(line, &name, &value, &hasValue);
    if (name.empty()) {
      *error = file + ":" + std::to_string(number) + ": no option name before '='";
      return false;
    }
    const OptionSpec* option = FindLong(options, name);
    const std::string problem = CheckSetting(option, name, hasValue, refused);
    if (!problem.empty()) {
      *error = file + ":" + std::to_string(number) + ": " + problem;
      return false;
    }
    settings->push_back({number, option, value, hasValue});
  }
  return true;
}

}  // namespace owtool
