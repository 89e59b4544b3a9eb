// SPDX-License-Identifier: MIT
#include "bench_util.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

extern char** environ;

namespace owbench {

namespace {

double ClockSeconds(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

double TimevalSeconds(const timeval& tv) {
  return static_cast<double>(tv.tv_sec) + static_cast<double>(tv.tv_usec) * 1e-6;
}

}  // namespace

double WallSeconds() { return ClockSeconds(CLOCK_MONOTONIC); }
double ThreadCpuSeconds() { return ClockSeconds(CLOCK_THREAD_CPUTIME_ID); }
double ProcessCpuSeconds() { return ClockSeconds(CLOCK_PROCESS_CPUTIME_ID); }

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Percentile(std::vector<double> values, double fraction) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  size_t rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(values.size())));
  if (rank == 0) rank = 1;
  return values[std::min(rank, values.size()) - 1];
}

long PeakRssKiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string LoadLine() {
  std::ifstream file("/proc/loadavg");
  std::string a, b, c;
  file >> a >> b >> c;
  std::ostringstream out;
  out << "load average " << a << " " << b << " " << c << " on " << sysconf(_SC_NPROCESSORS_ONLN)
      << " processors";
  return out.str();
}

namespace {

// VmHWM of /proc/<pid>/status in KiB (0 when it cannot be read): the peak resident set of
// the process's current program (it starts again at exec, unlike ru_maxrss).
long HighWaterOf(const std::string& statusPath) {
  std::ifstream file(statusPath);
  std::string line;
  while (std::getline(file, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

}  // namespace

long HighWaterKiB() { return HighWaterOf("/proc/self/status"); }

ChildRun RunChild(const std::vector<std::string>& argv, bool capture, bool sampleRss) {
  ChildRun run;
  int pipeFds[2] = {-1, -1};
  if (argv.empty() || pipe(pipeFds) != 0) return run;
  // posix_spawn returns only once the child has replaced its program, so every VmHWM
  // sample below is of the child's own program, never of this process's copy.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (capture) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  } else {
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  }
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const double start = WallSeconds();
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  if (pid < 0) {
    close(pipeFds[0]);
    return run;
  }
  // The child's VmHWM is sampled every 2 ms until it exits; a rise in its last 2 ms can be
  // missed.
  const std::string status = "/proc/" + std::to_string(pid) + "/status";
  const int waitMs = sampleRss ? 2 : 1000;
  pollfd fd{pipeFds[0], POLLIN, 0};
  bool reading = true;
  char buf[4096];
  int exitStatus = 0;
  rusage usage{};
  for (;;) {
    if (sampleRss) run.peakRssKiB = std::max(run.peakRssKiB, HighWaterOf(status));
    if (reading) {
      int ready = poll(&fd, 1, waitMs);
      if (ready > 0) {
        ssize_t n = read(pipeFds[0], buf, sizeof buf);
        if (n > 0) {
          run.output.append(buf, static_cast<size_t>(n));
        } else {
          reading = false;
        }
      } else if (ready < 0 && errno != EINTR) {
        reading = false;
      }
    } else if (sampleRss) {
      usleep(2000);
    }
    const int flags = reading || sampleRss ? WNOHANG : 0;
    pid_t done = wait4(pid, &exitStatus, flags, &usage);
    if (done == pid || done < 0) {
      // Whatever the child wrote last is still in the pipe.
      ssize_t n;
      while (reading && (n = read(pipeFds[0], buf, sizeof buf)) > 0) {
        run.output.append(buf, static_cast<size_t>(n));
      }
      if (done == pid) {
        run.wallSeconds = WallSeconds() - start;
        run.cpuSeconds = TimevalSeconds(usage.ru_utime) + TimevalSeconds(usage.ru_stime);
        run.status = WIFEXITED(exitStatus) ? WEXITSTATUS(exitStatus) : -1;
      }
      break;
    }
  }
  close(pipeFds[0]);
  return run;
}

std::string SelfPath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string MakeTempDir(const char* prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + prefix + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  return mkdtemp(buf.data()) != nullptr ? std::string(buf.data()) : std::string();
}

void RemoveTree(const std::string& dir) {
  if (dir.empty()) return;
  nftw(
      dir.c_str(),
      [](const char* path, const struct stat*, int, struct FTW*) { return std::remove(path); }, 16,
      FTW_DEPTH | FTW_PHYS);
}

}  // namespace owbench
