// SPDX-License-Identifier: MIT
// The delivery thread: takes the blocks the gateway session queued, in order, and hands
// them to the application callback; in the HTML modes it also delivers one HTML record
// per rendered story right after the block that completed it.
//
// Every queued block counts its data, names and bookkeeping against a byte limit that the session
// reads to hold its connection back; every delivery is counted and reported to the
// session (which acknowledges after delivery) and to a thread waiting for the queue to
// drain.
//
// Threads: EnqDataBlock, ResetCounts and the counters' getters are called by whichever
// thread runs a step of the session (this one included, from its delivery hook), IsIdle and
// GetDeliveredEvent by any; the configuration setters by the application's
// thread while the session (and so this thread) is stopped; the callback runs on this thread, one
// call at a time, with no lock held. mMtxRXQ guards mRXQ and the counters only while they
// are changed or read.
#ifndef OWCLIENT_GATEWAY_DELIVERY_QUEUE_H
#define OWCLIENT_GATEWAY_DELIVERY_QUEUE_H

#include <atomic>
#include <cstdint>
#include <memory>

#include "gateway/block_queue.h"
#include "gateway/pair_files.h"
#include "owclient/owclient.h"
#include "platform/event.h"
#include "runtime/named_mutex.h"
#include "runtime/spin_backoff.h"
#include "runtime/worker_thread.h"
#include "template/html_template.h"

namespace owc {

class HOBWQueueThread : public WorkerThread {
 public:
  // Output modes.
  enum : uint32_t { kModeRaw = 0, kModeHTML = 1, kModeRawAndHTML = 2 };
  // A callback taking longer than this is reported (and only reported).
  static constexpr uint32_t kSlowCallbackMs = 8000;
  static constexpr uint32_t kDefaultLimitBytes = 64u << 20;
  // What a queued block costs besides its data and names: the record (38 bytes), its list
  // entry (24), the session's owed ACK (16) and four allocations' headers and rounding.
  static constexpr uint32_t kRecordOverhead = 160;

  HOBWQueueThread() = default;
  ~HOBWQueueThread() override;

  void SetCallback(HOBWCallback callback, uintptr_t user);
  // Stores the mode. Modes other than 1 and 2 need no template: true. Modes 1 and 2
  // load the template and the optional translation table: false when they do not load.
  bool SetOutputMode(uint32_t mode, const char* tmpl, uint32_t tmplLen, const char* xlate,
                     uint32_t xlateLen);

  // The byte limit of the queue (read by the session) and of each story file joined for
  // rendering; 0 restores the default.
  void SetLimit(uint32_t maxBytes);
  uint32_t GetLimit() const { return mLimit; }
  uint32_t GetMode() const { return mMode; }
  // Called on this thread after every delivery, with no lock held, so that the session
  // acknowledges without waiting for its pause. May be null.
  using DeliveryHook = void (*)(uintptr_t user);
  void SetDeliveryHook(DeliveryHook hook, uintptr_t user) {
    mDeliveryHook = hook;
    mHookUser = user;
  }

  // On when the server sends the next file only once a delivery is acknowledged (the
  // session acknowledges after delivery): after a pass that delivered, the next block is
  // then owed to this thread within two exchanges with the server, and the thread spins for
  // it briefly before it sleeps. Set while the thread is stopped.
  void SetSpinForOwedBlocks(bool on) { mSpinForOwedBlocks = on; }

  // Queues a copy of the record (names and data copied once) and wakes the thread. The
  // caller keeps the record. With an owner, the message whose image holds the record's
  // data, the queue takes the message instead of copying the data. False, after a log
  // line, when memory ran out (the owner is then freed).
  bool EnqDataBlock(const HOBWBlockQElt& record, std::unique_ptr<WCXMLWireMsg> owner = nullptr);
  uint32_t GetQueueCount();
  // What the blocks queued and not yet delivered hold (the one in the callback included):
  // data, names and kRecordOverhead each.
  uint64_t GetQueuedBytes();
  // Records queued and records whose delivery returned, since ResetCounts.
  uint64_t GetEnqueuedCount();
  uint64_t GetDeliveredCount();
  // True when every queued record was delivered.
  bool IsIdle();
  // Zeroes the counters; before Start, while nothing is queued.
  void ResetCounts();
  // Set after every delivery and when the thread ends: a waiter resets it, then checks
  // IsIdle, then waits.
  Event& GetDeliveredEvent() { return mDrainWake; }

 protected:
  uint32_t Run() override;
  // Test seams: how long a spin for an owed block may last, and the gap that ends it as
  // crowded (set while the thread is stopped); how many spins began and how many caught
  // their block.
  void SetOwedBlockSpin(uint32_t spinUs, uint32_t crowdedUs) {
    mOwedBlockSpinUs = spinUs;
    mCrowdedUs = crowdedUs;
  }
  uint64_t GetOwedBlockSpins() const { return mOwedBlockSpins.load(std::memory_order_relaxed); }
  uint64_t GetBlocksCaughtSpinning() const {
    return mCaughtSpinning.load(std::memory_order_relaxed);
  }

