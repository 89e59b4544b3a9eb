// A gateway session on a fake wire, driven pass by pass on the test's own thread.
#ifndef OWCLIENT_TESTS_GATEWAY_SESSION_FIXTURE_H
#define OWCLIENT_TESTS_GATEWAY_SESSION_FIXTURE_H

#include <gtest/gtest.h>

#include "block_sink.h"
#include "fake_wire.h"
#include "gateway/gateway_session.h"
#include "runtime/clock_thread.h"
#include "support/log_capture.h"

namespace owc_test {

class TestSession : public owc::HOBWThread {
 public:
  TestSession() : HOBWThread(FakeWire::Ops()) {}
  using HOBWThread::BeginRun;
  using HOBWThread::ForceState;
  using HOBWThread::GetBlockInfo;
  using HOBWThread::GetState;
  using HOBWThread::HasSession;
  using HOBWThread::RunPass;
  using HOBWThread::ShutDown;
};

// Moves the module clock forward; it never moves back, so tests work relative to it.
inline void Advance(uint32_t ms) {
  owc::ModuleClock().AdvanceTo(owc::ModuleClock().GetTicks() + ms / 50);
}

class SessionTest : public ::testing::Test {
 protected:
  static constexpr uint32_t kServer = 0x7F000009;  // 127.0.0.9

  SessionTest() {
    Advance(100000);  // far from 0: a time-out counted from 0 would fire at once
    session.SetServer(kServer);
    session.SetCallback(&BlockSink::Callback, sink.User());
  }
  ~SessionTest() override {
    if (began) session.ShutDown();
  }

  void Begin() {
    session.BeginRun();
    began = true;
  }
  void Pass() { session.RunPass(); }
  void Receive(WCXMLWireMsg* msg) {
    wire.Deliver(msg);
    Pass();
  }
  // Logs in as session 42 and requests stories: state 7.
  void LogIn() {
    Begin();
    Pass();
    Receive(Hello());
    Receive(UserAck(true, 42));
    Receive(FilterAck(true));
    ASSERT_EQ(owc::OBW_STATE_WAIT_RQST, session.GetState());
  }
  // The record's fields are packed: tests read copies.
  HOBWStats Stats() {
    HOBWStats s;
    session.GetStats(&s);
    return s;
  }
  uint32_t U(uint32_t packedField) { return packedField; }

  LogCapture log;
  FakeWire wire;
  BlockSink sink;
  TestSession session;
  bool began = false;
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_GATEWAY_SESSION_FIXTURE_H
