// SPDX-License-Identifier: MIT
#include "cli.h"

#include <getopt.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "config_file.h"
#include "file_io.h"

namespace owtool {

bool ParseUnsigned(const char* text, uint64_t max, uint64_t* out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *out = v;
  return true;
}
namespace {

// The standard rows take ids below zero, out of the tools' range.
constexpr int kHelpId = -1;
constexpr int kVersionId = -2;
constexpr int kQuietId = -3;
constexpr int kVerboseId = -4;
constexpr int kConfigId = -5;

// getopt_long's code for a row: its letter, or a number past every letter.
int CodeOf(const OptionSpec& option, size_t row) {
  return option.shortName != 0 ? static_cast<unsigned char>(option.shortName)
                              : 256 + static_cast<int>(row);
}

constexpr size_t kHelpIndent = 30;
constexpr size_t kHelpWidth = 100;

// `text` broken into lines of at most kHelpWidth columns, continuation lines indented.
std::string Wrap(const std::string& text) {
  std::string result;
  size_t column = kHelpIndent;
  for (size_t start = 0; start < text.size();) {
    size_t end = text.find(' ', start);
    if (end == std::string::npos) end = text.size();
    const std::string word = text.substr(start, end - start);
    if (column > kHelpIndent && column + 1 + word.size() > kHelpWidth) {
      result += "\n" + std::string(kHelpIndent, ' ');
      column = kHelpIndent;
    } else if (column > kHelpIndent) {
      result += ' ';
      ++column;
    }
    result += word;
    column += word.size();
    start = end + 1;
  }
  return result;
}

std::string HelpRow(const OptionSpec& option) {
  std::string left = option.shortName != 0 ? std::string("  -") + option.shortName + ", "
                                          : std::string("      ");
  left += std::string("--") + option.longName;
  if (option.value == Value::kRequired) left += std::string("=") + option.valueName;
  if (option.value == Value::kOptional) left += std::string("[=") + option.valueName + "]";
  if (left.size() < kHelpIndent) {
    left.resize(kHelpIndent, ' ');
  } else {
    left += "\n" + std::string(kHelpIndent, ' ');
  }
  return left + Wrap(option.help) + "\n";
}

bool WriteAllOut(const std::string& text) {
  return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
         std::fflush(stdout) == 0;
}

}  // namespace

CommandLine::CommandLine(ToolInfo info, std::vector<OptionSpec> options)
    : mInfo(std::move(info)), mOptions(std::move(options)) {
  mOptions.push_back({kQuietId, 'q', "quiet", Value::kNone, nullptr, mInfo.quietHelp});
  mOptions.push_back({kVerboseId, 'v', "verbose", Value::kNone, nullptr, mInfo.verboseHelp});
  mOptions.push_back({kHelpId, 'h', "help", Value::kNone, nullptr, "print this help and exit"});
  mOptions.push_back(
      {kVersionId, 'V', "version", Value::kNone, nullptr, "print the version and exit"});
}

const OptionSpec* CommandLine::FindById(int code) const {
  for (size_t row = 0; row < mOptions.size(); ++row) {
    if (CodeOf(mOptions[row], row) == code) return &mOptions[row];
  }
  return nullptr;
}

std::string CommandLine::ErrorFor(int code, const char* arg) const {
  const OptionSpec* option = optopt != 0 ? FindById(optopt) : nullptr;
  if (code == ':' && option != nullptr) {
    return std::string("option '--") + option->longName + "' needs a value";
  }
  if (option != nullptr) return std::string("option '--") + option->longName + "' takes no value";
  if (optopt != 0) return std::string("unknown option '-") + static_cast<char>(optopt) + "'";
  std::string text = arg != nullptr ? arg : "?";
  text = text.substr(0, text.find('='));
  // getopt_long takes an abbreviation of one option only; name the candidates it refused.
  std::string candidates;
  for (const OptionSpec& option : mOptions) {
    if (option.help != nullptr && text.size() > 2 &&
        std::string("--").append(option.longName).compare(0, text.size(), text) == 0) {
      candidates += (candidates.empty() ? "" : ", ") + std::string("--") + option.longName;
    }
  }
  if (candidates.find(',') != std::string::npos) {
    return "option '" + text + "' is ambiguous: " + candidates;
  }
  return "unknown option '" + text + "'";
}

void CommandLine::AllowConfigFile(const char* help) {
  // Before the standard rows, so that --help lists it with the tool's own options.
  const auto standard = std::find_if(mOptions.begin(), mOptions.end(),
                                     [](const OptionSpec& o) { return o.id < 0; });
  mOptions.insert(standard, {kConfigId, 0, "config", Value::kRequired, "FILE", help});
}

std::string CommandLine::Apply(const OptionSpec& option, const char* value,
                               const OptionHandler& handler) {
  std::string why;
  switch (option.id) {
    case kQuietId: mCommon.quiet = true, mCommon.verbose = false; break;
    case kVerboseId: mCommon.verbose = true, mCommon.quiet = false; break;
    default:
      if (!handler(option.id, value, &why) && why.empty()) why = "cannot be used";
  }
  return why;
}

bool CommandLine::ApplyConfigFile(const OptionHandler& handler) {
  std::string text;
  std::vector<ConfigSetting> settings;
  if (!ReadWholeFile(mConfigFile, &text, &mError) ||
      !ParseConfig(mConfigFile, text, mOptions, {kHelpId, kVersionId, kConfigId}, &settings,
                   &mError)) {
    return false;
  }
  for (const ConfigSetting& setting : settings) {
    const std::string why =
        Apply(*setting.option, setting.hasValue ? setting.value.c_str() : nullptr, handler);
    if (!why.empty()) {
      mError = mConfigFile + ":" + std::to_string(setting.line) + ": option '" +
               setting.option->longName + "': " + why;
      return false;
    }
  }
  return true;
}

Outcome CommandLine::Parse(int argc, char** argv, const OptionHandler& handler) {
  std::vector<option> longs;
  std::string shorts = ":";  // a missing value answers ':' rather than '?'
  for (size_t row = 0; row < mOptions.size(); ++row) {
    const OptionSpec& option = mOptions[row];
    const int hasArg = option.value == Value::kNone       ? no_argument
                        : option.value == Value::kRequired ? required_argument
                                                         : optional_argument;
    longs.push_back({option.longName, hasArg, nullptr, CodeOf(option, row)});
    if (option.shortName == 0) continue;
    shorts += option.shortName;
    if (option.value != Value::kNone) shorts += option.value == Value::kRequired ? ":" : "::";
  }
  longs.push_back({nullptr, 0, nullptr, 0});
  opterr = 0;
  optind = 0;  // glibc: start afresh
  bool help = false, version = false;
  mError.clear();
  std::vector<std::pair<const OptionSpec*, const char*>> given;
  // --help wins over everything, mistakes included, so the first mistake is kept until the end.
  for (int code; (code = getopt_long(argc, argv, shorts.c_str(), longs.data(), nullptr)) != -1;) {
    const OptionSpec* option = code == '?' || code == ':' ? nullptr : FindById(code);
    if (option == nullptr) {
      if (mError.empty()) mError = ErrorFor(code, optind > 0 ? argv[optind - 1] : nullptr);
      continue;
    }
    switch (option->id) {
      case kHelpId: help = true; break;
      case kVersionId: version = true; break;
      case kConfigId: mConfigFile = optarg; break;
      default: given.emplace_back(option, optarg);
    }
  }
  for (int i = optind; i < argc; ++i) mOperands.push_back(argv[i]);
  if (help) return Outcome::kHelp;
  if (!mError.empty()) return Outcome::kUsageError;
  if (version) return Outcome::kVersion;
  if (!mConfigFile.empty() && !ApplyConfigFile(handler)) return Outcome::kConfigError;
  for (const auto& [option, value] : given) {
    const std::string why = Apply(*option, value, handler);
    if (!why.empty()) {
      mError = std::string("option '--") + option->longName + "': " + why;
      return Outcome::kUsageError;
    }
  }
  return Outcome::kRun;
}

std::string CommandLine::HelpText() const {
  std::string text = mInfo.usage + "\nOptions:\n";
  for (const OptionSpec& option : mOptions) {
    if (option.help != nullptr) text += HelpRow(option);
  }
  return mInfo.epilogue.empty() ? text : text + "\n" + mInfo.epilogue;
}

std::string CommandLine::VersionText() const {
  std::string text = std::string(mInfo.name) + " " + mInfo.version;
  if (!mInfo.libraryVersion.empty()) text += " (owclient " + mInfo.libraryVersion + ")";
  return text + "\n";
}

int CommandLine::Finish(Outcome outcome) const {
  switch (outcome) {
    case Outcome::kHelp:
      return PrintToStdout(mInfo.name, HelpText()) ? kExitOk : kExitFailed;
    case Outcome::kVersion:
      return PrintToStdout(mInfo.name, VersionText()) ? kExitOk : kExitFailed;
    case Outcome::kUsageError:
      return UsageError(mError);
    case Outcome::kConfigError:
      PrintError(mInfo.name, mError);
      return kExitUsage;
    case Outcome::kRun:
      break;
  }
  return kExitOk;
}

int CommandLine::UsageError(const std::string& message) const {
  PrintError(mInfo.name, message + "\nTry '" + mInfo.name + " --help'.");
  return kExitUsage;
}

void PrintError(const char* tool, const std::string& message) {
  const std::string line = std::string(tool) + ": " + message + "\n";
  std::fflush(stdout);  // what the tool printed before comes first on a shared terminal
  if (::write(STDERR_FILENO, line.data(), line.size()) < 0) return;  // nowhere left to say it
}

bool PrintToStdout(const char* tool, const std::string& text) {
  if (WriteAllOut(text)) return true;
  const int err = errno;
  std::clearerr(stdout);
  PrintError(tool, std::string("cannot write to standard output: ") + std::strerror(err));
  return false;
}

int FinishStdout(const char* tool, int status) {
  if (std::fflush(stdout) == 0 && !std::ferror(stdout)) return status;
  PrintError(tool, std::string("cannot write to standard output: ") + std::strerror(errno));
  return status == kExitOk ? kExitFailed : status;
}

}  // namespace owtool
