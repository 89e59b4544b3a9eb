// A connection's pending output: bytes queued in order, each message optionally held back
// until a release time (the delay fault), written out in as few system calls as possible.
#ifndef OWWIRED_OUT_BUFFER_H_
#define OWWIRED_OUT_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace owwired {

// Not thread-safe: one connection, one thread.
class OutBuffer {
 public:
  // Queues `bytes`, to be written not before `release_ms`. Release times never go backwards:
  // a time before the previous one is raised to it, so bytes leave in the order queued.
  void Append(std::string_view bytes, uint64_t release_ms);

  // Bytes queued and not yet consumed, released or not.
  size_t Pending() const { return data_.size() - head_; }

  // Bytes at the front that may be written at `now_ms`.
  size_t Releasable(uint64_t now_ms);

  // The earliest release time of bytes held back at `now_ms`, or 0 when none are held back.
  uint64_t NextRelease(uint64_t now_ms);

  const char* Front() const { return data_.data() + head_; }

  // Drops `count` written bytes from the front. REQUIRES: count <= Pending().
  void Consume(size_t count);

 private:
  struct Hold {
    uint64_t position;  // absolute offset of the first byte held
    uint64_t release_ms;
  };

  void DropReleasedHolds(uint64_t now_ms);

  std::string data_;
  size_t head_ = 0;
  uint64_t consumed_total_ = 0;  // absolute offset of data_[head_]
  uint64_t last_release_ms_ = 0;
  std::deque<Hold> holds_;
};

}  // namespace owwired

#endif  // OWWIRED_OUT_BUFFER_H_
