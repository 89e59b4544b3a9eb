// SPDX-License-Identifier: MIT
#include "transport/data_stream.h"

#include <cstring>

#include "runtime/alloc_hook.h"

namespace owc {

WCDataStreamNode::~WCDataStreamNode() { Release(); }

void WCDataStreamNode::Release() {
  delete[] mData;
  mData = nullptr;
  mLength = 0;
  mReadOffset = 0;
}

bool WCDataStreamNode::SetData(const void* data, uint32_t n) {
  Release();
  if (data == nullptr || n == 0) return true;
  mData = NewArrayOrNull<uint8_t>(n);
  if (mData == nullptr) return false;
  std::memcpy(mData, data, n);
  mLength = n;
  return true;
}

const uint8_t* WCDataStreamNode::GetData(bool fromReadPosition) const {
  if (mData == nullptr) return nullptr;
  return fromReadPosition ? mData + mReadOffset : mData;
}

uint32_t WCDataStreamNode::Advance(uint32_t n) {
  uint32_t remaining = GetRemaining();
  if (n > remaining) n = remaining;
  mReadOffset += n;
  return n;
}

WCDataStreamNodeList::~WCDataStreamNodeList() {
  while (!IsEmpty()) delete RemoveHead();
}

bool WCDataStream::Add(const void* data, uint32_t n) {
  NamedLock lock(mMtxStream);
  if (data == nullptr || n == 0) return true;
  // The one place where a stalled connection's memory is bounded.
  if (WouldPassLimit(n) || static_cast<uint64_t>(mTotal) + n > UINT32_MAX) return false;
  auto* node = NewOrNull<WCDataStreamNode>();
  if (node == nullptr) return false;
  if (!node->SetData(data, n) || mNodes.AddTail(node) == nullptr) {
    delete node;
    return false;
  }
  mTotal += n;
  mHeld += ChunkCost(n);
  return true;
}

bool WCDataStream::WouldPassLimit(uint32_t n) {
  NamedLock lock(mMtxStream);
  return mLimit != 0 && mHeld + ChunkCost(n) > mLimit;
}

uint64_t WCDataStream::GetHeld() {
  NamedLock lock(mMtxStream);
  return mHeld;
}

uint32_t WCDataStream::Peek(void* buffer, uint32_t max) {
  return Transfer(false, static_cast<uint8_t*>(buffer), max);
}

uint32_t WCDataStream::Consume(uint32_t n) { return Transfer(true, nullptr, n); }

void WCDataStream::Clear() {
  NamedLock lock(mMtxStream);
  Consume(mTotal);
}

WCDataStreamNode* WCDataStream::GetHead() {
  NamedLock lock(mMtxStream);
  return mNodes.IsEmpty() ? nullptr : mNodes.GetAt(mNodes.GetHeadPosition());
}

uint32_t WCDataStream::GetTotal() {
  NamedLock lock(mMtxStream);
  return mTotal;
}

void WCDataStream::SetLimit(uint32_t maxBytes) {
  NamedLock lock(mMtxStream);
  mLimit = maxBytes;
}

uint32_t WCDataStream::Transfer(bool consume, uint8_t* buffer, uint32_t max) {
  NamedLock lock(mMtxStream);
  uint32_t count = 0;
  for (auto pos = mNodes.GetHeadPosition(); pos != nullptr && count < max;) {
    auto current = pos;
    WCDataStreamNode* node = mNodes.GetNext(pos);
    uint32_t k = node->GetRemaining();
    if (k > max - count) k = max - count;
    if (buffer != nullptr && k != 0) std::memcpy(buffer + count, node->GetData(true), k);
    if (consume) {
      node->Advance(k);
      if (node->GetRemaining() == 0) {
        mHeld -= ChunkCost(node->GetLength());
        mNodes.RemoveAt(current);
        delete node;
      }
    }
    count += k;
  }
  if (consume) mTotal -= count;
  return count;
}

}  // namespace owc
