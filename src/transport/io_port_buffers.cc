// SPDX-License-Identifier: MIT
// The overflow and auxiliary buffers and the callback list of IOPort.
#include <cstring>

#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"
#include "transport/io_port.h"

namespace owc {

bool IOPort::AddToOverflowBuf(const uint8_t* data, uint32_t n) {
  if (data == nullptr || n == 0) return true;
  uint64_t length = static_cast<uint64_t>(mOverflowLen) + n;
  uint8_t* buf = length <= UINT32_MAX ? NewArrayOrNull<uint8_t>(length) : nullptr;
  if (buf == nullptr) {
    TraceLog(kLevelFailure, "IOPort::AddToOverflowBuf new UBYTE [] failed.\n");
    return false;
  }
  if (mOverflowLen != 0) std::memcpy(buf, mOverflowBuf, mOverflowLen);
  std::memcpy(buf + mOverflowLen, data, n);
  delete[] mOverflowBuf;
  mOverflowBuf = buf;
  mOverflowLen = static_cast<uint32_t>(length);
  return true;
}

// The tail is moved to the front in place: removing sent bytes needs no memory, so it
// cannot fail after a partial send and leave bytes to be sent twice.
bool IOPort::WroteOverflowBuf(uint32_t n) {
  if (n == 0 || mOverflowLen == 0) return true;
  if (n > mOverflowLen) {
    TraceLog(kLevelFailure, "IOPort::WroteOverflowBuf failed bytes written > unsent data len.\n");
    return false;
  }
  if (n == mOverflowLen) {
    ClearOverflow();
    return true;
  }
  mOverflowLen -= n;
  std::memmove(mOverflowBuf, mOverflowBuf + n, mOverflowLen);
  return true;
}

void IOPort::ClearOverflow() {
  delete[] mOverflowBuf;
  mOverflowBuf = nullptr;
  mOverflowLen = 0;
}

bool IOPort::AuxBufInit(uint32_t size) {
  delete[] mAuxBuf;
  mAuxBuf = nullptr;
  mAuxSize = 0;
  mAuxUsed = 0;
  if (size == 0) return true;
  mAuxBuf = NewArrayOrNull<uint8_t>(size);
  if (mAuxBuf == nullptr) {
    TraceLog(kLevelFailure, "IOPort::AuxBufInit new UBYTE [] failed.\n");
    return false;
  }
  mAuxSize = size;
  return true;
}

bool IOPort::AuxBufPut(uint32_t offset, const uint8_t* data, uint32_t n) {
  if (static_cast<uint64_t>(offset) + n > mAuxSize) return false;
  if (n != 0) {
    if (data == nullptr) return false;
    std::memcpy(mAuxBuf + offset, data, n);
  }
  mAuxUsed = offset + n;
  return true;
}

bool IOPort::AuxBufPutByte(uint32_t offset, uint8_t byte) {
  if (offset >= mAuxSize) return false;
  mAuxBuf[offset] = byte;
  mAuxUsed = offset + 1;
  return true;
}

uint32_t IOPort::AuxBufSetUsed(uint32_t n) {
  mAuxUsed = n < mAuxSize ? n : mAuxSize;
  return mAuxSize;
}

bool IOPort::Register(const IOPortCallbackInfo& info) {
  NamedLock lock(mMtxData);
  auto* copy = NewOrNull<IOPortCallbackInfo>(info);
  if (copy == nullptr) {
    TraceLog(kLevelFailure, "IOPort::Register new IOPortCallbackInfo failed.\n");
    return false;
  }
  if (mCallbacks.AddTail(copy) == nullptr) {
    delete copy;
    TraceLog(kLevelFailure, "IOPort::Register AddTail failed.\n");
    return false;
  }
  return true;
}

void IOPort::Unregister(const IOPortCallbackInfo& info) {
  NamedLock lock(mMtxData);
  for (auto pos = mCallbacks.GetHeadPosition(); pos != nullptr;) {
    auto current = pos;
    IOPortCallbackInfo* registered = mCallbacks.GetNext(pos);
    if (*registered == info) {
      delete registered;
      mCallbacks.RemoveAt(current);
      return;
    }
  }
}

void IOPort::Notify(uint32_t value1, uint32_t value2) {
  NamedLock lock(mMtxData);
  for (auto pos = mCallbacks.GetHeadPosition(); pos != nullptr;) {
    const IOPortCallbackInfo* info = mCallbacks.GetNext(pos);
    if (info->mFunction != nullptr) info->mFunction(info->mContext, value1, value2);
  }
}

}  // namespace owc
