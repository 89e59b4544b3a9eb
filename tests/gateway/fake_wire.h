// A stand-in for the wire client: records what the gateway session opens, sends and
// closes, and hands it messages as the wire-client thread would.
#ifndef OWCLIENT_TESTS_GATEWAY_FAKE_WIRE_H
#define OWCLIENT_TESTS_GATEWAY_FAKE_WIRE_H

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "gateway/wire_ops.h"
#include "owclient/wire_messages.h"

namespace owc_test {

class FakeWire {
  template <class F>
  auto Locked(F f) {
    std::lock_guard<std::mutex> lock(mMutex);
    return f();
  }

 public:
  FakeWire() { sCurrent = this; }
  ~FakeWire() { sCurrent = nullptr; }
  static owc::WireOps Ops() { return owc::WireOps{&Open, &TX, &Close}; }

  // Passes msg to the receive callback the session gave at its last open.
  void Deliver(WCXMLWireMsg* msg) {
    auto [callback, user] = Locked([&] { return std::make_pair(mCallback, mUser); });
    callback(msg, user);
  }
  std::vector<std::string> Sent() {
    return Locked([&] { return mSent; });
  }
  int Count(const std::string& image) {
    return Locked([&] { return CountLocked(image); });
  }
  int Opens() {
    return Locked([&] { return mOpens; });
  }
  int Closes() {
    return Locked([&] { return mCloses; });
  }
  // Bounded waits for another thread's progress.
  bool WaitForSent(const std::string& image, int times = 1) {
    return WaitUntil([&] { return CountLocked(image) >= times; });
  }
  bool WaitForOpens(int n) {
    return WaitUntil([&] { return mOpens >= n; });
  }

  // Faults: opening fails; sending a message of this type fails.
  bool failOpen = false;
  uint32_t failType = WCXMLWireMsg::kTypeInvalid;
  uint32_t address = 0;  // of the last open

 private:
  bool WaitUntil(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> lock(mMutex);
    return mCond.wait_for(lock, std::chrono::seconds(10), done);
  }
  int CountLocked(const std::string& image) {
    int n = 0;
    for (const std::string& s : mSent) n += s == image;
    return n;
  }
  static int32_t Open(uintptr_t* handle, uint32_t addr, OrbrixWireRXCallback cb, uintptr_t user) {
    FakeWire* w = sCurrent;
    std::lock_guard<std::mutex> lock(w->mMutex);
    w->address = addr;
    w->mCallback = cb;
    w->mUser = user;
    *handle = w->failOpen ? 0 : static_cast<uintptr_t>(++w->mOpens);
    w->mCond.notify_all();
    return w->failOpen ? 1 : 0;
  }
  // Like the wire client: takes (and destroys) the message only when it returns 0.
  static int32_t TX(uintptr_t handle, WCXMLWireMsg* msg) {
    FakeWire* w = sCurrent;
    if (handle == 0) return 2;
    if (msg->GetType() == w->failType) return 3;
    std::lock_guard<std::mutex> lock(w->mMutex);
    w->mSent.emplace_back(msg->GetMsgBuf(), msg->GetMsgLen() - 1);
    w->mCond.notify_all();
    delete msg;
    return 0;
  }
  static int32_t Close(uintptr_t handle) {
    std::lock_guard<std::mutex> lock(sCurrent->mMutex);
    sCurrent->mCloses += handle != 0;
    return 0;
  }

  static inline FakeWire* sCurrent = nullptr;
  std::mutex mMutex;
  std::condition_variable mCond;
  std::vector<std::string> mSent;
  int mOpens = 0;
  int mCloses = 0;
  OrbrixWireRXCallback mCallback = nullptr;
  uintptr_t mUser = 0;
};

// Received messages of session 42, as the wire client's parser builds them.
template <class M, class... Args>
WCXMLWireMsg* Make(Args... args) {
  auto* m = new M;
  m->SetInfo(args...);
  return m;
}
inline WCXMLWireMsg* Hello() { return new WCXMLWireMsgHello; }
inline WCXMLWireMsg* UserAck(bool ok, uint32_t id, int32_t status = 0) {
  return Make<WCXMLWireMsgUserAck>(ok, id, status);
}
inline WCXMLWireMsg* FilterAck(bool ok, int32_t status = 0) {
  return Make<WCXMLWireMsgFilterAck>(ok, 42u, status);
}
inline WCXMLWireMsg* RqstAck(int32_t status) {
  return Make<WCXMLWireMsgRequestAck>(status == 0, 42u, status);
}
inline WCXMLWireMsg* File(const char* name1, const char* name2 = nullptr) {
  return Make<WCXMLWireMsgRequestFileAck>(42u, name1, name2);
}
inline WCXMLWireMsg* Block(uint32_t number, const char* data, bool last) {
  auto size = static_cast<uint16_t>(std::strlen(data));
  return Make<WCXMLWireMsgRequestBlockAck>(42u, number, size, data, uint8_t{last});
}
inline WCXMLWireMsg* DoneAck() { return Make<WCXMLWireMsgDoneAck>(42u); }

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_GATEWAY_FAKE_WIRE_H
