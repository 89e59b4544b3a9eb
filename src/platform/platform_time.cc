// SPDX-License-Identifier: MIT
#include "platform/platform_time.h"

#include <ctime>
#include <thread>
#include <chrono>

namespace owc {

namespace {

CalendarTime FromTm(const struct tm& tm, long nanoseconds) {
  return CalendarTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                      tm.tm_sec, static_cast<int>(nanoseconds / 1000000), tm.tm_wday};
}

}  // namespace

uint32_t MonotonicMs() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

uint32_t WallClockSeconds() { return static_cast<uint32_t>(std::time(nullptr)); }

CalendarTime LocalCalendarNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  localtime_r(&ts.tv_sec, &tm);
  return FromTm(tm, ts.tv_nsec);
}

CalendarTime UtcCalendarNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm tm;
  gmtime_r(&ts.tv_sec, &tm);
  return FromTm(tm, ts.tv_nsec);
}

void SleepMs(uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace owc
