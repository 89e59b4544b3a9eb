// SPDX-License-Identifier: MIT
// A thread-safe first-in, first-out byte queue made of copied chunks. Bytes go in as
// whole chunks, in the sizes in which they arrive, and come out from the front in any
// amount, across chunk boundaries. A chunk is never split or merged, so a consumer that
// writes chunk by chunk hands the socket whole message images.
#ifndef OWCLIENT_TRANSPORT_DATA_STREAM_H
#define OWCLIENT_TRANSPORT_DATA_STREAM_H

#include <cstdint>

#include "runtime/dl_list.h"
#include "runtime/named_mutex.h"

namespace owc {

// One chunk: a private copy of its bytes and how many of them were taken already.
class WCDataStreamNode {
 public:
  WCDataStreamNode() = default;
  WCDataStreamNode(const WCDataStreamNode&) = delete;
  WCDataStreamNode& operator=(const WCDataStreamNode&) = delete;
  ~WCDataStreamNode();

  // Replaces the content with a copy of data; null or 0 bytes leave an empty node.
  // False when memory ran out (the node is then empty).
  bool SetData(const void* data, uint32_t n);
  // The first byte of the chunk, or the first unread byte; null for an empty node.
  const uint8_t* GetData(bool fromReadPosition) const;
  uint32_t GetLength() const { return mLength; }
  uint32_t GetRemaining() const { return mLength - mReadOffset; }
  // Takes up to n bytes from the front; returns how many were taken.
  uint32_t Advance(uint32_t n);

 private:
  void Release();

  uint8_t* mData = nullptr;
  uint32_t mLength = 0;
  uint32_t mReadOffset = 0;  // never above mLength
};

// Owns its nodes.
class WCDataStreamNodeList : public DLList<WCDataStreamNode*> {
 public:
  WCDataStreamNodeList() = default;
  ~WCDataStreamNodeList() override;
};

// Every operation takes the stream's recursive lock. An owner that needs several calls to
// act as one (peek, parse, consume; or write the head chunk and consume it) holds the lock
// across them with Lock/Unlock.
class WCDataStream {
 public:
  WCDataStream() = default;
  WCDataStream(const WCDataStream&) = delete;
  WCDataStream& operator=(const WCDataStream&) = delete;
  ~WCDataStream() = default;

  // Appends a copy of n bytes as one chunk. Null or 0 bytes: true, nothing added. False
  // when memory ran out or the limit would be passed; the stream is then unchanged.
  bool Add(const void* data, uint32_t n);
  // Copies up to max bytes from the front to buffer without consuming; returns the count.
  uint32_t Peek(void* buffer, uint32_t max);
  // Drops up to n bytes from the front; returns the count.
  uint32_t Consume(uint32_t n);
  void Clear();
  // The oldest chunk, or null. The node stays valid while the caller holds the lock and
  // does not consume it completely.
  WCDataStreamNode* GetHead();
  // Unread bytes over all chunks.
  uint32_t GetTotal();
  // The memory the chunks hold: each chunk's whole copy (read or not) and its overhead.
  uint64_t GetHeld();
  // What a chunk of n bytes costs in memory: many small chunks cost far more than their
  // bytes (the node, its list entry and three allocations' headers).
  static uint64_t ChunkCost(uint32_t n) { return static_cast<uint64_t>(n) + kChunkOverhead; }

  // The most memory (GetHeld) the stream accepts, 0 (the default) for no limit.
  void SetLimit(uint32_t maxBytes);
  // True when a chunk of n bytes would take the stream past its limit.
  bool WouldPassLimit(uint32_t n);

  void Lock() OWC_ACQUIRE(mMtxStream) { mMtxStream.Lock(); }
  void Unlock() OWC_RELEASE(mMtxStream) { mMtxStream.Unlock(); }

 private:
  friend class WCDataStreamLock;
  // The node (16 bytes), its list entry (24) and the data copy, each with a 16-byte
  // allocation header and rounding: a measured 96 bytes on 64-bit glibc, rounded up.
  static constexpr uint32_t kChunkOverhead = 96;

  uint32_t Transfer(bool consume, uint8_t* buffer, uint32_t max);

  NamedMutex mMtxStream{"WCDataStream::mMtxStream"};
  uint32_t mTotal OWC_GUARDED_BY(mMtxStream) = 0;  // sum of the nodes' remaining bytes
  uint64_t mHeld OWC_GUARDED_BY(mMtxStream) = 0;   // sum of ChunkCost over the nodes' lengths
  WCDataStreamNodeList mNodes OWC_GUARDED_BY(mMtxStream);
  uint32_t mLimit OWC_GUARDED_BY(mMtxStream) = 0;
};

// Holds a stream's lock for a scope.
class OWC_SCOPED_CAPABILITY WCDataStreamLock {
 public:
  explicit WCDataStreamLock(WCDataStream& stream) OWC_ACQUIRE(stream.mMtxStream)
      : mStream(stream) {
    mStream.Lock();
  }
  ~WCDataStreamLock() OWC_RELEASE() { mStream.Unlock(); }
  WCDataStreamLock(const WCDataStreamLock&) = delete;
  WCDataStreamLock& operator=(const WCDataStreamLock&) = delete;

 private:
  WCDataStream& mStream;
};

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_DATA_STREAM_H
