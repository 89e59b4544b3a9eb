// SPDX-License-Identifier: MIT
// A point in time or a duration on the module's 50 ms tick clock: unsigned 32-bit
// seconds plus milliseconds (0..999 after every operation). Time-outs are tested as
// start + limit < now.
//
// Each format operation writes into the object's own 128-character buffer and returns
// it; the text lives until the next format on the same object. Copying copies the
// time, never the buffer. Not thread-safe per object.
#ifndef OWCLIENT_RUNTIME_TICK_TIME_H
#define OWCLIENT_RUNTIME_TICK_TIME_H

#include <cstdint>

namespace owc {

class TickTime {
 public:
  static constexpr uint32_t kStoredSize = 10;
  static constexpr int kTextSize = 128;

  TickTime() = default;
  TickTime(const TickTime& other) : mSeconds(other.mSeconds), mMilliseconds(other.mMilliseconds) {}
  TickTime& operator=(const TickTime& other);
  virtual ~TickTime() = default;

  void Clear();
  void SetNow();
  void SetTicks(uint32_t ticks);
  void SetDayStart();
  void SetMilliseconds(uint32_t ms);

  uint32_t GetSeconds() const { return mSeconds; }
  uint32_t GetMinutes() const { return mSeconds / 60; }
  uint16_t GetMsPart() const { return mMilliseconds; }
  // seconds * 1000 + milliseconds, wrapping at 2^32 (about 49.7 days).
  uint32_t GetMilliseconds() const { return mSeconds * 1000u + mMilliseconds; }
  bool IsLessThanMs(uint32_t ms) const { return GetMilliseconds() < ms; }

  uint32_t ElapsedMinutes(const TickTime& since) const;
  uint32_t ElapsedSeconds(const TickTime& since) const;
  uint32_t ElapsedMs(const TickTime& since) const;

  // Wall-clock seconds since 1970 for this point, and back. FromWallClock keeps only
  // times later than now (earlier ones leave 0).
  uint32_t ToWallClock() const;
  void FromWallClock(uint32_t wallSeconds);

  const char* FormatSeconds();
  const char* FormatSecondsMs();
  const char* FormatElapsed();
  const char* FormatElapsedMs();
  const char* FormatHMS();
  const char* FormatElapsedSince(const TickTime& since);
  void Split(uint32_t& years, uint32_t& days, uint32_t& hours, uint32_t& minutes,
             uint32_t& seconds) const;

  // The 10-byte little-endian stored form: seconds, milliseconds, the tick count when
  // written. Relative: the value stored is an age (now - this) and is loaded back as
  // now - age, advancing a clock that is behind the writer's.
  static uint32_t GetStoredSize() { return kStoredSize; }
  void Store(uint8_t* record, bool relative) const;
  void Load(const uint8_t* record, bool relative);

  // Current UTC time as "%2d/%2d/%2d%c%02d:%02d:%02d.%03d" (month, day, year, separator,
  // time) in one module-wide buffer, valid until the next call from any thread.
  static const char* FormatSystemTime(char separator);

  bool operator==(const TickTime& o) const {
    return mSeconds == o.mSeconds && mMilliseconds == o.mMilliseconds;
  }
  bool operator!=(const TickTime& o) const { return !(*this == o); }
  bool operator<(const TickTime& o) const {
    return mSeconds < o.mSeconds || (mSeconds == o.mSeconds && mMilliseconds < o.mMilliseconds);
  }
  bool operator>(const TickTime& o) const { return o < *this; }
  bool operator<=(const TickTime& o) const { return !(o < *this); }
  bool operator>=(const TickTime& o) const { return !(*this < o); }

  TickTime& operator-=(const TickTime& o);
  TickTime& operator+=(const TickTime& o);

 private:
  static TickTime FromTicks(uint32_t ticks);
  const char* Format(const char* format, ...) __attribute__((format(printf, 2, 3)));

  uint32_t mSeconds = 0;
  uint16_t mMilliseconds = 0;
  char mText[kTextSize] = {};
};

TickTime operator-(const TickTime& a, const TickTime& b);
TickTime operator+(const TickTime& a, const TickTime& b);
TickTime operator+(const TickTime& t, uint32_t ms);
TickTime operator+(uint32_t ms, const TickTime& t);
TickTime operator-(const TickTime& t, uint32_t ms);
TickTime operator-(uint32_t ms, const TickTime& t);

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_TICK_TIME_H
