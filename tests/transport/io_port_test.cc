#include "transport/io_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "support/log_capture.h"
#include "transport/clock_helper.h"
#include "transport/data_stream.h"
#include "transport/transport_alloc.h"

namespace {

using owc::IOPort;
using owc::IOPortStats;
using owc_test::AdvanceMs;

TEST(IOPortAccounting, AveragesRatesThePacingBudgetAndReceiveSilence) {
  IOPort port;
  port.ResetStatsStart();
  port.CountRX(500);
  port.CountTX(1000);
  IOPortStats stats;
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(0u, stats.mRXAverage + stats.mTXAverage + stats.mRXRate);  // no second, no window
  AdvanceMs(2000);
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(250u, stats.mRXAverage);
  EXPECT_EQ(500u, stats.mTXRate);  // without pacing: the send average
  AdvanceMs(8050);
  ASSERT_TRUE(port.GetStats(stats));  // rolls the window
  EXPECT_EQ(50u, stats.mRXRate);

  port.SetPaceRate(8000);  // 10,000 bytes per window
  port.CountTX(3000);
  EXPECT_EQ(7000u, port.GetPaceAllowance(15000));
  port.CountTX(9000);
  AdvanceMs(10050);
  EXPECT_EQ(10000u, port.GetPaceAllowance(15000));  // a new window
  ASSERT_TRUE(port.GetStats(stats));
  EXPECT_EQ(1000u, stats.mTXRate);  // the budget over 10 s, not the 12,000 sent
  port.SetPaceRate(0);
  EXPECT_EQ(4000000000u, port.GetPaceAllowance(4000000000u));

  port.SetRXTimeout(16000);
  AdvanceMs(16050);
  EXPECT_FALSE(port.IsRXTimeOK());
  port.CountRX(1);  // a received byte restarts the silence
  EXPECT_TRUE(port.IsRXTimeOK());
  AdvanceMs(16050);
  port.CountRX(0);  // accounting alone does not
  EXPECT_FALSE(port.IsRXTimeOK());
}

TEST(IOPortOverflow, SentBytesLeaveFromTheFrontAndFailuresKeepTheContent) {
  owc_test::LogCapture log;
  IOPort port;
  ASSERT_TRUE(port.AddToOverflowBuf(reinterpret_cast<const uint8_t*>("abcdef"), 6));
  ASSERT_TRUE(port.WroteOverflowBuf(1));
  EXPECT_FALSE(port.WroteOverflowBuf(6));
  EXPECT_EQ(0,
            log.SeverityOf("IOPort::WroteOverflowBuf failed bytes written > unsent data len.\n"));
  owc::SetTransportAllocHook([](size_t) { return false; });
  EXPECT_FALSE(port.AddToOverflowBuf(reinterpret_cast<const uint8_t*>("gh"), 2));
  owc::SetTransportAllocHook(nullptr);
  EXPECT_EQ(0, log.SeverityOf("IOPort::AddToOverflowBuf new UBYTE [] failed.\n"));
  ASSERT_EQ(5u, port.GetOverflowLen());
  EXPECT_EQ(0, std::memcmp("bcdef", port.GetOverflowBuf(), 5));
  ASSERT_TRUE(port.WroteOverflowBuf(5));
  EXPECT_EQ(nullptr, port.GetOverflowBuf());
}

TEST(IOPortStatsStore, SixtySixBytesOfAgeCountersAndAPaddedNameThatLoadReads) {
  AdvanceMs(5000);
  IOPortStats s, loaded;
  s.mStartTime.SetNow();
  s.mName = "tcp";
  uint32_t* counters[] = {&s.mRXTotal, &s.mRXAverage, &s.mRXRate,
                          &s.mTXTotal, &s.mTXAverage, &s.mTXRate};
  for (uint32_t i = 0; i < 6; ++i) *counters[i] = 0x01020304u * (i + 1);
  uint8_t rec[IOPortStats::kStoredSize + 1], again[IOPortStats::kStoredSize];
  rec[IOPortStats::kStoredSize] = 0x5A;  // guard
  auto name = [&rec] { return std::string(reinterpret_cast<char*>(rec + 34), 32); };
  ASSERT_TRUE(s.Store(rec));
  EXPECT_EQ(0x5A, rec[IOPortStats::kStoredSize]);
  for (int i = 0; i < 6; ++i) {
    const uint8_t* p = rec + 10 + 4 * i;
    EXPECT_EQ(*counters[i], p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24) << i;
  }
  EXPECT_EQ(std::string("tcp") + std::string(29, '\0'), name());
  ASSERT_TRUE(loaded.Load(rec, IOPortStats::kStoredSize));
  EXPECT_EQ(s.mStartTime, loaded.mStartTime);
  ASSERT_TRUE(loaded.Store(again));
  EXPECT_EQ(0, std::memcmp(rec, again, sizeof again));  // every field read back
  s.mName = std::string(40, 'n');
  ASSERT_TRUE(s.Store(rec));
  EXPECT_EQ(std::string(31, 'n') + '\0', name());
  EXPECT_FALSE(loaded.Load(rec, IOPortStats::kStoredSize - 1));  // resets all but the name
  EXPECT_EQ(0u, loaded.mRXTotal);
  EXPECT_EQ("tcp", loaded.mName);
}

std::string PeekAll(owc::WCDataStream& s, uint32_t max) {
  std::string out(max, '\0');
  out.resize(s.Peek(&out[0], max));
  return out;
}

TEST(WCDataStream, ChunksArePeekedAndConsumedAcrossWithinTheLimitAndMemory) {
  owc::WCDataStream s;
  s.SetLimit(6);
  ASSERT_TRUE(s.Add("abc", 3));
  ASSERT_TRUE(s.Add("de", 2));
  EXPECT_FALSE(s.Add("fg", 2));  // past the limit
  EXPECT_EQ("abcd", PeekAll(s, 4));
  EXPECT_EQ(4u, s.Consume(4));
  owc::WCDataStreamNode* head = s.GetHead();
  ASSERT_NE(nullptr, head);
  EXPECT_EQ('e', head->GetData(true)[0]);
  owc::SetTransportAllocHook([](size_t) { return false; });
  EXPECT_FALSE(s.Add("f", 1));
  owc::SetTransportAllocHook(nullptr);
  ASSERT_TRUE(s.Add("fghij", 5));
  EXPECT_EQ("efghij", PeekAll(s, 10));
  s.Clear();
  EXPECT_EQ(nullptr, s.GetHead());
  EXPECT_EQ(0u, s.GetTotal());
}

// As the client thread drains a send stream that application threads fill.
TEST(WCDataStream, ConcurrentAddAndConsumeKeepByteOrder) {
  owc::WCDataStream s;
  std::string sent, received;
  for (int i = 0; i < 6000; ++i) sent += static_cast<char>(i * 7 % 251);
  std::thread writer([&] {
    for (size_t i = 0; i < sent.size(); i += 3) EXPECT_TRUE(s.Add(&sent[i], 3));
  });
  while (received.size() < sent.size()) {
    owc::WCDataStreamLock lock(s);
    char buf[7];
    uint32_t n = s.Peek(buf, sizeof buf);
    EXPECT_EQ(n, s.Consume(n));
    received.append(buf, n);
  }
  writer.join();
  EXPECT_TRUE(sent == received);
}

}  // namespace
