// SPDX-License-Identifier: MIT
// Helpers for tests that drive the wire-client interface: a receive callback that
// collects messages for the test thread, and a way to build and send requests.
#ifndef OWCLIENT_TESTS_SUPPORT_WIRE_TEST_CLIENT_H
#define OWCLIENT_TESTS_SUPPORT_WIRE_TEST_CLIENT_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

#include "owclient/owclient.h"
#include "owclient/wire_messages.h"

namespace owc_test {

// Collects the messages a connection receives; the test thread waits for them.
class MessageInbox {
 public:
  static void Callback(WCXMLWireMsg* msg, uintptr_t user) {
    auto* self = reinterpret_cast<MessageInbox*>(user);
    std::lock_guard<std::mutex> lock(self->mMutex);
    self->mMessages.emplace_back(msg);
    self->mCond.notify_all();
  }
  uintptr_t User() { return reinterpret_cast<uintptr_t>(this); }

  // The next message, or null after timeoutMs of real time (a safety net, not a timing).
  std::unique_ptr<WCXMLWireMsg> Next(int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mMutex);
    if (!mCond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                        [this] { return !mMessages.empty(); })) {
      return nullptr;
    }
    std::unique_ptr<WCXMLWireMsg> msg = std::move(mMessages.front());
    mMessages.pop_front();
    return msg;
  }
  // The next message of the given type, skipping others (heartbeats and the like).
  std::unique_ptr<WCXMLWireMsg> NextOfType(uint32_t type, int timeoutMs = 5000) {
    for (;;) {
      std::unique_ptr<WCXMLWireMsg> msg = Next(timeoutMs);
      if (msg == nullptr || msg->GetType() == type) return msg;
    }
  }
  size_t Pending() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mMessages.size();
  }

 private:
  std::mutex mMutex;
  std::condition_variable mCond;
  std::deque<std::unique_ptr<WCXMLWireMsg>> mMessages;
};

// Queues a message; on failure the message is destroyed here. Returns the TX result.
inline int32_t Send(uintptr_t handle, WCXMLWireMsg* msg) {
  int32_t result = OrbrixWireTXMsg(handle, msg);
  if (result != 0) delete msg;
  return result;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_WIRE_TEST_CLIENT_H
