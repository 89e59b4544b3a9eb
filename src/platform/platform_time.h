// SPDX-License-Identifier: MIT
// Clocks and pauses of the host: monotonic milliseconds (the multimedia timer's
// timeGetTime), calendar time in local and UTC, and sleeping.
#ifndef OWCLIENT_PLATFORM_PLATFORM_TIME_H
#define OWCLIENT_PLATFORM_PLATFORM_TIME_H

#include <cstdint>

namespace owc {

struct CalendarTime {
  int year;         // full year, e.g. 2026
  int month;        // 1..12
  int day;          // 1..31
  int hour;         // 0..23
  int minute;       // 0..59
  int second;       // 0..60
  int millisecond;  // 0..999
  int weekday;      // 0 = Sunday .. 6 = Saturday
};

// Milliseconds on CLOCK_MONOTONIC, wrapping at 2^32 like timeGetTime.
uint32_t MonotonicMs();
// Seconds since 1970 (UTC), 32-bit as the stored forms need.
uint32_t WallClockSeconds();
CalendarTime LocalCalendarNow();
CalendarTime UtcCalendarNow();
void SleepMs(uint32_t ms);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_PLATFORM_TIME_H
