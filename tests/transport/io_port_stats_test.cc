#include "transport/io_port_stats.h"

#include <gtest/gtest.h>

#include <string>

#include "transport/clock_helper.h"

namespace {

using owc::IOPortStats;
using owc::IOPortStatsList;

uint32_t Le32(const uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

IOPortStats Sample(const std::string& name) {
  IOPortStats s;
  s.mName = name;
  s.mRXTotal = 0x01020304;
  s.mRXAverage = 2;
  s.mRXRate = 3;
  s.mTXTotal = 4;
  s.mTXAverage = 5;
  s.mTXRate = 0xFFFFFFFE;
  return s;
}

TEST(IOPortStatsStore, SixtySixBytesOfTimeCountersAndPaddedName) {
  uint8_t out[IOPortStats::kStoredSize + 1];
  out[IOPortStats::kStoredSize] = 0x5A;  // guard
  ASSERT_TRUE(Sample("tcp").Store(out));
  EXPECT_EQ(0x5A, out[IOPortStats::kStoredSize]);
  EXPECT_EQ(0x01020304u, Le32(out + 10));
  EXPECT_EQ(0x04, out[10]);
  EXPECT_EQ(2u, Le32(out + 14));
  EXPECT_EQ(3u, Le32(out + 18));
  EXPECT_EQ(4u, Le32(out + 22));
  EXPECT_EQ(5u, Le32(out + 26));
  EXPECT_EQ(0xFFFFFFFEu, Le32(out + 30));
  EXPECT_EQ(std::string("tcp"), std::string(reinterpret_cast<char*>(out + 34)));
  for (int i = 34 + 3; i < 66; ++i) EXPECT_EQ(0, out[i]) << i;
}

TEST(IOPortStatsStore, ANameOf32OrMoreIsCutTo31) {
  uint8_t out[IOPortStats::kStoredSize];
  ASSERT_TRUE(Sample(std::string(40, 'n')).Store(out));
  EXPECT_EQ(std::string(31, 'n'), std::string(reinterpret_cast<char*>(out + 34)));
  EXPECT_EQ(0, out[65]);

  IOPortStats loaded;
  ASSERT_TRUE(loaded.Load(out, sizeof out));
  EXPECT_EQ(std::string(31, 'n'), loaded.mName);
}

TEST(IOPortStatsStore, LoadReadsWhatStoreWrote) {
  owc_test::AdvanceMs(5000);
  IOPortStats original = Sample("port-1");
  original.mStartTime.SetNow();
  uint8_t out[IOPortStats::kStoredSize];
  ASSERT_TRUE(original.Store(out));
  IOPortStats loaded;
  ASSERT_TRUE(loaded.Load(out, sizeof out));
  EXPECT_EQ("port-1", loaded.mName);
  EXPECT_EQ(original.mStartTime, loaded.mStartTime);
  EXPECT_EQ(original.mRXTotal, loaded.mRXTotal);
  EXPECT_EQ(original.mTXRate, loaded.mTXRate);
}

TEST(IOPortStatsStore, LoadOfAShortRecordFailsAndLeavesItReset) {
  uint8_t out[IOPortStats::kStoredSize];
  ASSERT_TRUE(Sample("x").Store(out));
  IOPortStats loaded = Sample("kept");
  EXPECT_FALSE(loaded.Load(out, IOPortStats::kStoredSize - 1));
  EXPECT_EQ(0u, loaded.mRXTotal);
  EXPECT_EQ(0u, loaded.mTXRate);
  EXPECT_EQ("kept", loaded.mName);  // Reset keeps the name
}

TEST(IOPortStatsList, CopyReplacesWithIndependentCopiesInOrder) {
  IOPortStatsList a;
  ASSERT_TRUE(a.AddStats(Sample("one")));
  ASSERT_TRUE(a.AddStats(Sample("two")));
  IOPortStatsList b;
  ASSERT_TRUE(b.AddStats(Sample("old")));
  ASSERT_TRUE(b.Copy(a));
  ASSERT_EQ(2u, b.GetCount());
  auto pos = b.GetHeadPosition();
  IOPortStats* first = b.GetNext(pos);
  EXPECT_EQ("one", first->mName);
  EXPECT_EQ("two", b.GetNext(pos)->mName);
  first->mName = "changed";
  EXPECT_EQ("one", a.GetAt(a.GetHeadPosition())->mName);
  b.DeleteAll();
  EXPECT_EQ(0u, b.GetCount());
}

}  // namespace
