// SPDX-License-Identifier: MIT
// A connection's pending output: bytes queued in order, each message optionally held back
// until a release time (the delay fault), written out in as few system calls as possible.
#ifndef OWWIRED_OUT_BUFFER_H
#define OWWIRED_OUT_BUFFER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace owwired {

// Not thread-safe: one connection, one thread.
class OutBuffer {
 public:
  // Queues `bytes`, to be written not before `releaseMs`. Release times never go backwards:
  // a time before the previous one is raised to it, so bytes leave in the order queued.
  void Append(std::string_view bytes, uint64_t releaseMs);

  // Bytes queued and not yet consumed, released or not.
  size_t Pending() const { return mData.size() - mHead; }

  // Bytes at the front that may be written at `nowMs`.
  size_t Releasable(uint64_t nowMs);

  // The earliest release time of bytes held back at `nowMs`, or 0 when none are held back.
  uint64_t NextRelease(uint64_t nowMs);

  const char* Front() const { return mData.data() + mHead; }

  // Drops `count` written bytes from the front. REQUIRES: count <= Pending().
  void Consume(size_t count);

 private:
  struct Hold {
    uint64_t position;  // absolute offset of the first byte held
    uint64_t releaseMs;
  };

  void DropReleasedHolds(uint64_t nowMs);

  std::string mData;
  size_t mHead = 0;
  uint64_t mConsumedTotal = 0;  // absolute offset of mData[mHead]
  uint64_t mLastReleaseMs = 0;
  std::deque<Hold> mHolds;
};

}  // namespace owwired

#endif  // OWWIRED_OUT_BUFFER_H
