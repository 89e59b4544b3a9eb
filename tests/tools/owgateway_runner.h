// Runs the built owgateway binary as a child process, the way a user or a service manager
// does: arguments without a shell, output captured into files, stopped by a signal.
#ifndef OWCLIENT_TESTS_TOOLS_OWGATEWAY_RUNNER_H
#define OWCLIENT_TESTS_TOOLS_OWGATEWAY_RUNNER_H

#include <sys/types.h>

#include <string>
#include <vector>

namespace owc_test {

// One owgateway process. Not thread-safe. The destructor kills and reaps a child that is
// still running, so a failed test leaves no process behind.
class OwgatewayProcess {
 public:
  // Starts owgateway with `args`; standard input is empty, standard output and error go to
  // files in `scratch_dir` (which must exist and outlive this object).
  OwgatewayProcess(const std::vector<std::string>& args, const std::string& scratch_dir);
  ~OwgatewayProcess();
  OwgatewayProcess(const OwgatewayProcess&) = delete;
  OwgatewayProcess& operator=(const OwgatewayProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  void Signal(int signal_number);
  // Waits up to timeout_ms for the exit; true once it exited. The wait is a safety net for a
  // hung child, not a timing.
  bool WaitExit(int timeout_ms);
  // The exit status; -1 while running or when ended by a signal.
  int Status() const { return status_; }
  std::string Out() const;
  std::string Err() const;

 private:
  pid_t pid_ = -1;
  int status_ = -1;
  bool reaped_ = false;
  std::string out_path_;
  std::string err_path_;
};

// Runs owgateway to its end (killed after timeout_ms); returns the exit status and fills
// `out` and `err`.
int RunOwgateway(const std::vector<std::string>& args, const std::string& scratch_dir,
                 std::string* out, std::string* err, int timeout_ms = 10000);

// Names in `dir` (any kind, hidden ones included), sorted.
std::vector<std::string> EntriesIn(const std::string& dir);

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_TOOLS_OWGATEWAY_RUNNER_H
