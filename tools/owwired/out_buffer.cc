// SPDX-License-Identifier: MIT
#include "out_buffer.h"

namespace owwired {
namespace {

// Compact only once the consumed front is large and most of the storage, so the common case
// (the whole buffer written at once) costs a clear and never a move.
constexpr size_t kCompactThreshold = 1 << 20;

}  // namespace

void OutBuffer::Append(std::string_view bytes, uint64_t releaseMs) {
  if (releaseMs < mLastReleaseMs) releaseMs = mLastReleaseMs;
  if (releaseMs > mLastReleaseMs) {
    mHolds.push_back({mConsumedTotal + Pending(), releaseMs});
    mLastReleaseMs = releaseMs;
  }
  mData.append(bytes.data(), bytes.size());
}

void OutBuffer::DropReleasedHolds(uint64_t nowMs) {
  while (!mHolds.empty() && mHolds.front().releaseMs <= nowMs) mHolds.pop_front();
}

size_t OutBuffer::Releasable(uint64_t nowMs) {
  DropReleasedHolds(nowMs);
  if (mHolds.empty()) return Pending();
  return static_cast<size_t>(mHolds.front().position - mConsumedTotal);
}

uint64_t OutBuffer::NextRelease(uint64_t nowMs) {
  DropReleasedHolds(nowMs);
  return mHolds.empty() ? 0 : mHolds.front().releaseMs;
}

void OutBuffer::Consume(size_t count) {
  mHead += count;
  mConsumedTotal += count;
  if (mHead == mData.size()) {
    mData.clear();
    mHead = 0;
  } else if (mHead > kCompactThreshold && mHead > mData.size() / 2) {
    mData.erase(0, mHead);
    mHead = 0;
  }
}

}  // namespace owwired
