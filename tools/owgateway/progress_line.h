// SPDX-License-Identifier: MIT
// owgateway's progress line and summary, in words a user reads at a glance:
//   owgateway: 14:02:11 1200 of 5000 stories, 2401 files, 12.3 MB; 240 stories/s
// The rate is that of the interval since the previous line, not the average since the
// start, so that a feed that slowed down or stopped shows it.
#ifndef OWGATEWAY_PROGRESS_LINE_H
#define OWGATEWAY_PROGRESS_LINE_H

#include <cstdint>
#include <ctime>
#include <string>

namespace owgateway {

// "0 bytes", "950 bytes", "12.3 kB", "4.5 MB", "1.2 GB" (powers of 1000).
std::string FormatBytes(uint64_t bytes);

struct Totals {
  uint64_t stories = 0;
  uint64_t files = 0;
  uint64_t bytes = 0;
};

class ProgressLine {
 public:
  // count: the stories asked for (--count), 0 for none; start: monotonic seconds.
  ProgressLine(uint64_t count, double start) : mCount(count), mLastTime(start) {}

  // The line (without "owgateway: " and line break) at monotonic time `now` and wall
  // time `wall`; connected false adds that the gateway waits for its server.
  std::string Next(const Totals& totals, double now, time_t wall, bool connected);

 private:
  const uint64_t mCount;
  double mLastTime;
  uint64_t mLastStories = 0;
};

}  // namespace owgateway

#endif  // OWGATEWAY_PROGRESS_LINE_H
