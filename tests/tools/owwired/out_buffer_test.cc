// SPDX-License-Identifier: MIT
#include "out_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace owc_test {
namespace {

using owwired::OutBuffer;

// Takes up to `limit` bytes from the front as one gathering write of at most `maxParts`
// parts would.
std::string Take(OutBuffer* buffer, size_t limit, int maxParts = 64) {
  iovec parts[64];
  const int count = buffer->Gather(parts, maxParts, limit);
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    bytes.append(static_cast<char*>(parts[i].iov_base), parts[i].iov_len);
  }
  buffer->Consume(bytes.size());
  return bytes;
}

std::string TakeReleasable(OutBuffer* buffer, uint64_t now) {
  return Take(buffer, buffer->Releasable(now));
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

// Writes that stop anywhere (inside a piece, at a piece's end, after a few parts) keep the
// rest in order, whether it was copied or borrowed, across the compaction of a copied piece.
TEST(OutBufferTest, PartialWritesKeepTheRestAcrossCompaction) {
  std::string big;
  for (int i = 0; i < 3 << 20; ++i) big += static_cast<char>('a' + i % 26);
  const std::string borrowed(70000, 'b');
  struct Case {
    size_t writeSize;
    int maxParts;
  } cases[] = {{700001, 64}, {5, 64}, {65536, 2}, {1, 1}};
  for (const Case& c : cases) {
    OutBuffer buffer;
    buffer.Append(big.substr(0, 1 << 20), 0);
    buffer.AppendBorrowed(borrowed, 0);
    buffer.Append("head", 0);
    buffer.AppendBorrowed(borrowed, 0);
    buffer.Append(big.substr(1 << 20), 0);
    std::string out;
    bool tail = false;
    while (buffer.Pending() > 0) {
      out += Take(&buffer, std::min(buffer.Releasable(0), c.writeSize), c.maxParts);
      if (!tail && out.size() >= 1400002) {
        buffer.Append("tail", 0);
        tail = true;
      }
    }
    std::string want = big.substr(0, 1 << 20) + borrowed + "head" + borrowed + big.substr(1 << 20);
    EXPECT_TRUE(out == want + "tail") << c.writeSize << " / " << c.maxParts;
  }
}

}  // namespace
}  // namespace owc_test
