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
    : tool_(tool), what_(what), total_(total), shown_(!quiet && ::isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { Finish(); }

std::string Progress::LineLocked() const {
  const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
  std::string line = std::string(tool_) + ": " + std::to_string(done_) + " of " +
                     std::to_string(total_) + " " + what_;
  if (done_ == 0 || elapsed <= 0) return line;
  const double rate = done_ / elapsed;
  char text[32];
  std::snprintf(text, sizeof text, rate < 10 ? ", %.1f/s" : ", %.0f/s", rate);
  return line + text + ", " + FormatSeconds((total_ - done_) / rate) + " left";
}

void Progress::WriteLocked(const std::string& text) {
  if (::write(STDERR_FILENO, text.data(), text.size()) < 0) shown_ = false;  // stop trying
}

void Progress::Step() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  if (!shown_) return;
  const Clock::time_point now = Clock::now();
  if (now - last_draw_ < kRedrawEvery && done_ != total_) return;
  last_draw_ = now;
  WriteLocked(kClearLine + LineLocked());
  drawn_ = true;
}

void Progress::Message(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::string text = std::string(drawn_ ? kClearLine : "") + tool_ + ": " + line + "\n";
  if (drawn_) text += LineLocked();
  WriteLocked(text);
}

void Progress::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) WriteLocked(kClearLine);
  drawn_ = false;
  shown_ = false;
}

}  // namespace owtool
