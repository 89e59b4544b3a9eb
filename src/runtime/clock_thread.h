// SPDX-License-Identifier: MIT
// The module's monotonic tick clock: a count of 50 ms periods since the clock was
// constructed, kept by a periodic timer that corrects for its own drift, plus the tick
// count noted at the start of the current UTC day. It does not follow changes of the
// system time.
//
// The tick count is one aligned 32-bit word written by the clock thread (and by
// AdvanceTo) and read by every thread without a lock; a reader may see it one tick stale.
#ifndef OWCLIENT_RUNTIME_CLOCK_THREAD_H
#define OWCLIENT_RUNTIME_CLOCK_THREAD_H

#include <atomic>
#include <cstdint>

#include "runtime/worker_thread.h"

namespace owc {

// The drift rule of the periodic timer, apart from any timer so it can be fed readings.
// Each callback corrects at most one period of accumulated drift: late callbacks
// catch up with a double tick, early ones skip a tick.
class TimerDrift {
 public:
  static constexpr uint32_t kPeriodMs = 50;

  explicit TimerDrift(uint32_t firstReading) : mLastReading(firstReading) {}
  // Takes the millisecond counter at a callback; returns the ticks to add (0, 1 or 2).
  uint32_t OnTimer(uint32_t nowMs);
  int32_t GetDrift() const { return mDrift; }
  uint32_t GetLastElapsed() const { return mLastElapsed; }

 private:
  uint32_t mLastReading;
  int32_t mDrift = 0;
  uint32_t mLastElapsed = 0;
};

// Notes the tick count once per UTC day: armed in hour 0, re-armed in hour 23.
class DayStartRule {
 public:
  // True when the day start is to be taken now.
  bool Evaluate(int utcHour);

 private:
  bool mTaken = false;
};

class ClockThread : public WorkerThread {
 public:
  static constexpr uint32_t kTicksPerSecond = 20;
  static constexpr uint32_t kMinResolutionMs = 20;

  ClockThread() = default;
  ~ClockThread() override;

  uint32_t GetTicks() const { return mTicks.load(std::memory_order_relaxed); }
  uint32_t GetDayStartTicks() const { return mDayStartTicks.load(std::memory_order_relaxed); }
  // Moves the clock forward to ticks (never back), keeping the day start the same age.
  void AdvanceTo(uint32_t ticks);
  // Adds ticks from the timer.
  void AddTicks(uint32_t ticks) { mTicks.fetch_add(ticks, std::memory_order_relaxed); }
  void NoteDayStart() { mDayStartTicks.store(GetTicks(), std::memory_order_relaxed); }

 protected:
  uint32_t Run() override;

 private:
  void RunTimer(uint32_t resolution);

  std::atomic<uint32_t> mTicks{0};
  std::atomic<uint32_t> mDayStartTicks{0};
};

// The module's one clock, read by every TickTime that needs "now".
ClockThread& ModuleClock();

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_CLOCK_THREAD_H
