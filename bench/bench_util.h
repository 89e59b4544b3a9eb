// SPDX-License-Identifier: MIT
// Small helpers shared by the benchmarks: clocks, statistics, process runs, machine load.
#ifndef OWCLIENT_BENCH_BENCH_UTIL_H
#define OWCLIENT_BENCH_BENCH_UTIL_H

#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace owbench {

// Seconds of a monotonic clock, of this thread's CPU time, and of this process's CPU time
// (user + system, every thread).
double WallSeconds();
double ThreadCpuSeconds();
double ProcessCpuSeconds();

// The median of the values (0 for none); sorts a copy.
double Median(std::vector<double> values);
// The value below which `fraction` of the values lie (nearest rank).
double Percentile(std::vector<double> values, double fraction);

// Peak resident set of this process so far, in KiB (ru_maxrss: it keeps the peak of the
// program before an exec, so a child started from a big process inherits that peak).
long PeakRssKiB();
// Peak resident set of this program since it started (VmHWM), in KiB.
long HighWaterKiB();

// "1m 5m 15m" load averages and the number of processors online.
std::string LoadLine();

struct ChildRun {
  int status = -1;  // exit status, -1 when it did not exit normally
  double wallSeconds = 0;
  double cpuSeconds = 0;  // user + system of the child
  long peakRssKiB = 0;    // the child's VmHWM, sampled every 2 ms (0 when not sampled)
  std::string output;     // standard output (when captured)
};

// Runs argv[0] with the arguments and waits for it. Standard output is captured when
// `capture` is true, else discarded; standard error is inherited. Without `sampleRss` the
// parent sleeps until the child writes or ends: for children that report their own memory
// and whose measurement 500 wake-ups a second beside it would disturb.
ChildRun RunChild(const std::vector<std::string>& argv, bool capture, bool sampleRss = true);

// The path of this executable.
std::string SelfPath();

// A fresh folder under $TMPDIR (or /tmp); empty on failure. RemoveTree deletes a folder
// and everything in it.
std::string MakeTempDir(const char* prefix);
void RemoveTree(const std::string& dir);

}  // namespace owbench

#endif  // OWCLIENT_BENCH_BENCH_UTIL_H
