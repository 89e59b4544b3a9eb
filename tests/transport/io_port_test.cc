// SPDX-License-Identifier: MIT
#include "transport/io_port.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/clock.h"
#include "support/log_capture.h"
#include "support/refused_allocations.h"

namespace owc_test {

namespace {

using owc::IOPort;
using owc::IOPortCallbackInfo;
using owc::IOPortStats;
using Texts = std::vector<std::string>;

const uint8_t* U8(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

TEST(IOPortTest, AveragesRatesThePacingBudgetAndReceiveSilence) {
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

std::string AuxContent(const IOPort& port) {
  return std::string(reinterpret_cast<const char*>(port.GetAuxBuf()), port.GetAuxUsed());
}

// Sent overflow bytes leave from the front; puts stay inside the aux buffer's size and leave
// its used length at the end of the last write. A refused put or allocation keeps the
// content, except that a failed AuxBufInit has dropped the old buffer all the same.
TEST(IOPortTest, OverflowAndAuxBuffersKeepTheirContentThroughRefusedWrites) {
  LogCapture log;
  IOPort port;
  ASSERT_TRUE(port.AddToOverflowBuf(U8("abcdef"), 6));
  ASSERT_TRUE(port.WroteOverflowBuf(1));
  EXPECT_FALSE(port.WroteOverflowBuf(6));
  EXPECT_EQ(0,
            log.SeverityOf("IOPort::WroteOverflowBuf failed bytes written > unsent data len.\n"));
  EXPECT_EQ(Texts{"IOPort::AddToOverflowBuf new UBYTE [] failed.\n"},
            FailuresWhenRefused(log, {0}, [&] { return port.AddToOverflowBuf(U8("gh"), 2); }));
  ASSERT_EQ(5u, port.GetOverflowLen());
  EXPECT_EQ(0, std::memcmp("bcdef", port.GetOverflowBuf(), 5));
  ASSERT_TRUE(port.WroteOverflowBuf(5));
  EXPECT_EQ(nullptr, port.GetOverflowBuf());

  EXPECT_FALSE(port.AuxBufPutByte(0, 'x'));  // no buffer yet
  ASSERT_TRUE(port.AuxBufInit(8));
  ASSERT_TRUE(port.AuxBufPut(2, U8("cdef"), 4));
  EXPECT_EQ(6u, port.GetAuxUsed());
  ASSERT_TRUE(port.AuxBufPutByte(0, 'a'));
  EXPECT_EQ(1u, port.GetAuxUsed());  // the last write's end, not the highest one
  ASSERT_TRUE(port.AuxBufPutByte(1, 'b'));
  ASSERT_TRUE(port.AuxBufPut(6, U8("gh"), 2));  // exactly to the end
  EXPECT_FALSE(port.AuxBufPut(7, U8("xy"), 2));
  EXPECT_FALSE(port.AuxBufPut(0xFFFFFFFFu, U8("xy"), 2));  // offset + n must not wrap
  EXPECT_FALSE(port.AuxBufPutByte(8, 'x'));
  EXPECT_EQ("abcdefgh", AuxContent(port));
  EXPECT_EQ(8u, port.AuxBufSetUsed(3));
  EXPECT_EQ("abc", AuxContent(port));
  EXPECT_EQ(8u, port.AuxBufSetUsed(100));
  EXPECT_EQ(8u, port.GetAuxUsed());
  ASSERT_TRUE(port.AuxBufInit(4));  // a new buffer starts empty
  EXPECT_EQ(4u, port.GetAuxSize());
  EXPECT_EQ(0u, port.GetAuxUsed());
  EXPECT_EQ(Texts{"IOPort::AuxBufInit new UBYTE [] failed.\n"},
            FailuresWhenRefused(log, {0}, [&] { return port.AuxBufInit(16); }));
  EXPECT_EQ(nullptr, port.GetAuxBuf());
  EXPECT_EQ(0u, port.GetAuxSize());
  ASSERT_TRUE(port.AuxBufInit(0));
  EXPECT_EQ(nullptr, port.GetAuxBuf());
}

struct Recorder {
  Texts calls;
  IOPort* port = nullptr;
};

void RecordAsA(void* context, uint32_t v1, uint32_t v2) {
  auto* r = static_cast<Recorder*>(context);
  r->calls.push_back("a" + std::to_string(v1) + "," + std::to_string(v2));
  if (r->port != nullptr) r->port->SetLastError(v1);  // callbacks may use the port
}

void RecordAsB(void* context, uint32_t v1, uint32_t v2) {
  static_cast<Recorder*>(context)->calls.push_back("b" + std::to_string(v1 + v2));
}

// Unregistered callbacks are freed by the port; the sanitizer builds see a leak or a double
// free. Without memory for the copy or its list entry nothing is registered, nor leaked.
TEST(IOPortTest, NotifyCallsEachInOrderAndUnregisterDropsOnlyTheFirstEqualOne) {
  LogCapture log;
  IOPort port;
  Recorder one, two;
  one.port = &port;
  port.Notify(1, 1);  // none registered
  IOPortCallbackInfo a1(RecordAsA, &one);
  ASSERT_TRUE(port.Register(a1));
  ASSERT_TRUE(port.Register(IOPortCallbackInfo(RecordAsB, &one)));  // same context, other function
  ASSERT_TRUE(port.Register(IOPortCallbackInfo(RecordAsA, &two)));
  ASSERT_TRUE(port.Register(a1));
  a1.mContext = &two;  // the port keeps its own copy
  port.Notify(7, 2);
  EXPECT_EQ((Texts{"a7,2", "b9", "a7,2"}), one.calls);
  EXPECT_EQ((Texts{"a7,2"}), two.calls);
  EXPECT_EQ(7u, port.GetLastError());

  port.Unregister(IOPortCallbackInfo(RecordAsA, &one));
  port.Unregister(IOPortCallbackInfo(RecordAsB, &two));  // not registered: nothing happens
  EXPECT_EQ((Texts{"IOPort::Register new IOPortCallbackInfo failed.\n",
                   "IOPort::Register AddTail failed.\n"}),
            FailuresWhenRefused(
                log, {0, 1}, [&] { return port.Register(IOPortCallbackInfo(RecordAsB, &two)); }));
  one.calls.clear();
  two.calls.clear();
  port.Notify(3, 4);
  EXPECT_EQ((Texts{"b7", "a3,4"}), one.calls);
  EXPECT_EQ((Texts{"a3,4"}), two.calls);
}

std::string StoredForm(const IOPortStats& s) {
  uint8_t rec[IOPortStats::kStoredSize];
  EXPECT_TRUE(s.Store(rec));
  return std::string(reinterpret_cast<char*>(rec), sizeof rec);
}

TEST(IOPortStatsTest, SixtySixBytesOfAgeCountersAndAPaddedNameThatLoadReads) {
  AdvanceMs(5000);
  IOPortStats s, loaded;
  s.mStartTime.SetNow();
  s.mName = "tcp";
  uint32_t* counters[] = {&s.mRXTotal, &s.mRXAverage, &s.mRXRate,
                          &s.mTXTotal, &s.mTXAverage, &s.mTXRate};
  for (uint32_t i = 0; i < 6; ++i) *counters[i] = 0x01020304u * (i + 1);
  uint8_t rec[IOPortStats::kStoredSize + 1];
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
  EXPECT_EQ(std::string(reinterpret_cast<char*>(rec), IOPortStats::kStoredSize),
            StoredForm(loaded));  // every field read back
  s.mName = std::string(40, 'n');
  ASSERT_TRUE(s.Store(rec));
  EXPECT_EQ(std::string(31, 'n') + '\0', name());
  EXPECT_FALSE(loaded.Load(rec, IOPortStats::kStoredSize - 1));  // resets all but the name
  EXPECT_EQ(0u, loaded.mRXTotal);
  EXPECT_EQ("tcp", loaded.mName);
}

// A copy that runs out of memory stops at its first record and leaves the list empty.
TEST(IOPortStatsTest, CopyReplacesTheContentWithIndependentEqualRecordsInOrder) {
  LogCapture log;
  owc::IOPortStatsList original, copy, empty;
  for (uint32_t i = 1; i <= 3; ++i) {
    IOPortStats s;
    s.mName = "port" + std::to_string(i);
    s.mStartTime.SetMilliseconds(1000 * i);
    s.mRXTotal = i;
    s.mTXRate = 100 * i;
    ASSERT_TRUE(original.AddStats(s));
  }
  ASSERT_TRUE(copy.AddStats(IOPortStats()));  // replaced, not kept
  ASSERT_TRUE(copy.Copy(original));
  ASSERT_EQ(3u, copy.GetCount());
  auto o = original.GetHeadPosition();
  for (auto c = copy.GetHeadPosition(); c != nullptr;) {
    IOPortStats* mine = copy.GetNext(c);
    IOPortStats* theirs = original.GetNext(o);
    EXPECT_NE(theirs, mine);  // records are values: a distinct one is independent
    EXPECT_EQ(StoredForm(*theirs), StoredForm(*mine)) << theirs->mName;
  }
  ASSERT_TRUE(copy.Copy(empty));
  EXPECT_TRUE(copy.IsEmpty());
  EXPECT_EQ(3u, original.GetCount());
  EXPECT_EQ((Texts{"IOPortStatsList::AddStats new IOPortStats failed.\n",
                   "IOPortStatsList::Copy AddStat failed.\n",
                   "IOPortStatsList::AddStats AddTail failed.\n",
                   "IOPortStatsList::Copy AddStat failed.\n"}),
            FailuresWhenRefused(log, {0, 1}, [&] { return copy.Copy(original); }));
  EXPECT_TRUE(copy.IsEmpty());
}

}  // namespace
}  // namespace owc_test
