// SPDX-License-Identifier: MIT
#include "runtime/clock_thread.h"

#include <chrono>
#include <thread>

#include "platform/platform_time.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

constexpr int kTimeCriticalPriority = 15;

long NextTimerId() {
  static std::atomic<long> id{0};
  return ++id;
}

}  // namespace

uint32_t TimerDrift::OnTimer(uint32_t nowMs) {
  uint32_t elapsed = nowMs - mLastReading;
  if (nowMs < mLastReading) --elapsed;  // the counter wrapped
  mLastReading = nowMs;
  mLastElapsed = elapsed;
  mDrift += static_cast<int32_t>(elapsed - kPeriodMs);
  const int32_t period = static_cast<int32_t>(kPeriodMs);
  if (mDrift > period) {
    mDrift -= period;
    return 2;
  }
  if (mDrift < -period) {
    mDrift += period;
    return 0;
  }
  return 1;
}

bool DayStartRule::Evaluate(int utcHour) {
  if (!mTaken) {
    if (utcHour == 0) {
      mTaken = true;
      return true;
    }
  } else if (utcHour == 23) {
    mTaken = false;
  }
  return false;
}

ClockThread::~ClockThread() { Stop(true); }

void ClockThread::AdvanceTo(uint32_t ticks) {
  uint32_t current = mTicks.load(std::memory_order_relaxed);
  while (ticks > current) {
    if (mTicks.compare_exchange_weak(current, ticks, std::memory_order_relaxed)) {
      mDayStartTicks.fetch_add(ticks - current, std::memory_order_relaxed);
      return;
    }
  }
}

uint32_t ClockThread::Run() {
  TraceLog(kLevelProgress, "ClockThread::Run thread started.\n");
  SetPriority(kTimeCriticalPriority);
  // CLOCK_MONOTONIC resolves to well below a millisecond; the clock never ticks finer
  // than 20 ms anyway.
  long minimum = 1;
  TraceLogF(kLevelProgress, "ClockThread::Run Minimum Clock resolution is %ld.\n", minimum);
  RunTimer(kMinResolutionMs);
  TraceLog(kLevelProgress, "ClockThread::Run thread terminated.\n");
  return 0;
}

// The periodic timer is this thread's own loop: a separate timer thread woke the process
// twenty more times a second for nothing an idle client needs. Deadlines follow
// CLOCK_MONOTONIC, and the drift rule still turns each wake into 0, 1 or 2 ticks.
void ClockThread::RunTimer(uint32_t /*resolution*/) {
  const long timerId = NextTimerId();
  TraceLogF(kLevelProgress, "ClockThread::Run timeSetEvent TimerID = %ld.\n", timerId);
  TimerDrift drift(MonotonicMs());
  DayStartRule dayStart;
  auto next = std::chrono::steady_clock::now();
  while (IsStopRequested() == 0) {
    if (dayStart.Evaluate(UtcCalendarNow().hour)) NoteDayStart();
    next += std::chrono::milliseconds(TimerDrift::kPeriodMs);
    std::this_thread::sleep_until(next);
    AddTicks(drift.OnTimer(MonotonicMs()));
  }
  TraceLogF(kLevelProgress, "ClockThread::Run timeKillEvent Success TimerID = %ld.\n", timerId);
}

ClockThread& ModuleClock() {
  static ClockThread clock;
  return clock;
}

}  // namespace owc
