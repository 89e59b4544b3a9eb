// SPDX-License-Identifier: MIT
// The owwired executable as a child process, the way integration tests and people run it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server_fixture.h"
#include "support/tool_runner.h"
#include "support/wire_server.h"

namespace owc_test {
namespace {

// "<exit status>:<stdout and stderr>".
std::string Output(const std::vector<std::string>& args) {
  TempDir scratch;
  const RunResult r = RunTool(OWWIRED_BINARY, args, scratch.Path());
  return std::to_string(r.status) + ":" + r.out + r.err;
}

TEST_F(OwwiredTest, HelpWinsAndExitsZeroBadOptionsExitTwoATakenAddressExitsOne) {
  std::string help = Output({"--port=1", "-h", "--bogus"});
  EXPECT_EQ(help.compare(0, 2, "0:"), 0);
  for (size_t at = 0, end; (end = help.find('\n', at)) != std::string::npos; at = end + 1) {
    EXPECT_LE(end - at, 100u) << help.substr(at, end - at);
  }
  std::pair<const char*, const char*> cases[] = {
      {"--bogus", "unknown option '--bogus'"}, {"--port", "needs a value"},
      {"--block-size=0", "from 1 to 65535"},   {"--block-size=65536", "from 1 to 65535"},
      {"--port=12x", "'12x' is not a number"}, {"--pipeline=1", "takes no value"},
      {"--product=two words", "one word"},     {"stray", "unexpected argument 'stray'"}};
  for (const auto& [arg, message] : cases) {
    std::string output = Output({arg});
    EXPECT_EQ(output.compare(0, 2, "2:"), 0) << output;
    EXPECT_NE(output.find(message), std::string::npos) << output;
  }
  const auto holder = StartServer("127.0.0.252", owwired::Options());
  ASSERT_FALSE(HasFailure());
  std::string taken = Output({"-a", "127.0.0.252", "-q"});
  EXPECT_EQ(taken.compare(0, 2, "1:"), 0) << taken;
  EXPECT_NE(taken.find("cannot listen on 127.0.0.252:39030"), std::string::npos) << taken;
}

// Options in each form: long with "=" or a separate value, short attached or separate, flags,
// and an optional value left out.
TEST_F(OwwiredTest, ServesThenExitsCleanlyOnSigtermOrOnceEverythingWasDelivered) {
  TempDir scratch[2];
  ToolProcess served(OWWIRED_BINARY,
                     {"--address=127.0.0.250", "--quiet", "--generate", "1", "-b700",
                      "--first-session-id=5", "--reject-filter"},
                     scratch[0].Path());
  ToolProcess done(OWWIRED_BINARY, {"-a", "127.0.0.251", "-q", "--exit-when-done", "--generate=1"},
                   scratch[1].Path());
  RawClient first, early, last;
  ASSERT_TRUE(first.Connect("127.0.0.250"));
  first.ReadText();
  EXPECT_EQ(first.Ask("USER"), "5:+USER");
  EXPECT_EQ(first.Ask("5:FLTR ALL"), "5:-FLTR (400) Bad request");
  first.prefix = "5:";
  EXPECT_EQ(first.OpenFile(), "story00001.xml story00001.xml");
  EXPECT_EQ(first.NextBlock().size(), 700u);
  EXPECT_EQ(served.Stop(), 0);
  EXPECT_TRUE(first.WaitClosed());
  ASSERT_TRUE(early.Connect("127.0.0.251") && last.Connect("127.0.0.251"));
  ASSERT_NE(early.LogIn(), "");
  EXPECT_EQ(early.Ask(early.prefix + "DONE"), early.prefix + "+DONE");  // nothing delivered yet
  ASSERT_NE(last.LogIn(), "");
  EXPECT_NE(last.FetchFile(), "<error>");
  EXPECT_NE(last.FetchFile(), "<error>");
  EXPECT_EQ(last.Ask(last.prefix + "DONE"), last.prefix + "+DONE");  // the server was still there
  EXPECT_EQ(done.Wait(), 0);
}

}  // namespace
}  // namespace owc_test
