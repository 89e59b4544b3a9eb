// SPDX-License-Identifier: MIT
// The command-line conventions every tool of the project shares: one option table that both
// the parser and --help read, the standard options (-h, -V, -q, -v), one message format and
// three exit statuses.
//
// Built on getopt_long rather than a header-only parser: it is part of the C library every
// target already links (nothing to install or vendor), it is what users of Linux tools know
// (--opt=value and --opt value, -abc clusters, "--", unambiguous abbreviations), and with
// opterr off every message is still ours.
#ifndef OWTOOL_CLI_H
#define OWTOOL_CLI_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace owtool {

// A whole decimal number from 0 to max: digits only (no sign, no blank, nothing after);
// false when the text is anything else or the number is larger.
bool ParseUnsigned(const char* text, uint64_t max, uint64_t* out);

// Exit statuses of every tool.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // something failed at run time
constexpr int kExitUsage = 2;   // the command line or the configuration is wrong

enum class Value { kNone, kRequired, kOptional };  // kOptional: only as --name=value

// One row of a tool's option table. A row without help is hidden: it still works (an old
// spelling kept for scripts) but --help does not list it.
struct OptionSpec {
  int id;           // the tool's own code, passed back to its handler; >= 0
  char shortName;  // 0: long form only
  const char* longName;
  Value value;
  const char* valueName;  // "FILE"; null when the option takes no value
  const char* help;        // null: hidden
};

// Everything about a tool that --help and --version show besides its options.
struct ToolInfo {
  const char* name;             // "owconvert"
  std::string version;          // the tool's own version
  std::string libraryVersion;  // the library it was built with; "" for none
  std::string usage;            // the lines above the options ("Usage: ...")
  std::string epilogue;         // the lines below the options
  const char* quietHelp = "print nothing but errors";
  const char* verboseHelp = "print more about what happens";
};

// What the standard options set; the tool's own options go to its handler.
struct Common {
  bool quiet = false;
  bool verbose = false;  // the last of -q and -v given wins
};

// Called once per option of the tool's table, in command-line order, with the value (null for
// none). Returns false with `error` set when the value cannot be used.
using OptionHandler = std::function<bool(int id, const char* value, std::string* error)>;

// kConfigError: the configuration file cannot be read or has a wrong line.
enum class Outcome { kRun, kHelp, kVersion, kUsageError, kConfigError };

class CommandLine {
 public:
  CommandLine(ToolInfo info, std::vector<OptionSpec> options);

  // Adds --config FILE: the options of FILE (config_file.h) apply first, those of the
  // command line after them, so that the command line overrides the file. Call before
  // Parse.
  void AllowConfigFile(const char* help);

  // Parses argv (argv[0] skipped). Options may stand anywhere; "--" ends them. The handler
  // sees nothing unless the whole command line is right: first the configuration file's
  // options, then the command line's, each in order. kUsageError and kConfigError leave
  // the message in Error().
  Outcome Parse(int argc, char** argv, const OptionHandler& handler);

  const Common& CommonOptions() const { return mCommon; }
  const std::vector<std::string>& Operands() const { return mOperands; }
  const std::string& Error() const { return mError; }
  const std::string& ConfigFile() const { return mConfigFile; }  // "" without --config
  const ToolInfo& Info() const { return mInfo; }

  std::string HelpText() const;
  std::string VersionText() const;

  // Runs the usual answer to an outcome other than kRun and returns the exit status:
  // help or version on standard output (1 when that fails, as on a full disk), or the
  // usage error with its "Try" line (2), or the configuration error alone (2).
  int Finish(Outcome outcome) const;
  // "tool: message" plus the hint to --help on standard error; returns kExitUsage.
  int UsageError(const std::string& message) const;

 private:
  const OptionSpec* FindById(int id) const;
  std::string ErrorFor(int code, const char* arg) const;
  // One option: the standard ones here, the tool's through its handler. "" or why not.
  std::string Apply(const OptionSpec& option, const char* value, const OptionHandler& handler);
  bool ApplyConfigFile(const OptionHandler& handler);

  ToolInfo mInfo;
  std::vector<OptionSpec> mOptions;  // the tool's rows, then the standard ones
  Common mCommon;
  std::vector<std::string> mOperands;
  std::string mError;
  std::string mConfigFile;
};

// "tool: message" on standard error, written with one call so that lines of several
// threads do not mix.
void PrintError(const char* tool, const std::string& message);

// Writes `text` to standard output and flushes; on failure says so ("tool: cannot write to
// standard output: No space left on device") and returns false.
bool PrintToStdout(const char* tool, const std::string& text);

// Flushes standard output before the tool exits; a failure (a full disk, a closed pipe) turns
// a successful `status` into kExitFailed with one line.
int FinishStdout(const char* tool, int status);

}  // namespace owtool

#endif  // OWTOOL_CLI_H
