// SPDX-License-Identifier: MIT
// The wire-client interface against the reference server and against a scripted raw peer.
// (Files over it are every gateway test's; the parse of split messages is the port's.)
#include <gtest/gtest.h>

#include <string>

#include "integration_support.h"

namespace owc_test {
namespace {

using WireClientTest = WireTest;

// The port set holds for the opens after it; 0 goes back to the default. Two servers on one
// address, one on a free port and one on the default, tell which port each open reached.
TEST_F(WireClientTest, EachOpenGoesToThePortSetLast) {
  owwired::Options options;
  auto standard = StartServer(LoopbackName(14), options);
  options.port = 0;  // a free one
  auto other = StartServer(LoopbackName(14), options);
  auto accepted = [](const owwired::Server& server) {
    return server.WaitFor([](const owwired::Counters& c) { return c.connectionsAccepted == 1; },
                          10000);
  };
  OrbrixWireSetServerPort(other->Port());
  Open(14);
  EXPECT_TRUE(accepted(*other));
  OrbrixWireSetServerPort(0);
  uintptr_t second = 0;
  ASSERT_EQ(0, OrbrixWireOpen(&second, Loopback(14), &Received, User()));
  EXPECT_TRUE(accepted(*standard));
  OrbrixWireClose(second);
  EXPECT_EQ(1u, other->GetCounters().connectionsAccepted);
}

TEST_F(WireClientTest, ASilentServerIsLeftAfter16Seconds) {
  owwired::Options options;
  options.faults.silentAfter = 1;  // the hello, then nothing
  auto server = StartServer(LoopbackName(15), options);
  Open(15);
  ASSERT_TRUE(WaitHello());
  AdvanceMs(16100);
  // The port's own line comes last, after the thread's two.
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("WCOWClientPort::Close closing socket "); }));
  EXPECT_TRUE(mLog.HasPart("WCOBWClientConnect::IsCnctOK detected RX timeout for "));
  EXPECT_TRUE(mLog.HasPart("WCOBWClientConnect::IsCnctOK closing port for "));
}

// After a run of "nothing waiting" the client thread reads the server on its 25 ms poll
// instead of waking for every answer; what the server says next must still arrive. A reset
// then is logged with its error (10054: connection reset by peer, seen by the liveness check
// or by the read) and closes the port.
TEST_F(WireClientTest, NewsAfterALongRunOfEmptyAnswersArrivesAndAPeerResetClosesThePort) {
  RawPeer peer(Loopback(18));
  Connect(peer, 18);
  for (int i = 2; i <= 61; ++i) {
    ASSERT_TRUE(peer.SendAll(WireText("7:+RQST (204) No content")));
    ASSERT_TRUE(WaitUntil([&] { return mReceived == i; })) << i;
  }
  ASSERT_TRUE(peer.SendAll(WireText("7:+FILE story.xml")));
  EXPECT_TRUE(WaitUntil([&] { return mReceived == 62; }));
  peer.Reset();
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("closing port for"); }));
  EXPECT_TRUE(mLog.HasPart("failed with error code 0x00002746.\n"));
}

TEST_F(WireClientTest, HandleZeroAndClosedHandlesAreAnsweredWithoutTouchingTheMessage) {
  auto* msg = new WCXMLWireMsgHeartbeatReq;
  ASSERT_TRUE(msg->SetInfo(5));
  EXPECT_EQ(2, OrbrixWireTXMsg(0, msg));
  EXPECT_EQ(0, OrbrixWireClose(0));
  Open(20);  // nobody listens: the connect fails later, the handle is valid now
  const uintptr_t closed = mHandle;
  EXPECT_EQ(0, OrbrixWireClose(closed));
  mHandle = 0;
  EXPECT_TRUE(mLog.HasPart("WCXMLGWClientThread::Close cnct 0x"));
  EXPECT_EQ(2, OrbrixWireTXMsg(closed, msg));  // still ours
  delete msg;
  EXPECT_EQ(1, OrbrixWireOpen(nullptr, Loopback(20), nullptr, 0));
}

TEST(WireApiTest, ALogCallbackSetBeforeStartupSeesTheThreadStartAndEnd) {
  LogCapture log;
  ASSERT_EQ(1, OrbrixWireStartup(0));
  ASSERT_TRUE(WaitUntil([&] { return log.Has("WCXMLGWClientThread::Run thread started"); }));
  EXPECT_EQ(1, log.SeverityOf("WCXMLGWClientThread::Run thread started"));
  EXPECT_EQ(1, OrbrixWireShutdown());
  EXPECT_EQ(1, log.SeverityOf("WCXMLGWClientThread::Run thread terminated"));
}

}  // namespace
}  // namespace owc_test
