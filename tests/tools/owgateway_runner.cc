#include "tools/owgateway_runner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "support/temp_dir.h"

extern char** environ;

namespace owc_test {

OwgatewayProcess::OwgatewayProcess(const std::vector<std::string>& args,
                                   const std::string& scratch_dir)
    : out_path_(scratch_dir + "/.stdout"), err_path_(scratch_dir + "/.stderr") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::string program = OWGATEWAY_BIN;
  std::vector<std::string> copies(args);
  std::vector<char*> argv;
  argv.push_back(program.data());
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawn(&pid, OWGATEWAY_BIN, &actions, nullptr, argv.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

OwgatewayProcess::~OwgatewayProcess() {
  if (pid_ > 0 && !reaped_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

void OwgatewayProcess::Signal(int signal_number) {
  if (pid_ > 0 && !reaped_) kill(pid_, signal_number);
}

bool OwgatewayProcess::WaitExit(int timeout_ms) {
  if (pid_ <= 0) return false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!reaped_) {
    int wait_status = 0;
    pid_t got = waitpid(pid_, &wait_status, WNOHANG);
    if (got == pid_) {
      reaped_ = true;
      if (WIFEXITED(wait_status)) status_ = WEXITSTATUS(wait_status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string OwgatewayProcess::Out() const { return TempDir::Read(out_path_); }
std::string OwgatewayProcess::Err() const { return TempDir::Read(err_path_); }

int RunOwgateway(const std::vector<std::string>& args, const std::string& scratch_dir,
                 std::string* out, std::string* err, int timeout_ms) {
  OwgatewayProcess process(args, scratch_dir);
  process.WaitExit(timeout_ms);
  *out = process.Out();
  *err = process.Err();
  return process.Status();
}

std::vector<std::string> EntriesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace owc_test
