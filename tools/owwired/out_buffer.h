// SPDX-License-Identifier: MIT
// A connection's pending output: bytes queued in order, each message optionally held back
// until a release time (the delay fault), written out in as few system calls as possible.
// Bytes that outlive their sending (a feed file's data) are queued by reference and written
// from where they lie: a block costs no copy of its data on the server.
#ifndef OWWIRED_OUT_BUFFER_H
#define OWWIRED_OUT_BUFFER_H

#include <sys/uio.h>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace owwired {

// Not thread-safe: one connection, one thread.
class OutBuffer {
 public:
  // Queues a copy of `bytes`, to be written not before `releaseMs`. Release times never go
  // backwards: a time before the previous one is raised to it, so bytes leave in the order
  // queued.
  void Append(std::string_view bytes, uint64_t releaseMs);
  // As Append, without the copy. REQUIRES: the bytes stay where they are until consumed.
  void AppendBorrowed(std::string_view bytes, uint64_t releaseMs);

  // Bytes queued and not yet consumed, released or not.
  size_t Pending() const { return mPending; }

  // Bytes at the front that may be written at `nowMs`.
  size_t Releasable(uint64_t nowMs);

  // The earliest release time of bytes held back at `nowMs`, or 0 when none are held back.
  uint64_t NextRelease(uint64_t nowMs);

  // Describes up to `limit` bytes from the front in at most `maxParts` parts, for one
  // gathering write; returns the number of parts.
  int Gather(iovec* parts, int maxParts, size_t limit) const;

  // Drops `count` written bytes from the front. REQUIRES: count <= Pending().
  void Consume(size_t count);

 private:
  struct Hold {
    uint64_t position;  // absolute offset of the first byte held
    uint64_t releaseMs;
  };
  // Copied bytes (consecutive copies share one piece) or borrowed ones.
  struct Piece {
    std::string owned;
    const char* borrowed = nullptr;
    size_t size = 0;
    const char* Data() const { return borrowed != nullptr ? borrowed : owned.data(); }
  };

  void NoteRelease(uint64_t releaseMs);
  void DropReleasedHolds(uint64_t nowMs);

  std::deque<Piece> mPieces;
  size_t mFrontTaken = 0;  // bytes of the front piece already written
  size_t mPending = 0;
  uint64_t mConsumedTotal = 0;  // absolute offset of the first pending byte
  uint64_t mLastReleaseMs = 0;
  std::deque<Hold> mHolds;
};

}  // namespace owwired

#endif  // OWWIRED_OUT_BUFFER_H
