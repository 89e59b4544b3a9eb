// SPDX-License-Identifier: MIT
// The per-thread block cache: what a caller stored survives every move between size
// classes, and a block may end its life on another thread than the one that made it.
#include "doc/block_cache.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace owc_test {
namespace {

// Fills n bytes with a pattern that tells each offset and each block apart.
void Fill(void* p, size_t n, unsigned seed) {
  auto* bytes = static_cast<unsigned char*>(p);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<unsigned char>(i * 31 + seed);
}
bool Holds(const void* p, size_t n, unsigned seed) {
  const auto* bytes = static_cast<const unsigned char*>(p);
  for (size_t i = 0; i < n; ++i) {
    if (bytes[i] != static_cast<unsigned char>(i * 31 + seed)) return false;
  }
  return true;
}

// Growing through every class and past the largest keeps the content, and so does
// shrinking; blocks taken back from the lists are distinct while alive.
TEST(BlockCacheTest, ReallocationKeepsContentThroughEveryClassAndBeyond) {
  for (int round = 0; round < 3; ++round) {  // the later rounds draw on the lists
    size_t size = 1;
    void* p = owc::CacheAllocate(size);
    ASSERT_NE(nullptr, p);
    Fill(p, size, 7);
    for (size_t next : {16u, 33u, 64u, 100u, 1000u, 4096u, 4097u, 70000u, 200000u}) {
      p = owc::CacheReallocate(p, next);
      ASSERT_NE(nullptr, p);
      ASSERT_TRUE(Holds(p, size, 7)) << size << " -> " << next;
      Fill(p, next, 7);
      size = next;
    }
    p = owc::CacheReallocate(p, 10);
    ASSERT_NE(nullptr, p);
    EXPECT_TRUE(Holds(p, 10, 7));
    owc::CacheRelease(p);
    void* kept = owc::CacheAllocate(1000);
    Fill(kept, 1000, 9);
    kept = owc::CacheReallocate(kept, 500);  // kept in its class; moved under a sanitizer
    EXPECT_TRUE(Holds(kept, 500, 9));
    owc::CacheRelease(kept);
    std::vector<void*> live;
    for (unsigned i = 0; i < 64; ++i) {
      live.push_back(owc::CacheAllocate(40 + i * 60));
      Fill(live.back(), 40 + i * 60, i);
    }
    for (unsigned i = 0; i < 64; ++i) EXPECT_TRUE(Holds(live[i], 40 + i * 60, i)) << i;
    for (void* q : live) owc::CacheRelease(q);
  }
  owc::CacheRelease(nullptr);
}

// A document built on one thread and destroyed on another, over and over, and threads that
// end with full lists: every block goes back whole (the sanitizers and leak checks watch).
TEST(BlockCacheTest, BlocksFreedOnOtherThreadsAndThreadsEndingWithFullLists) {
  for (int round = 0; round < 4; ++round) {
    std::vector<void*> made;
    std::thread maker([&] {
      for (unsigned i = 0; i < 300; ++i) {
        made.push_back(owc::CacheAllocate(32u << (i % 8)));
        Fill(made.back(), 32u << (i % 8), i);
      }
      // Leaves this thread's lists full as it ends.
      for (unsigned i = 0; i < 100; ++i) owc::CacheRelease(owc::CacheAllocate(2048));
    });
    maker.join();
    std::thread freer([&] {
      for (unsigned i = 0; i < made.size(); ++i) {
        EXPECT_TRUE(Holds(made[i], 32u << (i % 8), i)) << i;
        owc::CacheRelease(made[i]);
      }
      std::string text(3000, 'x');  // drawn from what the other thread freed
      void* p = owc::CacheAllocate(text.size());
      std::memcpy(p, text.data(), text.size());
      EXPECT_EQ(0, std::memcmp(p, text.data(), text.size()));
      owc::CacheRelease(p);
    });
    freer.join();
  }
}

}  // namespace
}  // namespace owc_test
