// SPDX-License-Identifier: MIT
#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace owc_test {
namespace {

// Every hand-off between the module's threads goes through an event that one thread sets
// and another waits on and resets: a Set that a waiter misses would stall a delivery or a
// session step. Two threads pass a turn back and forth many times; a lost wake-up shows as
// a wait that runs out, and a flag set outside the lock as a race under the thread
// sanitizer.
TEST(EventTest, ASetIsNeverMissedInManyHandOffsBetweenTwoThreads) {
  constexpr int kTurns = 10000;
  owc::Event toSecond;
  owc::Event toFirst;
  std::atomic<int> missed{0};
  std::thread second([&] {
    for (int i = 0; i < kTurns; ++i) {
      if (!toSecond.WaitFor(10000)) ++missed;
      toSecond.Reset();
      toFirst.Set();
    }
  });
  for (int i = 0; i < kTurns; ++i) {
    toSecond.Set();
    if (!toFirst.WaitFor(10000)) ++missed;
    toFirst.Reset();
  }
  second.join();
  EXPECT_EQ(0, missed.load());
}

TEST(EventTest, ASetWakesEveryWaiterAndStaysUntilReset) {
  owc::Event event;
  EXPECT_FALSE(event.WaitFor(1));
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 4; ++i) {
    waiters.emplace_back([&] {
      event.Wait();
      ++woken;
    });
  }
  event.Set();
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(4, woken.load());
  EXPECT_TRUE(event.WaitFor(0));  // still set
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.WaitFor(1));
}

}  // namespace
}  // namespace owc_test
