// SPDX-License-Identifier: MIT
// The configuration file of the shared command-line layer, through CommandLine::Parse as a
// tool runs it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli.h"
#include "support/temp_dir.h"

namespace owc_test {
namespace {

using owtool::Outcome;
using owtool::Value;

enum { kMode, kOut, kSendDone, kLevel };

struct Parsed {
  Outcome outcome;
  std::vector<std::string> calls;  // "name=value" or "name", in the order applied
  std::string error;
  bool quiet, verbose;
};

class ConfigFileTest : public ::testing::Test {
 protected:
  // Runs the parser over `args` (the program name added) with `file` as ./tool.conf.
  Parsed Parse(const std::string& file, std::vector<std::string> args) {
    owc_test::TempDir::Write(mPath, file);
    args.insert(args.begin(), "tool");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    owtool::CommandLine cli({"tool", "1", "", "Usage: tool\n", ""},
                            {{kMode, 0, "mode", Value::kRequired, "MODE", "mode"},
                             {kOut, 'd', "output-dir", Value::kRequired, "DIR", "folder"},
                             {kSendDone, 0, "send-done", Value::kNone, nullptr, "done"},
                             {kLevel, 0, "level", Value::kOptional, "N", "level"}});
    cli.AllowConfigFile("read FILE");
    Parsed p{};
    p.outcome = cli.Parse(
        static_cast<int>(argv.size()), argv.data(),
        [&](int id, const char* value, std::string* error) {
          static const char* const kNames[] = {"mode", "output-dir", "send-done", "level"};
          if (id == kMode && std::string(value) > "2") {
            *error = "takes 0, 1 or 2";
            return false;
          }
          p.calls.push_back(kNames[id] + (value ? "=" + std::string(value) : ""));
          return true;
        });
    p.error = cli.Error();
    p.quiet = cli.CommonOptions().quiet;
    p.verbose = cli.CommonOptions().verbose;
    return p;
  }
  owc_test::TempDir mDir;
  const std::string mPath = mDir.File("tool.conf");
};

TEST_F(ConfigFileTest, EveryFormOfALineSetsItsOptionAndTheCommandLineComesAfter) {
  const std::string file =
      "# a comment\n"
      "\n"
      "mode = 2\r\n"
      "  output-dir   /var/lib/feed one  \n"
      "send-done\n"
      "level\n"
      "level=\"  spaced  \"\n"
      "quiet\n"
      "mode=1";  // no line break at the end
  Parsed p = Parse(file, {"--config", mPath, "--mode=0", "-v"});
  ASSERT_EQ(Outcome::kRun, p.outcome) << p.error;
  EXPECT_EQ((std::vector<std::string>{"mode=2", "output-dir=/var/lib/feed one", "send-done",
                                      "level", "level=  spaced  ", "mode=1", "mode=0"}),
            p.calls);
  EXPECT_TRUE(p.verbose && !p.quiet) << "-v on the command line overrides quiet in the file";
  p = Parse("quiet\n", {"-v", "--config=" + mPath});
  EXPECT_TRUE(p.verbose && !p.quiet) << "whatever their order on the command line";
}

TEST_F(ConfigFileTest, AWrongLineIsOneLineNamingFileAndLineAndEndsTheParse) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"mode 1\nbogus = 3\n", ":2: unknown option 'bogus'"},
      {"--mode 1\n", ":1: write 'mode' without its dashes"},
      {"send-done = yes\n", ":1: option 'send-done' takes no value"},
      {"\n\noutput-dir\n", ":3: option 'output-dir' needs a value"},
      {"= 2\n", ":1: no option name before '='"},
      {"help\n", ":1: option 'help' cannot be used in a configuration file"},
      {"config other.conf\n", ":1: option 'config' cannot be used in a configuration file"},
      {"mode = 7\n", ":1: option 'mode': takes 0, 1 or 2"},
      {"d x\n", ":1: unknown option 'd'"},  // long names only
  };
  for (const auto& [file, message] : cases) {
    Parsed p = Parse(file, {"--config", mPath, "--send-done"});
    EXPECT_EQ(Outcome::kConfigError, p.outcome) << file;
    EXPECT_EQ(mPath + message, p.error);
    EXPECT_TRUE(p.calls.empty() || p.calls == std::vector<std::string>{"mode=1"})
        << "the command line's options are not applied after a wrong file";
  }
  Parsed missing = Parse("", {"--config", mDir.File("absent.conf")});
  EXPECT_EQ(Outcome::kConfigError, missing.outcome);
  EXPECT_EQ(mDir.File("absent.conf") + ": No such file or directory", missing.error);
  EXPECT_EQ(Outcome::kHelp, Parse("", {"--config", mDir.File("absent.conf"), "--help"}).outcome);
  Parsed bad_command_line = Parse("mode 1\n", {"--config", mPath, "--mode", "9"});
  EXPECT_EQ(Outcome::kUsageError, bad_command_line.outcome);
  EXPECT_EQ("option '--mode': takes 0, 1 or 2", bad_command_line.error);
}

}  // namespace
}  // namespace owc_test
