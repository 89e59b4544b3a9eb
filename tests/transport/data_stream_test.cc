#include "transport/data_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "transport/transport_alloc.h"

namespace {

using owc::WCDataStream;
using owc::WCDataStreamLock;
using owc::WCDataStreamNode;

std::string PeekAll(WCDataStream& s, uint32_t max) {
  std::string out(max, '\0');
  out.resize(s.Peek(&out[0], max));
  return out;
}

TEST(WCDataStream, AddOfNothingAddsNoNode) {
  WCDataStream s;
  EXPECT_TRUE(s.Add("x", 0));
  EXPECT_TRUE(s.Add(nullptr, 5));
  EXPECT_EQ(nullptr, s.GetHead());
  EXPECT_EQ(0u, s.GetTotal());
  char buf[4];
  EXPECT_EQ(0u, s.Peek(buf, sizeof buf));
}

TEST(WCDataStream, PeekCrossesChunksAndConsumeLeavesThePartialTail) {
  WCDataStream s;
  ASSERT_TRUE(s.Add("abc", 3));
  ASSERT_TRUE(s.Add("de", 2));
  EXPECT_EQ("abcd", PeekAll(s, 4));
  EXPECT_EQ(5u, s.GetTotal());

  EXPECT_EQ(4u, s.Consume(4));
  EXPECT_EQ(1u, s.GetTotal());
  WCDataStreamNode* head = s.GetHead();
  ASSERT_NE(nullptr, head);
  EXPECT_EQ(1u, head->GetRemaining());
  EXPECT_EQ('e', head->GetData(true)[0]);
  EXPECT_EQ('d', head->GetData(false)[0]);
  EXPECT_EQ("e", PeekAll(s, 10));
}

TEST(WCDataStream, ConsumingMoreThanTheTotalTakesOnlyTheTotal) {
  WCDataStream s;
  ASSERT_TRUE(s.Add("abc", 3));
  ASSERT_TRUE(s.Add("de", 2));
  EXPECT_EQ(5u, s.Consume(100));
  EXPECT_EQ(0u, s.GetTotal());
  EXPECT_EQ(nullptr, s.GetHead());
  EXPECT_EQ(0u, s.Consume(1));
}

TEST(WCDataStream, ClearEmptiesAndTheStreamStaysUsable) {
  WCDataStream s;
  ASSERT_TRUE(s.Add("abc", 3));
  s.Clear();
  EXPECT_EQ(0u, s.GetTotal());
  ASSERT_TRUE(s.Add("z", 1));
  EXPECT_EQ("z", PeekAll(s, 4));
}

TEST(WCDataStream, FailedAllocationLeavesTheStreamUnchanged) {
  WCDataStream s;
  ASSERT_TRUE(s.Add("ab", 2));
  owc::SetTransportAllocHook([](size_t) { return false; });
  EXPECT_FALSE(s.Add("cd", 2));
  owc::SetTransportAllocHook(nullptr);
  EXPECT_EQ(2u, s.GetTotal());
  EXPECT_EQ("ab", PeekAll(s, 4));
}

TEST(WCDataStream, LimitRefusesAChunkThatWouldPassIt) {
  WCDataStream s;
  s.SetLimit(4);
  EXPECT_TRUE(s.Add("abc", 3));
  EXPECT_FALSE(s.Add("de", 2));
  EXPECT_TRUE(s.Add("d", 1));
  s.Consume(2);
  EXPECT_TRUE(s.Add("ef", 2));
  EXPECT_EQ("cdef", PeekAll(s, 8));
}

TEST(WCDataStreamNode, AdvanceStopsAtTheLength) {
  WCDataStreamNode node;
  ASSERT_TRUE(node.SetData("hello", 5));
  EXPECT_EQ(3u, node.Advance(3));
  EXPECT_EQ(2u, node.Advance(10));
  EXPECT_EQ(0u, node.GetRemaining());
  ASSERT_TRUE(node.SetData(nullptr, 0));
  EXPECT_EQ(nullptr, node.GetData(false));
  EXPECT_EQ(0u, node.GetLength());
}

// A writer adds numbered chunks while a reader peeks and consumes under the lock, as the
// client thread drains a send stream that application threads fill.
TEST(WCDataStream, ConcurrentAddAndConsumeKeepByteOrder) {
  WCDataStream s;
  constexpr int kChunks = 2000;
  std::thread writer([&s] {
    for (int i = 0; i < kChunks; ++i) {
      uint8_t chunk[3] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8), 0xAA};
      while (!s.Add(chunk, sizeof chunk)) {
      }
    }
  });
  std::vector<uint8_t> received;
  while (received.size() < kChunks * 3u) {
    WCDataStreamLock lock(s);
    uint8_t buf[7];
    uint32_t n = s.Peek(buf, sizeof buf);
    EXPECT_EQ(n, s.Consume(n));
    received.insert(received.end(), buf, buf + n);
  }
  writer.join();
  for (int i = 0; i < kChunks; ++i) {
    ASSERT_EQ(static_cast<uint8_t>(i), received[3 * i]) << i;
    ASSERT_EQ(static_cast<uint8_t>(i >> 8), received[3 * i + 1]) << i;
    ASSERT_EQ(0xAA, received[3 * i + 2]) << i;
  }
}

}  // namespace
