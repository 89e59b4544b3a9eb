// SPDX-License-Identifier: MIT
#include "out_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace owc_test {
namespace {

using owwired::OutBuffer;

std::string TakeReleasable(OutBuffer* buffer, uint64_t now) {
  const size_t size = buffer->Releasable(now);
  std::string bytes(buffer->Front(), size);
  buffer->Consume(size);
  return bytes;
}

// A delayed answer holds back everything queued after it, even what is due earlier: the
// client must see the server's messages in the order they were queued.
TEST(OutBufferTest, BytesLeaveInTheOrderQueuedWhateverTheirReleaseTime) {
  OutBuffer buffer;
  buffer.Append("one", 100);
  buffer.Append("two", 200);
  buffer.Append("three", 150);
  EXPECT_EQ(0u, buffer.Releasable(99));
  EXPECT_EQ(100u, buffer.NextRelease(99));
  EXPECT_EQ("one", TakeReleasable(&buffer, 100));
  EXPECT_EQ(0u, buffer.Releasable(199));
  EXPECT_EQ("twothree", TakeReleasable(&buffer, 200));
}

TEST(OutBufferTest, PartialWritesKeepTheRestAcrossCompaction) {
  OutBuffer buffer;
  std::string big;
  for (int i = 0; i < 3 << 20; ++i) big += static_cast<char>('a' + i % 26);
  buffer.Append(big, 0);
  std::string out;
  while (buffer.Pending() > 0) {
    const size_t size = std::min<size_t>(buffer.Releasable(0), 700001);
    out.append(buffer.Front(), size);
    buffer.Consume(size);
    if (out.size() == 1400002) buffer.Append("tail", 0);
  }
  EXPECT_TRUE(out == big + "tail");
}

}  // namespace
}  // namespace owc_test
