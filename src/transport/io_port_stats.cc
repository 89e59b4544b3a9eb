// SPDX-License-Identifier: MIT
#include "transport/io_port_stats.h"

#include <cstring>

#include "runtime/alloc_hook.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

constexpr uint32_t kCountersOffset = TickTime::kStoredSize;
constexpr uint32_t kNameOffset = kCountersOffset + 6 * 4;
static_assert(kNameOffset + IOPortStats::kStoredNameSize == IOPortStats::kStoredSize,
              "stored form layout");

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

void IOPortStats::Reset() {
  mStartTime.Clear();
  mRXTotal = mRXAverage = mRXRate = 0;
  mTXTotal = mTXAverage = mTXRate = 0;
}

bool IOPortStats::Store(uint8_t* out) const {
  if (out == nullptr) return false;
  mStartTime.Store(out, true);
  const uint32_t counters[6] = {mRXTotal, mRXAverage, mRXRate, mTXTotal, mTXAverage, mTXRate};
  for (int i = 0; i < 6; ++i) PutLe32(out + kCountersOffset + 4 * i, counters[i]);
  std::memset(out + kNameOffset, 0, kStoredNameSize);
  size_t length = mName.size() < kStoredNameSize ? mName.size() : kStoredNameSize - 1;
  std::memcpy(out + kNameOffset, mName.data(), length);
  return true;
}

bool IOPortStats::Load(const uint8_t* bytes, uint32_t size) {
  Reset();
  if (bytes == nullptr || size < kStoredSize) return false;
  mStartTime.Load(bytes, true);
  uint32_t* counters[6] = {&mRXTotal, &mRXAverage, &mRXRate, &mTXTotal, &mTXAverage, &mTXRate};
  for (int i = 0; i < 6; ++i) *counters[i] = GetLe32(bytes + kCountersOffset + 4 * i);
  const char* name = reinterpret_cast<const char*>(bytes + kNameOffset);
  // A stored name always ends with a NUL; a corrupt one is cut at the field's end.
  mName.assign(name, strnlen(name, kStoredNameSize));
  return true;
}

IOPortStatsList::~IOPortStatsList() { DeleteAll(); }

bool IOPortStatsList::AddStats(const IOPortStats& stats) {
  IOPortStats* copy = NewOrNull<IOPortStats>(stats);
  if (copy == nullptr) {
    TraceLog(kLevelFailure, "IOPortStatsList::AddStats new IOPortStats failed.\n");
    return false;
  }
  if (AddTail(copy) == nullptr) {
    delete copy;
    TraceLog(kLevelFailure, "IOPortStatsList::AddStats AddTail failed.\n");
    return false;
  }
  return true;
}

bool IOPortStatsList::Copy(const IOPortStatsList& other) {
  // Onto itself it keeps what it holds: emptying it first would lose what it was to copy.
  if (&other == this) return true;
  DeleteAll();
  for (Position pos = other.GetHeadPosition(); pos != nullptr;) {
    if (!AddStats(*other.GetNext(pos))) {
      TraceLog(kLevelFailure, "IOPortStatsList::Copy AddStat failed.\n");
      return false;
    }
  }
  return true;
}

void IOPortStatsList::DeleteAll() {
  while (!IsEmpty()) delete RemoveHead();
}

}  // namespace owc
