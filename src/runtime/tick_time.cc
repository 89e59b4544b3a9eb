// SPDX-License-Identifier: MIT
#include "runtime/tick_time.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform_time.h"
#include "runtime/clock_thread.h"

namespace owc {

namespace {

constexpr uint32_t kSecondsPerYear = 31536000;  // years of 365 days
constexpr uint32_t kSecondsPerDay = 86400;

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}
uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

}  // namespace

TickTime& TickTime::operator=(const TickTime& other) {
  if (this != &other) {
    mSeconds = other.mSeconds;
    mMilliseconds = other.mMilliseconds;
  }
  return *this;
}

TickTime TickTime::FromTicks(uint32_t ticks) {
  TickTime t;
  t.mSeconds = ticks / ClockThread::kTicksPerSecond;
  t.mMilliseconds = static_cast<uint16_t>((ticks % ClockThread::kTicksPerSecond) * 50);
  return t;
}

void TickTime::Clear() {
  mSeconds = 0;
  mMilliseconds = 0;
}

void TickTime::SetNow() { *this = FromTicks(ModuleClock().GetTicks()); }
void TickTime::SetTicks(uint32_t ticks) { *this = FromTicks(ticks); }
void TickTime::SetDayStart() { *this = FromTicks(ModuleClock().GetDayStartTicks()); }

void TickTime::SetMilliseconds(uint32_t ms) {
  mSeconds = ms / 1000;
  mMilliseconds = static_cast<uint16_t>(ms % 1000);
}

TickTime& TickTime::operator-=(const TickTime& o) {
  uint32_t ms = mMilliseconds;
  if (ms < o.mMilliseconds) {
    mSeconds -= 1;
    ms += 1000;
  }
  mSeconds -= o.mSeconds;
  mMilliseconds = static_cast<uint16_t>(ms - o.mMilliseconds);
  return *this;
}

TickTime& TickTime::operator+=(const TickTime& o) {
  uint32_t ms = static_cast<uint32_t>(mMilliseconds) + o.mMilliseconds;
  mSeconds += o.mSeconds;
  if (ms >= 1000) {
    mSeconds += 1;
    ms -= 1000;
  }
  mMilliseconds = static_cast<uint16_t>(ms);
  return *this;
}

TickTime operator-(const TickTime& a, const TickTime& b) {
  TickTime r(a);
  r -= b;
  return r;
}

TickTime operator+(const TickTime& a, const TickTime& b) {
  TickTime r(a);
  r += b;
  return r;
}

static TickTime FromMs(uint32_t ms) {
  TickTime t;
  t.SetMilliseconds(ms);
  return t;
}

TickTime operator+(const TickTime& t, uint32_t ms) { return t + FromMs(ms); }
TickTime operator+(uint32_t ms, const TickTime& t) { return FromMs(ms) + t; }
TickTime operator-(const TickTime& t, uint32_t ms) { return t - FromMs(ms); }
TickTime operator-(uint32_t ms, const TickTime& t) { return FromMs(ms) - t; }

uint32_t TickTime::ElapsedMinutes(const TickTime& since) const { return (*this - since).GetMinutes(); }
uint32_t TickTime::ElapsedSeconds(const TickTime& since) const { return (*this - since).GetSeconds(); }
uint32_t TickTime::ElapsedMs(const TickTime& since) const {
  return (*this - since).GetMilliseconds();
}

uint32_t TickTime::ToWallClock() const {
  TickTime now;
  now.SetNow();
  return mSeconds - now.mSeconds + WallClockSeconds();
}

void TickTime::FromWallClock(uint32_t wallSeconds) {
  Clear();
  uint32_t wallNow = WallClockSeconds();
  if (wallSeconds > wallNow) {
    TickTime now;
    now.SetNow();
    mSeconds = now.mSeconds + (wallSeconds - wallNow);
  }
}

void TickTime::Split(uint32_t& years, uint32_t& days, uint32_t& hours, uint32_t& minutes,
                     uint32_t& seconds) const {
  uint32_t s = mSeconds;
  years = s / kSecondsPerYear;
  uint32_t rest = s % kSecondsPerYear;
  days = rest / kSecondsPerDay;
  rest %= kSecondsPerDay;
  hours = rest / 3600;
  rest %= 3600;
  minutes = rest / 60;
  seconds = rest % 60;
}

const char* TickTime::Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vsnprintf(mText, kTextSize, format, args);
  va_end(args);
  mText[kTextSize - 1] = '\0';
  return mText;
}

const char* TickTime::FormatSeconds() { return Format("%lu", static_cast<unsigned long>(mSeconds)); }

const char* TickTime::FormatSecondsMs() {
  return Format("%lu.%03lu", static_cast<unsigned long>(mSeconds),
                static_cast<unsigned long>(mMilliseconds));
}

const char* TickTime::FormatElapsed() {
  uint32_t y, d, h, m, s;
  Split(y, d, h, m, s);
  return Format("%02lu %03lu %02lu:%02lu:%02lu", static_cast<unsigned long>(y),
                static_cast<unsigned long>(d), static_cast<unsigned long>(h),
                static_cast<unsigned long>(m), static_cast<unsigned long>(s));
}

const char* TickTime::FormatElapsedMs() {
  char elapsed[kTextSize];
  std::snprintf(elapsed, sizeof elapsed, "%s", FormatElapsed());
  return Format("%s.%03lu", elapsed, static_cast<unsigned long>(mMilliseconds));
}

const char* TickTime::FormatHMS() {
  unsigned long s = mSeconds;
  return Format("%02lu:%02lu:%02lu", s / 3600, (s % 3600) / 60, s % 60);
}

const char* TickTime::FormatElapsedSince(const TickTime& since) {
  TickTime elapsed = *this - since;
  return Format("%s", elapsed.FormatElapsed());
}

void TickTime::Store(uint8_t* record, bool relative) const {
  uint32_t ticks = ModuleClock().GetTicks();
  TickTime value = relative ? FromTicks(ticks) - *this : *this;
  PutLe32(record, value.mSeconds);
  PutLe16(record + 4, value.mMilliseconds);
  PutLe32(record + 6, ticks);
}

void TickTime::Load(const uint8_t* record, bool relative) {
  TickTime stored;
  stored.mSeconds = GetLe32(record);
  stored.mMilliseconds = GetLe16(record + 4);
  uint32_t writerTicks = GetLe32(record + 6);
  TickTime now;
  if (ModuleClock().GetTicks() < writerTicks) {
    ModuleClock().AdvanceTo(writerTicks);
    now = FromTicks(writerTicks);
  } else {
    now.SetNow();
  }
  *this = relative ? now - stored : stored;
}

const char* TickTime::FormatSystemTime(char separator) {
  static char buffer[kTextSize];
  CalendarTime t = UtcCalendarNow();
  std::snprintf(buffer, sizeof buffer, "%2d/%2d/%2d%c%02d:%02d:%02d.%03d", t.month, t.day, t.year,
                separator, t.hour, t.minute, t.second, t.millisecond);
  buffer[kTextSize - 1] = '\0';
  return buffer;
}

}  // namespace owc
