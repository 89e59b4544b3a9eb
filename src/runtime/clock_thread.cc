// SPDX-License-Identifier: MIT
#include "runtime/clock_thread.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "platform/platform_time.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

constexpr int kTimeCriticalPriority = 15;

// The periodic source that stands in for a multimedia timer: a thread that calls back
// every 50 ms on CLOCK_MONOTONIC until stopped.
class PeriodicTimer {
 public:
  explicit PeriodicTimer(ClockThread* clock) : mClock(clock) {}

  void Start() { mThread = std::thread(&PeriodicTimer::Loop, this); }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(mMutex);
      mStop = true;
    }
    mCond.notify_all();
    if (mThread.joinable()) mThread.join();
  }

 private:
  void Loop() {
    TimerDrift drift(MonotonicMs());
    auto next = std::chrono::steady_clock::now();
    std::unique_lock<std::mutex> lock(mMutex);
    for (;;) {
      next += std::chrono::milliseconds(TimerDrift::kPeriodMs);
      if (mCond.wait_until(lock, next, [this] { return mStop; })) return;
      mClock->AddTicks(drift.OnTimer(MonotonicMs()));
    }
  }

  ClockThread* mClock;
  std::thread mThread;
  std::mutex mMutex;
  std::condition_variable mCond;
  bool mStop = false;
};

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

void ClockThread::RunTimer(uint32_t /*resolution*/) {
  PeriodicTimer timer(this);
  long timerId = 0;
  try {
    timer.Start();
    timerId = NextTimerId();
    TraceLogF(kLevelProgress, "ClockThread::Run timeSetEvent TimerID = %ld.\n", timerId);
  } catch (const std::system_error& e) {
    TraceLogF(kLevelFailure, "ClockThread::Run timeSetEvent failed Error = %ld ???.\n",
              static_cast<long>(e.code().value()));
  }
  DayStartRule dayStart;
  while (IsStopRequested() == 0) {
    if (dayStart.Evaluate(UtcCalendarNow().hour)) NoteDayStart();
    SleepMs(TimerDrift::kPeriodMs);
  }
  // The timer thread is joined here, so no callback can follow: the pauses that once
  // let timer callbacks drain are not needed.
  if (timerId != 0) {
    timer.Stop();
    TraceLogF(kLevelProgress, "ClockThread::Run timeKillEvent Success TimerID = %ld.\n", timerId);
  }
}

ClockThread& ModuleClock() {
  static ClockThread clock;
  return clock;
}

}  // namespace owc