  // Modes 1 and 2: adds the block to the story pair and, when the pair is complete,
  // renders it into the HTML record. A refused block or a story that does not load or
  // render drops the pair (logged); the next block starts a new one.
  void ProcessRXDataBlock(const HOBWBlockQElt& elt);
  // Delivers the raw block (modes 0 and 2), then the HTML record when one was rendered,
  // which is cleared afterwards. The element stays the caller's.
  void SendToCallback(HOBWBlockQElt* elt);
  // Makes the HTML record describe a rendered story: "<base>.htm", parent "<base>.xml",
  // the output bytes (not owned: they belong to the renderer and must outlive the
  // delivery), the session id of the block that completed the story.
  void FillHTMLRecord(const char* baseName, const uint8_t* html, uint32_t htmlLen,
                      uint32_t sessionID);

 private:
  HOBWQueuedBlock* CopyBlock(const HOBWBlockQElt& record, std::unique_ptr<WCXMLWireMsg> owner);
  HOBWQueuedBlock* TakeHead();
  bool HasQueued();
  // Waits for the next block or the stop; owed: this thread's delivery is what the server
  // waited for before it sends the block.
  void WaitForBlock(bool owed);
  void NoteDelivered(uint64_t bytes);
  void DiscardQueued();
  void CallTimed(HOBWBlockQElt* record, const char* slowFormat);
  void ClearHTMLRecord();
  void RenderOrDropStory(const HOBWBlockQElt& record);
  bool RenderPair(uint32_t sessionID);

  // Used by the rendering, on this thread only (set up while the thread is stopped).
  WCHTMLTemplate mHTMLTemplate;
  WCHOBWPairFiles mXMLRDFPair;
  uint32_t mMode = kModeRaw;
  HOBWCallback mCallback = nullptr;
  uintptr_t mUser = 0;
  // Names owned, data not owned; mDataLen 0 while no story is waiting for delivery.
  HOBWBlockQElt mHTMLRecord{};

  uint32_t mLimit = kDefaultLimitBytes;
  DeliveryHook mDeliveryHook = nullptr;
  uintptr_t mHookUser = 0;
  Event mDrainWake;  // set after every delivery and at the thread's end

  // The spin for owed blocks. Three to five times what an owed block takes to come while
  // this thread spins, on a quiet virtual machine: two exchanges with the server and the
  // block's parsing.
  static constexpr uint32_t kOwedBlockSpinUs = 200;
  // Longer than the wire-client thread's parsing of a block on the same processor, shorter
  // than a scheduler's time slice.
  static constexpr uint32_t kCrowdedUs = 200;
  // Spins that run out: a block held up now and then by the machine must not end the
  // spinning, while a far server or a feed that pauses after each story wastes every spin
  // or every other one. The pause is short: such a spin costs only kOwedBlockSpinUs, and a
  // feed that resumes after a quiet spell should be spun for again soon.
  static constexpr uint32_t kRanOutWindow = 8;
  static constexpr uint32_t kSkipAfterRunningOut = 255;
  // Spins that lose the processor: as the wire-client thread's (see AnswerSpin), since a
  // busy machine stays busy and each such spin costs a time slice.
  static constexpr uint32_t kCrowdedWindow = 64;
  static constexpr uint32_t kSkipWhenCrowded = 4095;
  // Set while the thread is stopped.
  bool mSpinForOwedBlocks = false;
  uint32_t mOwedBlockSpinUs = kOwedBlockSpinUs;
  uint32_t mCrowdedUs = kCrowdedUs;
  // This thread only.
  SpinBackoff mRanOut{kRanOutWindow, kSkipAfterRunningOut};
  SpinBackoff mCrowded{kCrowdedWindow, kSkipWhenCrowded};
  // Written by this thread, read by tests.
  std::atomic<uint64_t> mOwedBlockSpins{0};
  std::atomic<uint64_t> mCaughtSpinning{0};

  NamedMutex mMtxRXQ{"HOBWQueueThread::mMtxRXQ"};
  HOBWBlockQ mRXQ OWC_GUARDED_BY(mMtxRXQ);
  uint64_t mQueuedBytes OWC_GUARDED_BY(mMtxRXQ) = 0;
  uint64_t mEnqueued OWC_GUARDED_BY(mMtxRXQ) = 0;
  uint64_t mDelivered OWC_GUARDED_BY(mMtxRXQ) = 0;
};

}  // namespace owc

#endif  // OWCLIENT_GATEWAY_DELIVERY_QUEUE_H
