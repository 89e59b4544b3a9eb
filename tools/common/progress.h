// SPDX-License-Identifier: MIT
// A progress line for long runs on a terminal: "owconvert: 1200 of 20000 stories, 2400/s,
// 8 s left", redrawn in place. Nothing at all when standard error is no terminal or the
// user asked for quiet, so logs and pipes see only the summary.
#ifndef OWTOOL_PROGRESS_H
#define OWTOOL_PROGRESS_H

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

namespace owtool {

// "under 1 ms", "40 ms", "2.4 s", "12 s", "3 min 5 s", "2 h 10 min": what a person reads at a glance.
std::string FormatSeconds(double seconds);

class Progress {
 public:
  // `what` names the things counted ("stories").
  Progress(const char* tool, const char* what, size_t total, bool quiet);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // One more thing done. Any thread; redraws at most five times a second.
  void Step();
  // Prints `line` ("tool: " and a newline added) above the progress line. Any thread.
  void Message(const std::string& line);
  // Clears the progress line; later Steps draw nothing.
  void Finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::string LineLocked() const;
  void WriteLocked(const std::string& text);

  const char* mTool;
  const char* mWhat;
  const size_t mTotal;
  bool mShown;  // drawing at all: a terminal, not quiet, not finished
  std::mutex mUtex;
  size_t mDone = 0;
  const Clock::time_point mStart = Clock::now();
  Clock::time_point mLastDraw{};
  bool mDrawn = false;  // a progress line is on the screen now
};

}  // namespace owtool

#endif  // OWTOOL_PROGRESS_H
