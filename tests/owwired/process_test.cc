// The owwired executable as a child process, the way integration tests and people run it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "raw_client.h"
#include "server.h"

namespace owwired_test {
namespace {

class Child {
 public:
  explicit Child(std::vector<std::string> args) {
    args.insert(args.begin(), OWWIRED_BINARY);
    pid_ = ::fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (std::string& arg : args) argv.push_back(&arg[0]);
      argv.push_back(nullptr);
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
  }
  ~Child() {
    if (pid_ > 0 && status_ < 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  void Signal(int number) { ::kill(pid_, number); }

  // The exit status, or -1 when the child has not exited before the deadline.
  int Wait(int timeout_ms = RawClient::kWaitMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    int status = 0;
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::yield();
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
  }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

std::string Output(const std::string& args) {
  std::string command = std::string(OWWIRED_BINARY) + " " + args + " 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  std::string text;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof(chunk), pipe)) > 0) text.append(chunk, got);
  int status = ::pclose(pipe);
  return std::to_string(WEXITSTATUS(status)) + ":" + text;
}

TEST(ProcessTest, HelpExitsZeroAndBadOptionsExitTwo) {
  std::string help = Output("--help");
  EXPECT_EQ(help.compare(0, 2, "0:"), 0);
  EXPECT_NE(help.find("--drop-after-blocks=N"), std::string::npos);
  EXPECT_EQ(Output("--block-size=0").compare(0, 2, "2:"), 0);
}

TEST(ProcessTest, ServesAndExitsCleanlyOnSigterm) {
  Child child({"--address=127.0.0.250", "--quiet", "--generate=1", "--block-size=700"});
  RawClient client;
  ASSERT_TRUE(client.Connect("127.0.0.250", 39030));
  std::string prefix = client.LogIn();
  ASSERT_FALSE(prefix.empty());
  EXPECT_NE(client.FetchFile(prefix).find("</nitf>"), std::string::npos);
  child.Signal(SIGTERM);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(client.WaitClosed());
}

TEST(ProcessTest, ExitsWhenDoneAfterServingASpool) {
  Child child({"-a", "127.0.0.251", "-q", "--exit-when-done", "--generate=1"});
  RawClient client;
  ASSERT_TRUE(client.Connect("127.0.0.251", 39030));
  std::string prefix = client.LogIn();
  client.FetchFile(prefix);
  client.FetchFile(prefix);
  client.Send(prefix + "DONE");
  EXPECT_EQ(client.ReadText(), prefix + "+DONE");
  EXPECT_EQ(child.Wait(), 0);
}

TEST(ProcessTest, AddressInUseExitsOne) {
  owwired::Options options;
  options.address = "127.0.0.252";
  options.verbosity = 0;
  owwired::Server holder(options);
  std::string error;
  ASSERT_TRUE(holder.Start(&error)) << error;
  std::string output = Output("-a 127.0.0.252 -q");
  EXPECT_EQ(output.compare(0, 2, "1:"), 0) << output;
  EXPECT_NE(output.find("cannot listen on 127.0.0.252:39030"), std::string::npos) << output;
}

}  // namespace
}  // namespace owwired_test
