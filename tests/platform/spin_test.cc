// SPDX-License-Identifier: MIT
#include "platform/spin.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace owc_test {
namespace {

using owc::SpinOutcome;

// A spinner that shares its processor with a busy thread hands it a time slice at some
// yield or preemption; spinning on would hand it one slice after another while the answer
// waits. The spin must end at the first such gap, long before its own time runs out.
TEST(SpinTest, ASpinSharingItsProcessorWithABusyThreadEndsAtTheFirstSliceItLoses) {
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(sched_getcpu(), &one);
  std::atomic<bool> running{false};
  std::atomic<bool> stop{false};
  std::thread busy([&] {
    pthread_setaffinity_np(pthread_self(), sizeof one, &one);
    running = true;
    while (!stop.load(std::memory_order_relaxed)) {
    }
  });
  cpu_set_t saved;
  ASSERT_EQ(0, pthread_getaffinity_np(pthread_self(), sizeof saved, &saved));
  ASSERT_EQ(0, pthread_setaffinity_np(pthread_self(), sizeof one, &one));
  while (!running) std::this_thread::yield();

  const auto start = std::chrono::steady_clock::now();
  const SpinOutcome outcome = owc::SpinUntil([] { return false; }, 60u * 1000 * 1000, 200);
  const auto spun = std::chrono::steady_clock::now() - start;

  stop = true;
  busy.join();
  pthread_setaffinity_np(pthread_self(), sizeof saved, &saved);
  EXPECT_EQ(SpinOutcome::kCrowded, outcome);
  EXPECT_LT(std::chrono::duration<double>(spun).count(), 30.0);  // seconds: not the minute
}

}  // namespace
}  // namespace owc_test
