#include "out_buffer.h"

#include <gtest/gtest.h>

#include <string>

namespace owwired {
namespace {

std::string TakeReleasable(OutBuffer* buffer, uint64_t now) {
  size_t size = buffer->Releasable(now);
  std::string bytes(buffer->Front(), size);
  buffer->Consume(size);
  return bytes;
}

TEST(OutBufferTest, UndelayedBytesAreReleasableAtOnce) {
  OutBuffer buffer;
  buffer.Append("abc", 0);
  buffer.Append("de", 0);
  EXPECT_EQ(buffer.Pending(), 5u);
  EXPECT_EQ(buffer.NextRelease(0), 0u);
  buffer.Consume(2);
  EXPECT_EQ(TakeReleasable(&buffer, 0), "cde");
  EXPECT_EQ(buffer.Pending(), 0u);
}

TEST(OutBufferTest, DelayedBytesWaitForTheirTimeInOrder) {
  OutBuffer buffer;
  buffer.Append("one", 100);
  buffer.Append("two", 200);
  buffer.Append("three", 150);  // cannot overtake "two"
  EXPECT_EQ(buffer.Releasable(99), 0u);
  EXPECT_EQ(buffer.NextRelease(99), 100u);
  EXPECT_EQ(TakeReleasable(&buffer, 100), "one");
  EXPECT_EQ(buffer.NextRelease(100), 200u);
  EXPECT_EQ(buffer.Releasable(199), 0u);
  EXPECT_EQ(TakeReleasable(&buffer, 200), "twothree");
}

TEST(OutBufferTest, PartialWritesKeepTheRestAcrossCompaction) {
  OutBuffer buffer;
  std::string big;
  for (int i = 0; i < 3 << 20; ++i) big += static_cast<char>('a' + i % 26);
  buffer.Append(big, 0);
  std::string out;
  while (buffer.Pending() > 0) {
    size_t size = std::min<size_t>(buffer.Releasable(0), 700001);
    out.append(buffer.Front(), size);
    buffer.Consume(size);
    if (out.size() == 1400002) buffer.Append("tail", 0);
  }
  EXPECT_EQ(out, big + "tail");
}

}  // namespace
}  // namespace owwired
