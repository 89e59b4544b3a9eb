// SPDX-License-Identifier: MIT
// The conventions every tool keeps, checked the same way for each: one row per tool. A tool
// joins by adding its row (and its binary to this suite's CMake rule).
#include <gtest/gtest.h>

#include "support/tool_runner.h"

namespace owc_test {
namespace {

struct ToolRow {
  const char* name;
  const char* binary;
  // An option that takes a value, with a value it refuses, and the reason it gives.
  const char* option;
  const char* bad_value;
  const char* reason;
};

void PrintTo(const ToolRow& row, std::ostream* out) { *out << row.name; }

const ToolRow kTools[] = {
    {"owwired", OWWIRED_BIN, "--block-size", "0", "'0' is not a number from 1 to 65535"},
    {"owconvert", OWCONVERT_BIN, "--jobs", "x", "takes a number of threads from 0 to 256"},
    {"owgateway", OWGATEWAY_BIN, "--server", "host:0", "'0' is not a port from 1 to 65535"},
};

class ConventionsTest : public ::testing::TestWithParam<ToolRow> {
 protected:
  RunResult Run(const std::vector<std::string>& args) {
    return RunTool(GetParam().binary, args, mDir.Path());
  }
  std::string Tool() const { return GetParam().name; }
  TempDir mDir;
};

TEST_P(ConventionsTest, HelpAndVersionGoToStandardOutputWithStatusZeroOrFailWithOneLine) {
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(Run({"-h"}).out, help.out);
  for (const char* row :
       {"  -q, --quiet ", "  -v, --verbose ", "  -h, --help ", "  -V, --version "}) {
    EXPECT_TRUE(Contains(help.out, row)) << row;
  }
  EXPECT_TRUE(Contains(help.out, "\nExit status:\n  0 ")) << "the statuses are stated";
  const std::string version =
      Tool() + " " OWC_PROJECT_VERSION " (owclient " OWC_PROJECT_VERSION ")\n";
  for (const char* option : {"-V", "--version"}) {
    RunResult r = Run({option});
    EXPECT_EQ(r.status, 0) << option;
    EXPECT_EQ(r.out, version) << option;
  }
  RunResult full =
      RunTool("/bin/sh", {"-c", std::string("exec ") + GetParam().binary + " --help >/dev/full"},
              mDir.Path());
  EXPECT_EQ(full.status, 1);
  EXPECT_EQ(full.err, Tool() + ": cannot write to standard output: No space left on device\n");
}

TEST_P(ConventionsTest, UsageErrorsAreOneLineWithAHintAndStatusTwo) {
  const std::string hint = "\nTry '" + Tool() + " --help'.\n";
  const std::string option = GetParam().option;
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option '--bogus'"},
      {{"--bogus=1"}, "unknown option '--bogus'"},
      {{"-Z"}, "unknown option '-Z'"},
      {{"--quiet=1"}, "option '--quiet' takes no value"},
      {{option}, "option '" + option + "' needs a value"},
      {{option + "=" + GetParam().bad_value}, "option '" + option + "': " + GetParam().reason},
      {{option, GetParam().bad_value}, "option '" + option + "': " + GetParam().reason},
  };
  for (const auto& [args, message] : cases) {
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << args[0];
    EXPECT_EQ(r.err, Tool() + ": " + message + hint);
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(Run({"--bogus", "--help"}).status, 0) << "help wins";
}

INSTANTIATE_TEST_SUITE_P(Tools, ConventionsTest, ::testing::ValuesIn(kTools),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace owc_test
