// SPDX-License-Identifier: MIT
#include "out_buffer.h"

namespace owwired {
namespace {

// A copied piece that keeps growing while its front is written (a client reading slowly
// while answers are queued) drops its written front once that is large and most of it.
constexpr size_t kCompactThreshold = 1 << 20;

}  // namespace

void OutBuffer::NoteRelease(uint64_t releaseMs) {
  if (releaseMs < mLastReleaseMs) releaseMs = mLastReleaseMs;
  if (releaseMs > mLastReleaseMs) {
    mHolds.push_back({mConsumedTotal + Pending(), releaseMs});
    mLastReleaseMs = releaseMs;
  }
}

void OutBuffer::Append(std::string_view bytes, uint64_t releaseMs) {
  NoteRelease(releaseMs);
  if (bytes.empty()) return;
  if (mPieces.empty() || mPieces.back().borrowed != nullptr) mPieces.emplace_back();
  Piece& piece = mPieces.back();
  piece.owned.append(bytes.data(), bytes.size());
  piece.size += bytes.size();
  mPending += bytes.size();
}

void OutBuffer::AppendBorrowed(std::string_view bytes, uint64_t releaseMs) {
  NoteRelease(releaseMs);
  if (bytes.empty()) return;
  Piece& piece = mPieces.emplace_back();
  piece.borrowed = bytes.data();
  piece.size = bytes.size();
  mPending += bytes.size();
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

int OutBuffer::Gather(iovec* parts, int maxParts, size_t limit) const {
  int count = 0;
  size_t skip = mFrontTaken;
  for (auto piece = mPieces.begin(); piece != mPieces.end() && count < maxParts && limit > 0;
       ++piece) {
    size_t size = piece->size - skip;
    if (size > limit) size = limit;
    parts[count].iov_base = const_cast<char*>(piece->Data() + skip);
    parts[count].iov_len = size;
    ++count;
    limit -= size;
    skip = 0;
  }
  return count;
}

void OutBuffer::Consume(size_t count) {
  mConsumedTotal += count;
  mPending -= count;
  while (count > 0) {
    Piece& front = mPieces.front();
    size_t left = front.size - mFrontTaken;
    if (count < left) {
      mFrontTaken += count;
      break;
    }
    count -= left;
    mPieces.pop_front();
    mFrontTaken = 0;
  }
  if (mPieces.empty()) return;
  Piece& front = mPieces.front();
  if (front.borrowed == nullptr && mFrontTaken > kCompactThreshold &&
      mFrontTaken > front.size / 2) {
    front.owned.erase(0, mFrontTaken);
    front.size -= mFrontTaken;
    mFrontTaken = 0;
  }
}

}  // namespace owwired
