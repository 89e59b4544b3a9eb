#include "transport/io_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "support/log_capture.h"
#include "transport/clock_helper.h"
#include "transport/transport_alloc.h"

namespace {

using owc::IOPort;
using owc::IOPortCallbackInfo;
using owc::IOPortStats;
using owc_test::AdvanceMs;
using owc_test::LogCapture;

TEST(IOPortPacing, BudgetIsTheRateInBytesOverTenSeconds) {
  IOPort port;
  port.SetPaceRate(64000);
  EXPECT_EQ(80000u, port.GetPaceAllowance(100000));
  EXPECT_EQ(500u, port.GetPaceAllowance(500));
  port.CountTX(30000);
  EXPECT_EQ(50000u, port.GetPaceAllowance(100000));
  port.CountTX(60000);  // beyond the budget: held at it
  EXPECT_EQ(0u, port.GetPaceAllowance(100000));
  port.SetPaceRate(0);
  EXPECT_EQ(4000000000u, port.GetPaceAllowance(4000000000u));
}

TEST(IOPortPacing, ANewWindowRenewsTheBudgetAndReportsTheSendRate) {
  IOPort port;
  port.SetPaceRate(8000);  // 10,000 bytes per window
  port.CountTX(10000);
  EXPECT_EQ(0u, port.GetPaceAllowance(1));
  AdvanceMs(10000);
  EXPECT_EQ(0u, port.GetPaceAllowance(1));  // start + 10 s has not passed yet
  AdvanceMs(50);
  EXPECT_EQ(10000u, port.GetPaceAllowance(15000));
  IOPortStats stats;
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(1000u, stats.mTXRate);
}

TEST(IOPortStats, AveragesAreZeroInTheFirstSecondAfterOpen) {
  IOPort port;
  port.ResetStatsStart();
  port.CountRX(500);
  port.CountTX(1000);
  IOPortStats stats;
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(500u, stats.mRXTotal);
  EXPECT_EQ(1000u, stats.mTXTotal);
  EXPECT_EQ(0u, stats.mRXAverage);
  EXPECT_EQ(0u, stats.mTXAverage);
}

TEST(IOPortStats, WithoutPacingTheSendRateIsTheSendAverage) {
  IOPort port;
  port.ResetStatsStart();
  port.CountRX(500);
  port.CountTX(1000);
  AdvanceMs(2000);
  IOPortStats stats;
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(250u, stats.mRXAverage);
  EXPECT_EQ(500u, stats.mTXAverage);
  EXPECT_EQ(500u, stats.mTXRate);
}

TEST(IOPortStats, ReceiveRateCoversTheLastCompletedWindow) {
  IOPort port;
  port.CountRX(5000);
  IOPortStats stats;
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(0u, stats.mRXRate);
  AdvanceMs(10050);
  ASSERT_TRUE(port.GetStats(stats));  // rolls the window
  EXPECT_EQ(500u, stats.mRXRate);
  port.CountRX(100);
  AdvanceMs(10050);
  port.CountRX(0);
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(10u, stats.mRXRate);
  EXPECT_EQ(5100u, stats.mRXTotal);
}

TEST(IOPortStats, CanBeReadWhileTheIOThreadCounts) {
  IOPort port;
  std::atomic<bool> done{false};
  std::thread io([&] {
    for (int i = 0; i < 20000; ++i) {
      port.CountRX(3);
      port.CountTX(2);
      if (i % 1000 == 0) AdvanceMs(2000);
    }
    done = true;
  });
  IOPortStats stats;
  while (!done) ASSERT_TRUE(port.GetStats(stats));
  io.join();
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(60000u, stats.mRXTotal);
  EXPECT_EQ(40000u, stats.mTXTotal);
}

TEST(IOPortTimeout, SilenceBeyondTheTimeoutFailsUntilBytesOrANewTimeout) {
  IOPort port;
  EXPECT_TRUE(port.IsRXTimeOK());  // none set
  port.SetRXTimeout(16000);
  AdvanceMs(16000);
  EXPECT_TRUE(port.IsRXTimeOK());
  AdvanceMs(50);
  EXPECT_FALSE(port.IsRXTimeOK());
  port.CountRX(1);
  EXPECT_TRUE(port.IsRXTimeOK());
  AdvanceMs(16050);
  EXPECT_FALSE(port.IsRXTimeOK());
  port.CountRX(0);  // accounting alone is not a received byte
  EXPECT_FALSE(port.IsRXTimeOK());
  port.SetRXTimeout(16000);
  EXPECT_TRUE(port.IsRXTimeOK());
  AdvanceMs(20000);
  port.ClearRXTimeout();
  EXPECT_TRUE(port.IsRXTimeOK());
}

TEST(IOPort, LastSendTimeFollowsSentBytes) {
  IOPort port;
  EXPECT_EQ(0xFFFFFFFFu, port.GetLastError());
  AdvanceMs(100);
  port.CountTX(0);
  EXPECT_EQ(0u, port.GetLastTXTime().GetMilliseconds());
  port.CountTX(1);
  owc::TickTime now;
  now.SetNow();
  EXPECT_EQ(now, port.GetLastTXTime());
}

TEST(IOPortOverflow, SentBytesLeaveFromTheFront) {
  IOPort port;
  ASSERT_TRUE(port.AddToOverflowBuf(reinterpret_cast<const uint8_t*>("abcdef"), 6));
  ASSERT_TRUE(port.AddToOverflowBuf(reinterpret_cast<const uint8_t*>("gh"), 2));
  EXPECT_TRUE(port.HasOverflow());
  ASSERT_TRUE(port.WroteOverflowBuf(3));
  ASSERT_EQ(5u, port.GetOverflowLen());
  EXPECT_EQ(0, std::memcmp("defgh", port.GetOverflowBuf(), 5));
  ASSERT_TRUE(port.WroteOverflowBuf(0));
  ASSERT_TRUE(port.WroteOverflowBuf(5));
  EXPECT_FALSE(port.HasOverflow());
  EXPECT_EQ(nullptr, port.GetOverflowBuf());
  EXPECT_TRUE(port.WroteOverflowBuf(7));  // nothing held: nothing to do
}

TEST(IOPortOverflow, WritingMoreThanHeldFailsAndKeepsTheBuffer) {
  LogCapture log;
  IOPort port;
  ASSERT_TRUE(port.AddToOverflowBuf(reinterpret_cast<const uint8_t*>("abc"), 3));
  EXPECT_FALSE(port.WroteOverflowBuf(4));
  EXPECT_EQ(0,
            log.SeverityOf("IOPort::WroteOverflowBuf failed bytes written > unsent data len.\n"));
  ASSERT_EQ(3u, port.GetOverflowLen());
  EXPECT_EQ(0, std::memcmp("abc", port.GetOverflowBuf(), 3));
}

TEST(IOPortOverflow, AllocationFailureIsLoggedAndKeepsTheContent) {
  LogCapture log;
  IOPort port;
  ASSERT_TRUE(port.AddToOverflowBuf(reinterpret_cast<const uint8_t*>("abc"), 3));
  owc::SetTransportAllocHook([](size_t) { return false; });
  EXPECT_FALSE(port.AddToOverflowBuf(reinterpret_cast<const uint8_t*>("de"), 2));
  owc::SetTransportAllocHook(nullptr);
  EXPECT_EQ(0, log.SeverityOf("IOPort::AddToOverflowBuf new UBYTE [] failed.\n"));
  ASSERT_EQ(3u, port.GetOverflowLen());
  EXPECT_EQ(0, std::memcmp("abc", port.GetOverflowBuf(), 3));
  port.ClearOverflow();
  EXPECT_FALSE(port.HasOverflow());
}

TEST(IOPortAuxBuf, PutsStayInsideTheSizeAndMarkTheUsedEnd) {
  IOPort port;
  ASSERT_TRUE(port.AuxBufInit(8));
  EXPECT_EQ(8u, port.GetAuxSize());
  EXPECT_EQ(0u, port.GetAuxUsed());
  EXPECT_TRUE(port.AuxBufPut(2, reinterpret_cast<const uint8_t*>("xyz"), 3));
  EXPECT_EQ(5u, port.GetAuxUsed());
  EXPECT_EQ(0, std::memcmp("xyz", port.GetAuxBuf() + 2, 3));
  EXPECT_FALSE(port.AuxBufPut(6, reinterpret_cast<const uint8_t*>("xyz"), 3));
  EXPECT_TRUE(port.AuxBufPutByte(7, 'q'));
  EXPECT_EQ(8u, port.GetAuxUsed());
  EXPECT_FALSE(port.AuxBufPutByte(8, 'q'));
  EXPECT_EQ(8u, port.AuxBufSetUsed(100));
  EXPECT_EQ(8u, port.GetAuxUsed());
  port.AuxBufSetUsed(1);
  EXPECT_EQ(1u, port.GetAuxUsed());
  ASSERT_TRUE(port.AuxBufInit(0));
  EXPECT_EQ(0u, port.GetAuxSize());
  EXPECT_FALSE(port.AuxBufPutByte(0, 'q'));
}

TEST(IOPortAuxBuf, AllocationFailureIsLogged) {
  LogCapture log;
  IOPort port;
  owc::SetTransportAllocHook([](size_t) { return false; });
  EXPECT_FALSE(port.AuxBufInit(16));
  owc::SetTransportAllocHook(nullptr);
  EXPECT_EQ(0, log.SeverityOf("IOPort::AuxBufInit new UBYTE [] failed.\n"));
  EXPECT_EQ(0u, port.GetAuxSize());
}

struct Calls {
  std::vector<std::string> seen;
};
void RecordA(void* context, uint32_t a, uint32_t b) {
  static_cast<Calls*>(context)->seen.push_back("A" + std::to_string(a) + "," + std::to_string(b));
}
void RecordB(void* context, uint32_t a, uint32_t) {
  static_cast<Calls*>(context)->seen.push_back("B" + std::to_string(a));
}

TEST(IOPortCallbacks, NotifyCallsInOrderAndUnregisterDropsTheFirstEqual) {
  IOPort port;
  Calls calls;
  Calls other;
  ASSERT_TRUE(port.Register(IOPortCallbackInfo(&RecordA, &calls)));
  ASSERT_TRUE(port.Register(IOPortCallbackInfo(&RecordB, &calls)));
  ASSERT_TRUE(port.Register(IOPortCallbackInfo(&RecordA, &calls)));
  ASSERT_TRUE(port.Register(IOPortCallbackInfo(&RecordA, &other)));
  port.Notify(1, 2);
  EXPECT_EQ((std::vector<std::string>{"A1,2", "B1", "A1,2"}), calls.seen);
  EXPECT_EQ(1u, other.seen.size());

  port.Unregister(IOPortCallbackInfo(&RecordA, &calls));
  port.Unregister(IOPortCallbackInfo(&RecordB, &other));  // not registered: nothing
  calls.seen.clear();
  port.Notify(3, 4);
  EXPECT_EQ((std::vector<std::string>{"B3", "A3,4"}), calls.seen);
}

}  // namespace
