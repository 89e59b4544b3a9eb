// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>

#include "platform/platform_time.h"
#include "runtime/clock_thread.h"
#include "runtime/tick_time.h"

namespace owc_test {
namespace {

using owc::TickTime;

TEST(ClockThreadTest, EachCallbackCorrectsAtMostOnePeriodOfDriftAndTheDayStartIsTakenOncePerDay) {
  owc::TimerDrift drift(1000);
  const struct {
    uint32_t now, ticks;
    int32_t drift;
  } steps[] = {{1050, 1, 0},                   // on time
               {1170, 2, 20},                  // 70 ms late: a double tick
               {1200, 1, 0},   {1300, 1, 50},  // one period behind is not yet caught up
               {1351, 2, 1},   {1352, 1, -48}, {1354, 0, -46},  // early: a tick skipped
               {1355, 0, -45}, {1655, 2, 155}};  // far behind: still one period per callback
  for (const auto& s : steps) {
    SCOPED_TRACE(s.now);
    EXPECT_EQ(s.ticks, drift.OnTimer(s.now));
    EXPECT_EQ(s.drift, drift.GetDrift());
  }
  EXPECT_EQ(300u, drift.GetLastElapsed());
  owc::TimerDrift wrapping(0xFFFFFFF0u);
  EXPECT_EQ(1u, wrapping.OnTimer(0x22));  // 0x32 later, one less for the wrap
  EXPECT_EQ(49u, wrapping.GetLastElapsed());
  owc::DayStartRule rule;  // armed in UTC hour 0, re-armed in hour 23
  const struct {
    int hour;
    bool taken;
  } hours[] = {{22, false}, {0, true}, {0, false}, {12, false}, {23, false}, {0, true}};
  for (const auto& h : hours) EXPECT_EQ(h.taken, rule.Evaluate(h.hour)) << h.hour;
}

TEST(ClockThreadTest, AdvanceToMovesForwardOnlyWithTheDayStartAndTheTimerTicksUntilStopped) {
  owc::ClockThread clock;
  clock.AdvanceTo(100);
  clock.NoteDayStart();
  clock.AdvanceTo(300);
  clock.AdvanceTo(200);
  EXPECT_EQ(300u, clock.GetTicks());
  EXPECT_EQ(300u, clock.GetDayStartTicks());  // the same age
  ASSERT_TRUE(clock.Start());
  while (clock.GetTicks() < 302) std::this_thread::yield();
  clock.Stop(true);
}

TickTime Ms(uint32_t ms) {
  TickTime t;
  t.SetMilliseconds(ms);
  return t;
}

TEST(TickTimeTest, ArithmeticCarriesBorrowsAndWrapsAt32BitMilliseconds) {
  EXPECT_EQ(Ms(1500), Ms(3200) - Ms(1700));
  EXPECT_EQ(Ms(2000), Ms(1600) + Ms(400));
  EXPECT_EQ(Ms(2999), 1000u + Ms(1999));
  EXPECT_EQ(Ms(1), 1000u - Ms(999));
  TickTime t = Ms(500);
  t += Ms(700);
  t -= Ms(250);
  EXPECT_EQ(Ms(950), t);
  t += Ms(4294967000u);
  EXPECT_EQ(654u, t.GetMilliseconds());  // 4294967950 mod 2^32
  EXPECT_LT(Ms(1999), Ms(2000));
  EXPECT_GT(Ms(2001), Ms(2000));
  EXPECT_FALSE(Ms(10000) + 12000u < Ms(22000));  // a time-out is start + limit < now
  EXPECT_TRUE(Ms(10000) + 12000u < Ms(22050));
}

TEST(TickTimeTest, TextForms) {
  TickTime year, hours;
  for (int i = 0; i < 1000; ++i) year += Ms(31536000u);  // 365 days
  for (int i = 0; i < 100; ++i) hours += Ms(3600000u);
  hours += Ms(61000);
  const struct {
    TickTime t;
    const char* (TickTime::*format)();
    const char* text;
  } cases[] = {{Ms(7005), &TickTime::FormatSeconds, "7"},
               {Ms(7005), &TickTime::FormatSecondsMs, "7.005"},
               {Ms(7005), &TickTime::FormatElapsedMs, "00 000 00:00:07.005"},
               {Ms(90061000u), &TickTime::FormatElapsed, "00 001 01:01:01"},
               {year, &TickTime::FormatElapsed, "01 000 00:00:00"},
               {hours, &TickTime::FormatHMS, "100:01:01"}};  // hours do not wrap at 24
  for (auto c : cases) EXPECT_STREQ(c.text, (c.t.*c.format)()) << c.text;
}

TEST(TickTimeTest, StoredFormIsTenLittleEndianBytesWithTheWritersTicks) {
  owc::ClockThread& clock = owc::ModuleClock();
  clock.AdvanceTo(0x01020304);
  uint8_t rec[11];
  rec[10] = 0xEE;                   // guard
  Ms(66051258u).Store(rec, false);  // 66051 s = 0x010203, 258 ms = 0x0102
  EXPECT_EQ(0, std::memcmp("\x03\x02\x01\x00\x02\x01", rec, 6));
  EXPECT_EQ(clock.GetTicks(), rec[6] | rec[7] << 8 | rec[8] << 16 | uint32_t{rec[9]} << 24);
  EXPECT_EQ(0xEE, rec[10]);
  TickTime t;
  t.Load(rec, false);
  EXPECT_EQ(Ms(66051258u), t);

  // Relative: an age, loaded back from the writer's ticks when they are ahead of ours.
  t.SetNow();
  (t - 3000u).Store(rec, true);
  EXPECT_EQ(0, std::memcmp("\x03\x00\x00\x00\x00\x00", rec, 6));
  uint32_t ahead = clock.GetTicks() + 600;
  for (int i = 0; i < 4; ++i) rec[6 + i] = static_cast<uint8_t>(ahead >> (8 * i));
  t.Load(rec, true);
  EXPECT_EQ(ahead, clock.GetTicks());
  EXPECT_EQ(Ms(ahead * 50 - 3000), t);
}

// The wall clock cannot be stopped, so each conversion is read between two readings of
// it and checked against the bounds they give: a second turning meanwhile cannot fail it.
TEST(TickTimeTest, ConversionsKeepTheDistanceFromNowAndOnlyFutureTimesComeBack) {
  owc::ClockThread& clock = owc::ModuleClock();
  clock.AdvanceTo(clock.GetTicks() + 20 * 100 + 7);  // now has a 350 ms part
  TickTime now;
  now.SetNow();
  const uint32_t kDay = 86400;

  uint32_t before = owc::WallClockSeconds();
  uint32_t inAnHour = (now + 3600000u).ToWallClock();
  uint32_t atTickZero = TickTime().ToWallClock();
  uint32_t after = owc::WallClockSeconds();
  EXPECT_GE(inAnHour, before + 3600);
  EXPECT_LE(inAnHour, after + 3600);
  EXPECT_GE(atTickZero, before - now.GetSeconds());  // when the module's clock started
  EXPECT_LE(atTickZero, after - now.GetSeconds());

  // A day ahead, and back: whole seconds only.
  TickTime t;
  before = owc::WallClockSeconds();
  t.FromWallClock(before + kDay);
  uint32_t back = t.ToWallClock();
  after = owc::WallClockSeconds();
  EXPECT_EQ(0u, t.GetMsPart());
  EXPECT_LE(t.GetSeconds(), now.GetSeconds() + kDay);
  EXPECT_GE(t.GetSeconds(), now.GetSeconds() + kDay - (after - before));
  EXPECT_GE(back, before + kDay);
  EXPECT_LE(back, after + kDay);

  // Not later than the wall clock: cleared, whatever it held.
  const TickTime tomorrow = t;
  t.FromWallClock(owc::WallClockSeconds());
  EXPECT_EQ(TickTime(), t);
  t = tomorrow;
  t.FromWallClock(owc::WallClockSeconds() - kDay);
  EXPECT_EQ(TickTime(), t);
}

// Ticks from the timer age the day; moving the clock forward (for a record written by a
// clock that is ahead) moves the day start with it, so the time into the day does not jump.
TEST(TickTimeTest, TheDayStartAgesWithTheTimerButNotWhenTheClockIsMovedForward) {
  owc::ClockThread& clock = owc::ModuleClock();
  const uint32_t start = (clock.GetTicks() / 20 + 1) * 20 + 13;  // 650 ms into a second
  clock.AdvanceTo(start);
  clock.NoteDayStart();
  clock.AddTicks(20 * 3600 - 1);  // 50 ms short of an hour into the day
  TickTime dayStart, now, expected;
  dayStart.SetDayStart();
  expected.SetTicks(start);
  EXPECT_EQ(expected, dayStart);
  EXPECT_EQ(650u, uint32_t{dayStart.GetMsPart()});
  now.SetNow();
  EXPECT_STREQ("00 000 00:59:59", now.FormatElapsedSince(dayStart));
  clock.AdvanceTo(clock.GetTicks() + 20 * 7200);
  dayStart.SetDayStart();
  now.SetNow();
  EXPECT_EQ(expected + 7200000u, dayStart);
  EXPECT_EQ(3599950u, now.ElapsedMs(dayStart));
}

// The system time is UTC whatever the local zone, read here under one 5:30 east of UTC. Month
// and day are padded with spaces, not zeros.
TEST(TickTimeTest, SystemTimeTextIsTheCurrentUtcTime) {
  const char* zone = std::getenv("TZ");
  const std::string saved = zone != nullptr ? zone : "";
  setenv("TZ", "XST-5:30", 1);
  tzset();
  timespec before, after;  // the system time's clock: time() may run a few ms behind it
  clock_gettime(CLOCK_REALTIME, &before);
  const std::string text = TickTime::FormatSystemTime('T');
  clock_gettime(CLOCK_REALTIME, &after);
  zone != nullptr ? setenv("TZ", saved.c_str(), 1) : unsetenv("TZ");
  tzset();
  ASSERT_TRUE(std::regex_match(text, std::regex(R"([ 1][0-9]/[ 1-3][0-9]/[0-9]{4}T[0-2][0-9]:)"
                                                R"([0-5][0-9]:[0-6][0-9]\.[0-9]{3})")))
      << text;
  tm utc = {};
  ASSERT_EQ(6, std::sscanf(text.c_str(), "%d/%d/%dT%d:%d:%d", &utc.tm_mon, &utc.tm_mday,
                           &utc.tm_year, &utc.tm_hour, &utc.tm_min, &utc.tm_sec));
  utc.tm_mon -= 1;
  utc.tm_year -= 1900;
  const time_t shown = timegm(&utc);
  EXPECT_GE(shown, before.tv_sec) << text;
  EXPECT_LE(shown, after.tv_sec) << text;
}

}  // namespace
}  // namespace owc_test
