// The owwired executable as a child process, the way integration tests and people run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "server_fixture.h"

extern char** environ;

namespace owc_test {
namespace {

// owwired running with `args`; killed at the end of the test unless it has exited.
struct Child {
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), OWWIRED_BINARY);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    EXPECT_EQ(::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ), 0);
  }
  ~Child() {
    if (pid > 0 && ::kill(pid, SIGKILL) == 0) ::waitpid(pid, nullptr, 0);
  }
  // The exit status, or -1 when the child still runs at the deadline.
  int Wait() {
    auto end = RawClient::Clock::now() + std::chrono::milliseconds(RawClient::kWaitMs);
    int status = 0;
    for (; ::waitpid(pid, &status, WNOHANG) == 0; std::this_thread::yield()) {
      if (RawClient::Clock::now() > end) return -1;
    }
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  pid_t pid = -1;
};

// "<exit status>:<stdout and stderr>".
std::string Output(const std::string& args) {
  FILE* pipe = ::popen((std::string(OWWIRED_BINARY) + " " + args + " 2>&1").c_str(), "r");
  std::string text;
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0;) text.append(chunk, got);
  int status = ::pclose(pipe);
  return std::to_string(WEXITSTATUS(status)) + ":" + text;
}

TEST_F(OwwiredTest, HelpWinsAndExitsZeroBadOptionsExitTwoATakenAddressExitsOne) {
  std::string help = Output("--port=1 -h --bogus");
  EXPECT_EQ(help.compare(0, 2, "0:"), 0);
  for (size_t at = 0, end; (end = help.find('\n', at)) != std::string::npos; at = end + 1) {
    EXPECT_LE(end - at, 100u) << help.substr(at, end - at);
  }
  std::pair<const char*, const char*> cases[] = {
      {"--bogus", "unknown option '--bogus'"}, {"--port", "needs a value"},
      {"--block-size=0", "from 1 to 65535"},   {"--block-size=65536", "from 1 to 65535"},
      {"--port=12x", "'12x' is not a number"}, {"--pipeline=1", "takes no value"},
      {"'--product=two words'", "one word"},   {"stray", "unexpected argument 'stray'"}};
  for (const auto& [args, message] : cases) {
    std::string output = Output(args);
    EXPECT_EQ(output.compare(0, 2, "2:"), 0) << output;
    EXPECT_NE(output.find(message), std::string::npos) << output;
  }
  owwired::Options options;
  options.address = "127.0.0.252";
  options.verbosity = 0;
  owwired::Server holder(options);
  std::string error;
  ASSERT_TRUE(holder.Start(&error)) << error;
  std::string taken = Output("-a 127.0.0.252 -q");
  EXPECT_EQ(taken.compare(0, 2, "1:"), 0) << taken;
  EXPECT_NE(taken.find("cannot listen on 127.0.0.252:39030"), std::string::npos) << taken;
}

// Options in each form: long with "=" or a separate value, short attached or separate, flags,
// and an optional value left out.
TEST_F(OwwiredTest, ServesThenExitsCleanlyOnSigtermOrOnceEverythingWasDelivered) {
  Child served({"--address=127.0.0.250", "--quiet", "--generate", "1", "-b700",
                "--first-session-id=5", "--reject-filter"});
  Child done({"-a", "127.0.0.251", "-q", "--exit-when-done", "--generate=1"});
  RawClient first, early, last;
  ASSERT_TRUE(first.Connect("127.0.0.250"));
  first.ReadText();
  EXPECT_EQ(first.Ask("USER"), "5:+USER");
  EXPECT_EQ(first.Ask("5:FLTR ALL"), "5:-FLTR (400) Bad request");
  first.prefix = "5:";
  EXPECT_EQ(first.OpenFile(), "story00001.xml story00001.xml");
  EXPECT_EQ(first.NextBlock().size(), 700u);
  ::kill(served.pid, SIGTERM);
  EXPECT_EQ(served.Wait(), 0);
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
