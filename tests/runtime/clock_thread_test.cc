#include "runtime/clock_thread.h"

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace {

using owc::DayStartRule;
using owc::TimerDrift;

TEST(TimerDrift, OnTimeCallbacksTickOnce) {
  TimerDrift drift(1000);
  EXPECT_EQ(1u, drift.OnTimer(1050));
  EXPECT_EQ(1u, drift.OnTimer(1100));
  EXPECT_EQ(0, drift.GetDrift());
}

TEST(TimerDrift, ALateCallbackCatchesUpWithADoubleTick) {
  TimerDrift drift(0);
  EXPECT_EQ(2u, drift.OnTimer(120));  // drift 70 > 50
  EXPECT_EQ(20, drift.GetDrift());
  EXPECT_EQ(120u, drift.GetLastElapsed());
}

TEST(TimerDrift, EarlyCallbacksSkipAtMostOneTickPerPeriodOfEarliness) {
  TimerDrift drift(0);
  uint32_t now = 0;
  uint32_t ticks = 0;
  // Twenty callbacks 10 ms early each: 200 ms of earliness.
  for (int i = 0; i < 20; ++i) ticks += drift.OnTimer(now += 40);
  // 800 ms passed; the clock may not lag by more than the rule allows.
  EXPECT_GE(ticks, 16u);
  EXPECT_LE(ticks, 20u);
  EXPECT_GE(drift.GetDrift(), -50);
}

TEST(TimerDrift, TicksFollowTheMillisecondCounterOverTime) {
  TimerDrift drift(0);
  uint32_t now = 0;
  uint32_t ticks = 0;
  // Irregular callbacks: 30, 70, 50, 90, 10 ms ... over 10 s.
  const uint32_t steps[] = {30, 70, 50, 90, 10};
  for (int i = 0; i < 200; ++i) ticks += drift.OnTimer(now += steps[i % 5]);
  EXPECT_NEAR(now / 50.0, static_cast<double>(ticks), 2.0);
}

TEST(TimerDrift, CounterWrapIsMeasuredAcrossZero) {
  TimerDrift drift(0xFFFFFFF0u);
  EXPECT_EQ(1u, drift.OnTimer(0x22));  // 0x32 later, one less for the wrap: 49 ms
  EXPECT_EQ(49u, drift.GetLastElapsed());
}

TEST(DayStartRule, TakenOncePerUtcDay) {
  DayStartRule rule;
  EXPECT_FALSE(rule.Evaluate(22));
  EXPECT_TRUE(rule.Evaluate(0));
  EXPECT_FALSE(rule.Evaluate(0));  // the rest of hour 0
  EXPECT_FALSE(rule.Evaluate(12));
  EXPECT_FALSE(rule.Evaluate(23));  // re-armed
  EXPECT_TRUE(rule.Evaluate(0));
}

TEST(ClockThread, AdvanceToMovesForwardOnlyAndKeepsTheDayStartAge) {
  owc::ClockThread clock;
  clock.AdvanceTo(100);
  clock.NoteDayStart();
  clock.AdvanceTo(300);
  EXPECT_EQ(300u, clock.GetTicks());
  EXPECT_EQ(300u, clock.GetDayStartTicks());
  clock.AdvanceTo(200);
  EXPECT_EQ(300u, clock.GetTicks());
  EXPECT_EQ(300u, clock.GetDayStartTicks());
}

TEST(ClockThread, RunsItsTimerAndLogsItsLifeline) {
  owc_test::LogCapture log;
  owc::ClockThread clock;
  ASSERT_TRUE(clock.Start());
  while (clock.GetTicks() < 2) std::this_thread::yield();
  clock.Stop(true);
  EXPECT_TRUE(log.Has("ClockThread::Run thread started.\n"));
  EXPECT_EQ(2, log.SeverityOf("ClockThread::Run thread started.\n"));
  EXPECT_TRUE(log.HasPart("ClockThread::Run timeSetEvent TimerID = "));
  EXPECT_TRUE(log.HasPart("ClockThread::Run timeKillEvent Success TimerID = "));
  EXPECT_TRUE(log.Has("ClockThread::Run thread terminated.\n"));
  uint32_t stopped = clock.GetTicks();
  EXPECT_EQ(stopped, clock.GetTicks());
}

}  // namespace
