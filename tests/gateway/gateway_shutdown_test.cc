// The session on its own thread: start, run and the shut-down sequence.
#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "session_fixture.h"

namespace {

using namespace owc_test;

class RunningSessionTest : public SessionTest {
 protected:
  ~RunningSessionTest() override { session.Stop(true); }

  // Starts the thread and logs in as session 42 up to the first request.
  void Establish(int round = 1) {
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(wire.WaitForOpens(round));
    wire.Deliver(Hello());
    ASSERT_TRUE(wire.WaitForSent("USER", round));
    wire.Deliver(UserAck(true, 42));
    ASSERT_TRUE(wire.WaitForSent("42:FLTR ALL", round));
    wire.Deliver(FilterAck(true));
    ASSERT_TRUE(wire.WaitForSent("42:RQST", round));
  }
  std::future<void> StopAsync(bool sendDone) {
    return std::async(std::launch::async, [this, sendDone] {
      session.SetShutdownParams(sendDone);
      session.Stop(true);
    });
  }
  void ExpectSessionCleared() {
    HOBWStats s = Stats();
    EXPECT_EQ(0, s.mConnected);
    EXPECT_EQ(0, s.mSessionValid);
    EXPECT_EQ(0u, U(s.mSessionID));
    EXPECT_EQ(0u, U(s.mQueueLen));
    EXPECT_TRUE(log.Has("HOBWThread::Run thread terminated"));
    EXPECT_TRUE(log.Has("HOBWQueueThread::Run thread terminated"));
  }
};

TEST_F(RunningSessionTest, StopWithDoneWaitsForTheAnswer) {
  Establish();
  std::future<void> stopped = StopAsync(true);
  ASSERT_TRUE(wire.WaitForSent("42:DONE"));
  EXPECT_TRUE(log.Has("HOBWThread::Run shutdown sending TXDone"));
  EXPECT_EQ(std::future_status::timeout, stopped.wait_for(std::chrono::milliseconds(50)));
  wire.Deliver(DoneAck());
  stopped.get();
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux received done"));
  EXPECT_EQ(1, wire.Closes());
  ExpectSessionCleared();
}

TEST_F(RunningSessionTest, StopWithDoneGivesUpTwelveSecondsAfterSendingIt) {
  Establish();
  std::future<void> stopped = StopAsync(true);
  ASSERT_TRUE(wire.WaitForSent("42:DONE"));
  // Each step is past the limit, whenever the wait began.
  while (stopped.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    Advance(owc::HOBWThread::kDoneWaitMs + 1000);
  }
  EXPECT_FALSE(log.Has("HOBWThread::ProcessStateAux received done"));
  EXPECT_TRUE(log.Has("HOBWThread::Run shutdown closing handle"));
  EXPECT_EQ(1, wire.Closes());
  ExpectSessionCleared();
}

TEST_F(RunningSessionTest, StopWithoutDoneSendsNothingAndAStartLogsInAnew) {
  Establish();
  StopAsync(false).get();
  EXPECT_EQ(0, wire.Count("42:DONE"));
  EXPECT_EQ(1, wire.Closes());
  ExpectSessionCleared();
  Establish(2);  // the session id was cleared by the stop: a new login
  EXPECT_EQ(2, wire.Count("USER"));
}

}  // namespace
