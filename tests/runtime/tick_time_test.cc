#include "runtime/tick_time.h"

#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "runtime/clock_thread.h"

namespace {

using owc::TickTime;

TickTime Ms(uint32_t ms) {
  TickTime t;
  t.SetMilliseconds(ms);
  return t;
}

TEST(TickTime, TicksConvertToSecondsAndFiftyMsSteps) {
  TickTime t;
  t.SetTicks(0);
  EXPECT_EQ(Ms(0), t);
  t.SetTicks(19);
  EXPECT_EQ(Ms(950), t);
  t.SetTicks(20);
  EXPECT_EQ(Ms(1000), t);
}

TEST(TickTime, SubtractionBorrowsAndAdditionCarries) {
  EXPECT_EQ(Ms(1500), Ms(3200) - Ms(1700));
  TickTime sum = Ms(1600) + Ms(400);
  EXPECT_EQ(2u, sum.GetSeconds());
  EXPECT_EQ(0u, sum.GetMsPart());
  EXPECT_EQ(Ms(2999), Ms(1999) + 1000u);
  EXPECT_EQ(Ms(2999), 1000u + Ms(1999));
  EXPECT_EQ(Ms(999), Ms(1999) - 1000u);
  EXPECT_EQ(Ms(1), 1000u - Ms(999));
  TickTime t = Ms(500);
  t += Ms(700);
  EXPECT_EQ(Ms(1200), t);
  t -= Ms(250);
  EXPECT_EQ(Ms(950), t);
}

TEST(TickTime, OrderingComparesSecondsThenMilliseconds) {
  EXPECT_LT(Ms(1999), Ms(2000));
  EXPECT_GT(Ms(2001), Ms(2000));
  EXPECT_LE(Ms(2000), Ms(2000));
  EXPECT_GE(Ms(2000), Ms(2000));
  EXPECT_NE(Ms(2000), Ms(2050));
  // A time-out has passed when start + limit < now.
  TickTime start = Ms(10000);
  EXPECT_FALSE(start + 12000u < Ms(22000));
  EXPECT_TRUE(start + 12000u < Ms(22050));
}

TEST(TickTime, MillisecondsWrapAt32Bits) {
  TickTime t = Ms(0);
  t += Ms(4294967000u);
  t += Ms(1000);
  EXPECT_EQ(704u, t.GetMilliseconds());  // (4294968000) mod 2^32
  EXPECT_TRUE(Ms(10).IsLessThanMs(11));
  EXPECT_FALSE(Ms(11).IsLessThanMs(11));
}

TEST(TickTime, ElapsedFormsUseYearsOf365Days) {
  TickTime t;
  t.SetMilliseconds(90061000u);
  EXPECT_STREQ("00 001 01:01:01", t.FormatElapsed());
  TickTime oneYear;
  for (int i = 0; i < 1000; ++i) oneYear += Ms(31536000u);  // 31536000 s in ms steps
  EXPECT_STREQ("01 000 00:00:00", oneYear.FormatElapsed());
  uint32_t y, d, h, m, s;
  oneYear.Split(y, d, h, m, s);
  EXPECT_EQ(1u, y);
  EXPECT_EQ(0u, d + h + m + s);
}

TEST(TickTime, TextForms) {
  TickTime t = Ms(7005);
  EXPECT_STREQ("7", t.FormatSeconds());
  EXPECT_STREQ("7.005", t.FormatSecondsMs());
  EXPECT_STREQ("00 000 00:00:07.005", t.FormatElapsedMs());
  TickTime h = Ms(0);
  for (int i = 0; i < 100; ++i) h += Ms(3600000u);  // 100 hours: not wrapped at 24
  h += Ms(61000);
  EXPECT_STREQ("100:01:01", h.FormatHMS());
  EXPECT_STREQ("00 000 00:00:02", Ms(9000).FormatElapsedSince(Ms(7000)));
}

TEST(TickTime, CopyCopiesTheTimeButNotTheText) {
  TickTime a = Ms(1234);
  const char* text = a.FormatSecondsMs();
  TickTime b(a);
  EXPECT_EQ(a, b);
  b = b;  // self-assignment does nothing
  EXPECT_EQ(a, b);
  b.SetMilliseconds(5);
  EXPECT_STREQ("1.234", text);
}

TEST(TickTime, StoredFormIsTenLittleEndianBytes) {
  owc::ModuleClock().AdvanceTo(2000);  // 100 s
  TickTime t = Ms(66051000u);  // 66051 s = 0x00010203
  uint8_t rec[10];
  std::memset(rec, 0xEE, sizeof rec);
  t.Store(rec, false);
  EXPECT_EQ(10u, TickTime::GetStoredSize());
  EXPECT_EQ(0x03, rec[0]);
  EXPECT_EQ(0x02, rec[1]);
  EXPECT_EQ(0x01, rec[2]);
  EXPECT_EQ(0x00, rec[3]);
  EXPECT_EQ(0, rec[4] | rec[5]);
  uint32_t ticks = rec[6] | rec[7] << 8 | rec[8] << 16 | static_cast<uint32_t>(rec[9]) << 24;
  EXPECT_GE(ticks, 2000u);
  TickTime back;
  back.Load(rec, false);
  EXPECT_EQ(t, back);
}

TEST(TickTime, RelativeLoadOfARecordFromAheadMovesTheClockForward) {
  owc::ClockThread& clock = owc::ModuleClock();
  clock.AdvanceTo(4000);
  uint32_t before = clock.GetTicks();
  // An age of 2 s written when the writer's clock read before + 600 ticks (30 s ahead).
  uint8_t rec[10] = {2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  uint32_t writer = before + 600;
  for (int i = 0; i < 4; ++i) rec[6 + i] = static_cast<uint8_t>(writer >> (8 * i));
  TickTime t;
  t.Load(rec, true);
  EXPECT_GE(clock.GetTicks(), writer);
  TickTime expected;
  expected.SetTicks(writer);
  EXPECT_EQ(expected - Ms(2000), t);
  // The clock never moves back.
  clock.AdvanceTo(before);
  EXPECT_GE(clock.GetTicks(), writer);
}

TEST(TickTime, RelativeStoreWritesAnAge) {
  owc::ClockThread& clock = owc::ModuleClock();
  clock.AdvanceTo(clock.GetTicks() + 100);
  TickTime now;
  now.SetNow();
  TickTime start = now - Ms(3000);
  uint8_t rec[10];
  start.Store(rec, true);
  uint32_t ageSeconds = rec[0] | rec[1] << 8;
  EXPECT_GE(ageSeconds, 3u);
  TickTime loaded;
  loaded.Load(rec, true);
  EXPECT_LE(loaded, start + 50u);  // at most one tick later
  EXPECT_GE(loaded + 50u, start);
}

TEST(TickTime, WallClockConversions) {
  TickTime t;
  t.FromWallClock(1000);  // long past
  EXPECT_EQ(Ms(0), t);
  TickTime now;
  now.SetNow();
  uint32_t wall = static_cast<uint32_t>(time(nullptr));
  t.FromWallClock(wall + 60);
  EXPECT_GE(t.GetSeconds(), now.GetSeconds() + 59);
  EXPECT_LE(t.GetSeconds(), now.GetSeconds() + 61);
  EXPECT_NEAR(static_cast<double>(wall + 60), static_cast<double>(t.ToWallClock()), 2.0);
}

TEST(TickTime, FormatSystemTimePadsMonthAndDayWithSpaces) {
  std::string text = TickTime::FormatSystemTime(' ');
  EXPECT_TRUE(std::regex_match(text, std::regex(R"([ 1][0-9]/[ 1-3][0-9]/[0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-6][0-9]\.[0-9]{3})")))
      << text;
  text = TickTime::FormatSystemTime('T');
  EXPECT_EQ('T', text[10]);
}

}  // namespace
