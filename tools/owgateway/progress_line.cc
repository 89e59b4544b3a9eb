// SPDX-License-Identifier: MIT
#include "progress_line.h"

#include <cstdio>

namespace owgateway {

std::string FormatBytes(uint64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  static const char* const kUnits[] = {"kB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1000;
  size_t unit = 0;
  while (value >= 999.95 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) value /= 1000, ++unit;
  char text[32];
  std::snprintf(text, sizeof text, value < 100 ? "%.1f %s" : "%.0f %s", value, kUnits[unit]);
  return text;
}

std::string ProgressLine::Next(const Totals& totals, double now, time_t wall, bool connected) {
  char clock[16] = "";
  struct tm local {};
  if (localtime_r(&wall, &local) != nullptr) std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
  std::string line = std::string(clock) + " " + std::to_string(totals.stories);
  if (mCount != 0) line += " of " + std::to_string(mCount);
  line += " stories, " + std::to_string(totals.files) + " files, " + FormatBytes(totals.bytes);
  const double interval = now - mLastTime;
  if (interval > 0) {
    const double rate = static_cast<double>(totals.stories - mLastStories) / interval;
    char text[48];
    std::snprintf(text, sizeof text, rate < 10 ? "; %.1f stories/s" : "; %.0f stories/s", rate);
    line += text;
  }
  if (!connected) line += "; not connected";
  mLastTime = now;
  mLastStories = totals.stories;
  return line;
}

}  // namespace owgateway
