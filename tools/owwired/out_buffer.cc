#include "out_buffer.h"

namespace owwired {
namespace {

// Compact only once the consumed front is large and most of the storage, so the common case
// (the whole buffer written at once) costs a clear and never a move.
constexpr size_t kCompactThreshold = 1 << 20;

}  // namespace

void OutBuffer::Append(std::string_view bytes, uint64_t release_ms) {
  if (release_ms < last_release_ms_) release_ms = last_release_ms_;
  if (release_ms > last_release_ms_) {
    holds_.push_back({consumed_total_ + Pending(), release_ms});
    last_release_ms_ = release_ms;
  }
  data_.append(bytes.data(), bytes.size());
}

void OutBuffer::DropReleasedHolds(uint64_t now_ms) {
  while (!holds_.empty() && holds_.front().release_ms <= now_ms) holds_.pop_front();
}

size_t OutBuffer::Releasable(uint64_t now_ms) {
  DropReleasedHolds(now_ms);
  if (holds_.empty()) return Pending();
  return static_cast<size_t>(holds_.front().position - consumed_total_);
}

uint64_t OutBuffer::NextRelease(uint64_t now_ms) {
  DropReleasedHolds(now_ms);
  return holds_.empty() ? 0 : holds_.front().release_ms;
}

void OutBuffer::Consume(size_t count) {
  head_ += count;
  consumed_total_ += count;
  if (head_ == data_.size()) {
    data_.clear();
    head_ = 0;
  } else if (head_ > kCompactThreshold && head_ > data_.size() / 2) {
    data_.erase(0, head_);
    head_ = 0;
  }
}

}  // namespace owwired
