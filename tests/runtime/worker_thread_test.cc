// SPDX-License-Identifier: MIT
#include "runtime/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace owc_test {
namespace {

// Sleeps on its event between work items, as the module's threads do.
class SleeperThread : public owc::WorkerThread {
 public:
  ~SleeperThread() override { Stop(true); }
  std::atomic<int> wakeups{0};
  uint32_t exitCode = 42;
  bool throws = false;

 protected:
  uint32_t Run() override {
    if (throws) throw std::runtime_error("boom");
    while (IsStopRequested() == 0) {
      WaitSignal();
      ResetSignal();
      ++wakeups;
    }
    return exitCode;
  }
};

TEST(WorkerThreadTest, SuspendResumeSignalRestartAndStop) {
  SleeperThread t;
  EXPECT_FALSE(t.Signal());    // no event before the first start
  t.Stop(true);                // never started: returns at once
  ASSERT_TRUE(t.Start(true));  // suspended
  EXPECT_TRUE(t.Signal());
  EXPECT_EQ(0, t.wakeups);
  EXPECT_TRUE(t.Resume());
  while (t.wakeups == 0) std::this_thread::yield();
  t.exitCode = 7;
  ASSERT_TRUE(t.Start());  // stops the running thread, waits, starts anew
  EXPECT_EQ(0u, t.IsStopRequested());
  EXPECT_EQ(0u, t.GetExitCode());
  t.Stop(false);  // returns at once with the flag set
  EXPECT_EQ(1u, t.IsStopRequested());
  t.Stop(true);
  EXPECT_EQ(7u, t.GetExitCode());
  EXPECT_FALSE(t.Signal());  // the ended thread closed its event
  ASSERT_TRUE(t.Start(true));
  t.Stop(true);  // lets the suspended thread go, so it ends
  EXPECT_EQ(7u, t.GetExitCode());
}

TEST(WorkerThreadDeathTest, AnExceptionEscapingRunEndsTheProcessWithCode3333) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  SleeperThread t;
  t.throws = true;
  EXPECT_EXIT((t.Start(), t.Stop(true)),
              ::testing::ExitedWithCode(owc::WorkerThread::kUnhandledExceptionExitCode & 0xFF),
              "::WorkerThreadEntryPoint [0-9]+ exception: boom");
}

}  // namespace
}  // namespace owc_test
