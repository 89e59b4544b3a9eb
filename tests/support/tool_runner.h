// SPDX-License-Identifier: MIT
// Runs a built tool as a child process, the way a user or a service manager does.
#ifndef OWCLIENT_TESTS_SUPPORT_TOOL_RUNNER_H
#define OWCLIENT_TESTS_SUPPORT_TOOL_RUNNER_H

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "support/temp_dir.h"
#include "support/wait.h"

namespace owc_test {

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// How many times part occurs in text, overlaps included.
inline size_t CountOf(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

inline std::string ExamplePath(const std::string& path) { return OWC_EXAMPLES_DIR "/" + path; }
inline std::string ExampleStory(const std::string& name) {  // "tea-harvest" -> .../name.xml
  return ExamplePath("stories/" + name + ".xml");
}
inline const std::string kTemplate = ExamplePath("templates/story.tmpl");
inline const std::string kTable = ExamplePath("templates/story.xlate");
inline const std::vector<std::string> kStories = {
    "alpine-choir",   "chess-final",    "council-budget", "ferry-timetable",  "forged-links",
    "glacier-survey", "harbour-bridge", "market-prices",  "museum-reopening", "opera-premiere",
    "river-ice",      "robot-marathon", "tea-harvest",    "weather-brief"};

// The headline as written in the story file, read without the library.
inline std::string SourceHeadline(const std::string& story) {
  const std::string xml = TempDir::Read(ExampleStory(story));
  const size_t start = xml.find("<hl1>") + 5, end = xml.find("</hl1>");
  return end == std::string::npos || end < start ? "" : xml.substr(start, end - start);
}

inline std::vector<std::string> EntriesIn(const std::string& dir) {  // sorted, hidden ones too
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
    names.push_back(e.path().filename());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// One child: arguments without a shell, standard input empty, standard output and error in
// files of `scratch` (which must outlive it); optionally under a file-size limit, past which
// a write fails as on a full disk. Not thread-safe; killed and reaped on destruction.
class ToolProcess {
 public:
  ToolProcess(const std::string& program, std::vector<std::string> args, const std::string& scratch,
              rlim_t file_size = RLIM_INFINITY)
      : out_path_(scratch + "/.stdout"), err_path_(scratch + "/.stderr") {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    const int fds[3] = {open("/dev/null", O_RDONLY | O_CLOEXEC),
                        open(out_path_.c_str(), flags, 0644), open(err_path_.c_str(), flags, 0644)};
    mPid = fork();
    if (mPid == 0) {  // only async-signal-safe calls until exec
      for (int i = 0; i < 3; ++i) dup2(fds[i], i);
      struct sigaction ignore {};
      ignore.sa_handler = SIG_IGN;
      sigaction(SIGXFSZ, &ignore, nullptr);  // a write past the limit fails with EFBIG
      rlimit size{file_size, file_size};
      setrlimit(RLIMIT_FSIZE, &size);
      execv(argv[0], argv.data());
      _exit(127);
    }
    for (int fd : fds) close(fd);
  }
  ~ToolProcess() {
    if (mPid > 0 && kill(mPid, SIGKILL) == 0) waitpid(mPid, nullptr, 0);
  }
  ToolProcess(const ToolProcess&) = delete;

  // The exit status once the child ended; -1 while it runs or when a signal ended it.
  int Wait() {
    WaitUntil([&] {
      int status = 0;
      if (mPid > 0 && waitpid(mPid, &status, WNOHANG) == mPid) {
        mPid = -1;  // reaped
        mStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      return mPid <= 0;
    });
    return mStatus;
  }
  int Stop() {  // SIGTERM, then the exit status
    if (mPid > 0) kill(mPid, SIGTERM);
    return Wait();
  }
  pid_t pid() const { return mPid; }  // -1 once reaped
  std::string Out() const { return TempDir::Read(out_path_); }
  std::string Err() const { return TempDir::Read(err_path_); }

 private:
  pid_t mPid = -1;
  int mStatus = -1;
  std::string out_path_, err_path_;
};

struct RunResult {
  int status;
  std::string out, err;
};
inline RunResult RunTool(const std::string& program, const std::vector<std::string>& args,
                         const std::string& scratch) {
  ToolProcess process(program, args, scratch);
  return {process.Wait(), process.Out(), process.Err()};
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_TOOL_RUNNER_H
