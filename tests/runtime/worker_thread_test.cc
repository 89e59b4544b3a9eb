#include "runtime/worker_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

namespace {

// Sleeps on its event between work items, as the module's threads do.
class SleeperThread : public owc::WorkerThread {
 public:
  ~SleeperThread() override { Stop(true); }
  std::atomic<int> wakeups{0};
  std::atomic<bool> ran{false};
  uint32_t exitCode = 42;

 protected:
  uint32_t Run() override {
    ran = true;
    while (IsStopRequested() == 0) {
      WaitSignal();
      ResetSignal();
      ++wakeups;
    }
    return exitCode;
  }
};

class ThrowingThread : public owc::WorkerThread {
 protected:
  uint32_t Run() override { throw std::runtime_error("boom"); }
};

TEST(WorkerThread, StopWithWaitEndsTheThreadAndKeepsItsExitCode) {
  SleeperThread t;
  ASSERT_TRUE(t.Start());
  t.Stop(true);
  EXPECT_EQ(1u, t.IsStopRequested());
  EXPECT_EQ(42u, t.GetExitCode());
  // The ended thread closed its event.
  EXPECT_FALSE(t.Signal());
  EXPECT_FALSE(t.ResetSignal());
}

TEST(WorkerThread, SignalAndResetReportNoEventBeforeAnyStart) {
  SleeperThread t;
  EXPECT_FALSE(t.Signal());
  EXPECT_FALSE(t.ResetSignal());
  EXPECT_EQ(0u, t.GetThreadId());
  t.Stop(true);  // never started: returns at once
  EXPECT_EQ(1u, t.IsStopRequested());
}

TEST(WorkerThread, StartOnARunningThreadRestartsItWithFreshState) {
  SleeperThread t;
  ASSERT_TRUE(t.Start());
  t.exitCode = 7;
  ASSERT_TRUE(t.Start());  // stops the first thread, waits, starts anew
  EXPECT_EQ(0u, t.IsStopRequested());
  EXPECT_EQ(0u, t.GetExitCode());
  t.Stop(true);
  EXPECT_EQ(7u, t.GetExitCode());
}

TEST(WorkerThread, StopWithoutWaitReturnsAtOnceWithTheFlagSet) {
  SleeperThread t;
  ASSERT_TRUE(t.Start());
  t.Stop(false);
  EXPECT_EQ(1u, t.IsStopRequested());
  t.Stop(true);
  EXPECT_EQ(42u, t.GetExitCode());
}

TEST(WorkerThread, SuspendedThreadRunsOnlyAfterResume) {
  SleeperThread t;
  ASSERT_TRUE(t.Start(true));
  EXPECT_FALSE(t.ran.load());
  EXPECT_TRUE(t.Resume());
  while (!t.ran.load()) std::this_thread::yield();
  t.Stop(true);
  EXPECT_EQ(42u, t.GetExitCode());
}

TEST(WorkerThread, SuspendedThreadStoppedBeforeResumeStillEnds) {
  SleeperThread t;
  ASSERT_TRUE(t.Start(true));
  t.Stop(true);
  EXPECT_EQ(42u, t.GetExitCode());
}

TEST(WorkerThread, SignalWakesTheThread) {
  SleeperThread t;
  ASSERT_TRUE(t.Start());
  while (t.GetThreadId() == 0) std::this_thread::yield();
  EXPECT_TRUE(t.Signal());
  while (t.wakeups.load() == 0) std::this_thread::yield();
  t.Stop(true);
}

using WorkerThreadDeathTest = ::testing::Test;

TEST(WorkerThreadDeathTest, AnExceptionEscapingRunEndsTheProcessWithCode3333) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ThrowingThread t;
        t.Start();
        t.Stop(true);
      },
      ::testing::ExitedWithCode(owc::WorkerThread::kUnhandledExceptionExitCode & 0xFF),
      "::WorkerThreadEntryPoint [0-9]+ exception: boom");
}

}  // namespace
