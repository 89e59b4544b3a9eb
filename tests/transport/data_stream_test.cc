// SPDX-License-Identifier: MIT
#include "transport/data_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/refused_allocations.h"

namespace owc_test {
namespace {

std::string PeekAll(owc::WCDataStream& s, uint32_t max) {
  std::string out(max, '\0');
  out.resize(s.Peek(&out[0], max));
  return out;
}

// The limit counts memory: every chunk costs its bytes and a fixed overhead, so that many
// small chunks cannot hold far more than the limit.
TEST(DataStreamTest, ChunksArePeekedAndConsumedAcrossWithinTheLimitAndMemory) {
  using owc::WCDataStream;
  WCDataStream s;
  s.SetLimit(static_cast<uint32_t>(WCDataStream::ChunkCost(3) + WCDataStream::ChunkCost(2)));
  ASSERT_TRUE(s.Add("abc", 3));
  ASSERT_TRUE(s.Add("de", 2));
  EXPECT_FALSE(s.Add("f", 1));  // one byte, but a chunk's overhead past the limit
  EXPECT_EQ(WCDataStream::ChunkCost(3) + WCDataStream::ChunkCost(2), s.GetHeld());
  EXPECT_EQ("abcd", PeekAll(s, 4));
  EXPECT_EQ(4u, s.Consume(4));
  // A chunk read in part holds its whole copy until it is read to the end.
  EXPECT_EQ(WCDataStream::ChunkCost(2), s.GetHeld());
  owc::WCDataStreamNode* head = s.GetHead();  // as the sender reads it
  ASSERT_NE(nullptr, head);
  EXPECT_EQ('e', head->GetData(true)[0]);
  // Without memory for the node, its copy of the bytes or its list entry, nothing is added.
  LogCapture log;
  EXPECT_EQ(std::vector<std::string>{},  // quietly
            FailuresWhenRefused(log, {0, 1, 2}, [&] { return s.Add("f", 1); }));
  EXPECT_FALSE(s.Add("fghij", 5));
  ASSERT_TRUE(s.Add("fgh", 3));
  EXPECT_EQ("efgh", PeekAll(s, 10));
  s.Clear();
  EXPECT_EQ(nullptr, s.GetHead());
  EXPECT_EQ(0u, s.GetTotal());
  EXPECT_EQ(0u, s.GetHeld());
}

// As the client thread drains a send stream that application threads fill.
TEST(DataStreamTest, ConcurrentAddAndConsumeKeepByteOrder) {
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
}  // namespace owc_test
