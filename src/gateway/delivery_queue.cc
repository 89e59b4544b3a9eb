// SPDX-License-Identifier: MIT
#include "gateway/delivery_queue.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform/spin.h"
#include "runtime/alloc_hook.h"
#include "runtime/tick_time.h"
#include "runtime/trace_log.h"

namespace owc {

namespace {

// A new[] copy of a NUL-terminated text; nullptr when memory ran out.
char* CopyText(const char* text) {
  size_t size = std::strlen(text) + 1;
  char* copy = NewArrayOrNull<char>(size);
  if (copy != nullptr) std::memcpy(copy, text, size);
  return copy;
}

// "<base><ending>" in a fresh array of base length + 10 characters; nullptr when memory
// ran out.
char* NewDerivedName(const char* base, const char* ending) {
  size_t size = std::strlen(base) + 10;
  char* name = NewArrayOrNull<char>(size);
  if (name != nullptr) std::snprintf(name, size, "%s%s", base, ending);
  return name;
}

// Gives `to` its own copies of the names and data of `from`, each only when present.
// Returns the failure's log text, or nullptr; on failure `to` holds what was copied.
const char* CopyOwnedParts(const HOBWBlockQElt& from, HOBWBlockQElt& to) {
  if (from.mFName != nullptr) {
    to.mFName = CopyText(from.mFName);
    if (to.mFName == nullptr)
      return "HOBWQueueThread::EnqDataBlock qElt->mFName new char [] failed";
  }
  if (from.mParentFName != nullptr) {
    to.mParentFName = CopyText(from.mParentFName);
    if (to.mParentFName == nullptr) {
      return "HOBWQueueThread::EnqDataBlock qElt->mParentFName new char [] failed";
    }
  }
  if (from.mData != nullptr && from.mDataLen != 0) {
    to.mData = NewArrayOrNull<uint8_t>(from.mDataLen);
    if (to.mData == nullptr) {
      return "HOBWQueueThread::EnqDataBlock qElt->mData new unsigned char [] failed";
    }
    std::memcpy(to.mData, from.mData, from.mDataLen);
    to.mDataLen = from.mDataLen;
  }
  return nullptr;
}

// What a queued record holds against the queue's limit: its data, its names and its
// bookkeeping, so that a server of one-byte blocks cannot queue far more than the limit.
uint64_t RecordBytes(const HOBWBlockQElt& record) {
  uint64_t bytes = HOBWQueueThread::kRecordOverhead;
  if (record.mData != nullptr) bytes += record.mDataLen;
  if (record.mFName != nullptr) bytes += std::strlen(record.mFName) + 1;
  if (record.mParentFName != nullptr) bytes += std::strlen(record.mParentFName) + 1;
  return bytes;
}

}  // namespace

HOBWQueueThread::~HOBWQueueThread() {
  Stop(true);
  ClearHTMLRecord();
}

void HOBWQueueThread::SetCallback(HOBWCallback callback, uintptr_t user) {
  mCallback = callback;
  mUser = user;
}

HOBWQueuedBlock* HOBWQueueThread::CopyBlock(const HOBWBlockQElt& record,
                                            std::unique_ptr<WCXMLWireMsg> owner) {
  HOBWQueuedBlock* block = NewOrNull<HOBWQueuedBlock>();
  if (block == nullptr) {
    TraceLog(kLevelFailure, "HOBWQueueThread::EnqDataBlock new HOBWBlockQElt failed");
    return nullptr;
  }
  block->record = record;
  block->record.mFName = block->record.mParentFName = nullptr;
  HOBWBlockQElt copied = record;  // what CopyOwnedParts copies
  if (owner) {
    copied.mData = nullptr;  // the data stays where the message holds it
    block->owner = std::move(owner);
  } else {
    block->record.mData = nullptr;
    block->record.mDataLen = 0;
  }
  const char* failure = CopyOwnedParts(copied, block->record);
  if (failure == nullptr) return block;
  TraceLog(kLevelFailure, failure);
  DeleteQueuedBlock(block);
  return nullptr;
}

void HOBWQueueThread::SetLimit(uint32_t maxBytes) {
  mLimit = maxBytes != 0 ? maxBytes : kDefaultLimitBytes;
  mXMLRDFPair.SetFileLimit(mLimit);
}

bool HOBWQueueThread::EnqDataBlock(const HOBWBlockQElt& record,
                                   std::unique_ptr<WCXMLWireMsg> owner) {
  HOBWQueuedBlock* elt = CopyBlock(record, std::move(owner));
  if (elt == nullptr) return false;
  uint64_t bytes = RecordBytes(elt->record);
  bool added;
  {
    NamedLock lock(mMtxRXQ);
    added = mRXQ.AddTail(elt) != nullptr;
    if (added) {
      mQueuedBytes += bytes;
      ++mEnqueued;
    }
  }
  if (!added) {
    TraceLog(kLevelFailure, "HOBWQueueThread::EnqDataBlock mRXQ.AddTail failed");
    DeleteQueuedBlock(elt);
    return false;
  }
  Signal();
  return true;
}

uint32_t HOBWQueueThread::GetQueueCount() {
  NamedLock lock(mMtxRXQ);
  return mRXQ.GetCount();
}

uint64_t HOBWQueueThread::GetQueuedBytes() {
  NamedLock lock(mMtxRXQ);
  return mQueuedBytes;
}

uint64_t HOBWQueueThread::GetEnqueuedCount() {
  NamedLock lock(mMtxRXQ);
  return mEnqueued;
}

uint64_t HOBWQueueThread::GetDeliveredCount() {
  NamedLock lock(mMtxRXQ);
  return mDelivered;
}

bool HOBWQueueThread::IsIdle() {
  NamedLock lock(mMtxRXQ);
  return mDelivered == mEnqueued;
}

void HOBWQueueThread::ResetCounts() {
  NamedLock lock(mMtxRXQ);
  mQueuedBytes = 0;
  mEnqueued = 0;
  mDelivered = 0;
}

// A record counts until its callback has returned: its memory is only freed then, and an
// acknowledgement after delivery waits for that return.
void HOBWQueueThread::NoteDelivered(uint64_t bytes) {
  {
    NamedLock lock(mMtxRXQ);
    mQueuedBytes -= bytes;
    ++mDelivered;
  }
  if (mDeliveryHook != nullptr) mDeliveryHook(mHookUser);
  mDrainWake.Set();
}

HOBWQueuedBlock* HOBWQueueThread::TakeHead() {
  NamedLock lock(mMtxRXQ);
  return mRXQ.IsEmpty() ? nullptr : mRXQ.RemoveHead();
}

bool HOBWQueueThread::HasQueued() {
  NamedLock lock(mMtxRXQ);
  return !mRXQ.IsEmpty();
}

// On a quiet virtual machine, waking a thread on an idle processor costs more than an
// exchange with the server, and every hop of a story pays it while the processors idle
// between hops. A delivery thread that spins for the block its acknowledgement brings
// keeps its processor awake for the other hops too, and whole stories come markedly sooner.
// A spin that runs out sleeps on: the block may come later, or never when the feed pauses.
// Where spins keep running out (a far server, a feed that pauses after each story) or
// losing the processor (a busy machine), the next waits sleep (see SpinBackoff).
void HOBWQueueThread::WaitForBlock(bool owed) {
  if (!owed || !mCrowded.Allows() || !mRanOut.Allows()) {
    WaitSignal();
    return;
  }
  mOwedBlockSpins.fetch_add(1, std::memory_order_relaxed);
  bool caught = false;
  const SpinOutcome outcome = SpinUntil(
      [this, &caught] {
        caught = HasQueued();
        return caught || IsStopRequested() != 0;
      },
      mOwedBlockSpinUs, mCrowdedUs);
  mCrowded.Note(outcome == SpinOutcome::kCrowded);
  mRanOut.Note(outcome == SpinOutcome::kNothing);
  if (caught) {
    mCaughtSpinning.fetch_add(1, std::memory_order_relaxed);
  } else {
    WaitSignal();  // at once after a stop
  }
}

uint32_t HOBWQueueThread::Run() {
  TraceLog(kLevelProgress, "HOBWQueueThread::Run thread started");
  // The event is reset before the queue is drained, so a block queued meanwhile (or
  // before the thread started, when there was no event to set) is never left waiting.
  while (IsStopRequested() == 0) {
    ResetSignal();
    bool delivered = false;
    while (IsStopRequested() == 0) {
      HOBWQueuedBlock* elt = TakeHead();
      if (elt == nullptr) break;
      delivered = true;
      // The callback may change the record's fields: its size is taken before.
      uint64_t bytes = RecordBytes(elt->record);
      if (mMode == kModeHTML || mMode == kModeRawAndHTML) RenderOrDropStory(elt->record);
      SendToCallback(&elt->record);
      DeleteQueuedBlock(elt);
      NoteDelivered(bytes);
    }
    if (IsStopRequested() == 0) WaitForBlock(delivered && mSpinForOwedBlocks);
  }
  DiscardQueued();
  TraceLog(kLevelProgress, "HOBWQueueThread::Run thread terminated");
  mDrainWake.Set();
  return 0;
}

// Memory running out costs the story, as a refused block does: the raw block is still
// delivered, and the next story starts a new pair.
void HOBWQueueThread::RenderOrDropStory(const HOBWBlockQElt& record) {
  try {
    ProcessRXDataBlock(record);
  } catch (const std::bad_alloc&) {
    TraceLog(kLevelFailure, "HOBWQueueThread::Run out of memory, story discarded");
    mXMLRDFPair.Reset();
    ClearHTMLRecord();
  }
}

// Unless the session acknowledges after delivery, it acknowledged these blocks: the server
// will not send them again.
void HOBWQueueThread::DiscardQueued() {
  uint32_t discarded;
  {
    NamedLock lock(mMtxRXQ);
    discarded = mRXQ.GetCount();
    mRXQ.DeleteAll();
    mQueuedBytes = 0;
  }
  if (discarded != 0) {
    TraceLogF(kLevelFailure, "HOBWQueueThread::Run %u queued blocks discarded", discarded);
  }
}

// The time is taken on the module clock, so a stalled application is measured the same
// way as every other time-out of the module.
void HOBWQueueThread::CallTimed(HOBWBlockQElt* record, const char* slowFormat) {
  if (mCallback == nullptr) return;
  TickTime before;
  before.SetNow();
  mCallback(record, mUser);
  TickTime after;
  after.SetNow();
  uint32_t took = after.ElapsedMs(before);
  if (took > kSlowCallbackMs) TraceLogF(kLevelFailure, slowFormat, took);
}

void HOBWQueueThread::SendToCallback(HOBWBlockQElt* elt) {
  if (mMode == kModeRaw || mMode == kModeRawAndHTML) {
    CallTimed(elt, "HOBWQueueThread::SendToCallback long time in application callback, %u ms");
  }
  if (mHTMLRecord.mDataLen == 0) return;
  mHTMLRecord.mFirstBlock = 1;
  mHTMLRecord.mLastBlock = 1;
  mHTMLRecord.mBlockNum = 0;
  CallTimed(&mHTMLRecord,
            "HOBWQueueThread::SendToCallback long time in application callback for HTML, %u ms");
  ClearHTMLRecord();
}

void HOBWQueueThread::FillHTMLRecord(const char* baseName, const uint8_t* html, uint32_t htmlLen,
                                     uint32_t sessionID) {
  ClearHTMLRecord();
  mHTMLRecord.mParentFName = NewDerivedName(baseName, ".xml");
  if (mHTMLRecord.mParentFName == nullptr) {
    TraceLog(kLevelFailure,
             "HOBWQueueThread::ProcessRXDataBlock new char [] for mParentFName failed");
  }
  mHTMLRecord.mFName = NewDerivedName(baseName, ".htm");
  if (mHTMLRecord.mFName == nullptr) {
    TraceLog(kLevelFailure, "HOBWQueueThread::ProcessRXDataBlock new char [] for mFName failed");
  }
  mHTMLRecord.mData = const_cast<uint8_t*>(html);
  mHTMLRecord.mDataLen = htmlLen;
  mHTMLRecord.mSessionID = sessionID;
}

// The data pointer is dropped, not freed: the text belongs to the renderer.
void HOBWQueueThread::ClearHTMLRecord() {
  delete[] mHTMLRecord.mFName;
  delete[] mHTMLRecord.mParentFName;
  mHTMLRecord = HOBWBlockQElt{};
}

}  // namespace owc
