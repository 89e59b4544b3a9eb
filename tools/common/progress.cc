// SPDX-License-Identifier: MIT
#include "progress.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace owtool {
namespace {

constexpr auto kRedrawEvery = std::chrono::milliseconds(200);
constexpr const char* kClearLine = "\r\033[K";

}  // namespace

std::string FormatSeconds(double seconds) {
  char text[48];
  if (seconds < 0.001) {
    return "under 1 ms";
  } else if (seconds < 1) {
    std::snprintf(text, sizeof text, "%.0f ms", seconds * 1000);
  } else if (seconds < 10) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else if (seconds < 120) {
    std::snprintf(text, sizeof text, "%.0f s", seconds);
  } else if (seconds < 7200) {
    const long s = std::lround(seconds);
    std::snprintf(text, sizeof text, "%ld min %ld s", s / 60, s % 60);
  } else {
    const long m = std::lround(seconds / 60);
    std::snprintf(text, sizeof text, "%ld h %ld min", m / 60, m % 60);
  }
  return text;
}

Progress::Progress(const char* tool, const char* what, size_t total, bool quiet)
    : mTool(tool), mWhat(what), mTotal(total), mShown(!quiet && ::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { Finish(); }

std::string Progress::LineLocked() const {
  const double elapsed = std::chrono::duration<double>(Clock::now() - mStart).count();
  std::string line = std::string(mTool) + ": " + std::to_string(mDone) + " of " +
                     std::to_string(mTotal) + " " + mWhat;
  if (mDone == 0 || elapsed <= 0) return line;
  const double rate = mDone / elapsed;
  char text[32];
  std::snprintf(text, sizeof text, rate < 10 ? ", %.1f/s" : ", %.0f/s", rate);
  return line + text + ", " + FormatSeconds((mTotal - mDone) / rate) + " left";
}

void Progress::WriteLocked(const std::string& text) {
  if (::write(STDERR_FILENO, text.data(), text.size()) < 0) mShown = false;  // stop trying
}

void Progress::Step() {
  std::lock_guard<std::mutex> lock(mUtex);
  ++mDone;
  if (!mShown) return;
  const Clock::time_point now = Clock::now();
  if (now - mLastDraw < kRedrawEvery && mDone != mTotal) return;
  mLastDraw = now;
  WriteLocked(kClearLine + LineLocked());
  mDrawn = true;
}

void Progress::Message(const std::string& line) {
  std::lock_guard<std::mutex> lock(mUtex);
  std::string text = std::string(mDrawn ? kClearLine : "") + mTool + ": " + line + "\n";
  if (mDrawn) text += LineLocked();
  WriteLocked(text);
}

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mUtex);
  if (mDrawn) WriteLocked(kClearLine);
  mDrawn = false;
  mShown = false;
}

}  // namespace owtool
