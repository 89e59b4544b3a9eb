// SPDX-License-Identifier: MIT
// An application callback that keeps copies of the records it is given.
#ifndef OWCLIENT_TESTS_SUPPORT_BLOCK_SINK_H
#define OWCLIENT_TESTS_SUPPORT_BLOCK_SINK_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "owclient/owclient.h"

namespace owc_test {

struct Delivered {
  uint32_t sessionID;
  int first, last;
  uint32_t blockNum;
  std::string name, parent;  // "-" for none
  std::string data;
};

// "session firstlast #number name<parent data" per record, to compare whole sequences.
inline std::vector<std::string> Describe(const std::vector<Delivered>& records) {
  std::vector<std::string> out;
  for (const Delivered& r : records) {
    out.push_back(std::to_string(r.sessionID) + " " + std::to_string(r.first) +
                  std::to_string(r.last) + " #" + std::to_string(r.blockNum) + " " + r.name + "<" +
                  r.parent + " " + r.data);
  }
  return out;
}

class BlockSink {
 public:
  static void Callback(HOBWBlockQElt* r, uintptr_t user) {
    auto* self = reinterpret_cast<BlockSink*>(user);
    if (self->onCall) self->onCall(*r);
    std::lock_guard<std::mutex> lock(self->mMutex);
    self->mRecords.push_back({r->mSessionID, r->mFirstBlock, r->mLastBlock, r->mBlockNum,
                              r->mFName ? r->mFName : "-", r->mParentFName ? r->mParentFName : "-",
                              std::string(reinterpret_cast<const char*>(r->mData), r->mDataLen)});
    self->mCond.notify_all();
  }
  uintptr_t User() { return reinterpret_cast<uintptr_t>(this); }
  // Waits (bounded, for the delivery thread's progress) for n records; returns them all.
  std::vector<Delivered> WaitFor(size_t n) {
    std::unique_lock<std::mutex> lock(mMutex);
    mCond.wait_for(lock, std::chrono::seconds(10), [&] { return mRecords.size() >= n; });
    return mRecords;
  }

  // Runs on the delivery thread at the start of every call.
  std::function<void(const HOBWBlockQElt&)> onCall;

 private:
  std::mutex mMutex;
  std::condition_variable mCond;
  std::vector<Delivered> mRecords;
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_BLOCK_SINK_H
