// SPDX-License-Identifier: MIT
// The wire-client interface against the reference server and a scripted raw peer, and the
// bounds of what a connection holds while its peer misbehaves.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>

#include "integration_support.h"
#include "owclient/wire_messages.h"
#include "support/wire_bytes.h"
#include "transport/data_stream.h"
#include "wire/client_connect.h"
#include "wire/client_port.h"

namespace owc_test {
namespace {

using owc::WCOBWClientConnect;
using owc::WCOWClientPort;

// The wire-client interface with one connection at a time.
class WireTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, OrbrixWireStartup(0)); }
  void TearDown() override {
    if (mHandle != 0) OrbrixWireClose(mHandle);
    OrbrixWireShutdown();
  }
  // Counts what arrives; these tests need no message's content.
  static void Received(WCXMLWireMsg* msg, uintptr_t user) {
    delete msg;
    ++reinterpret_cast<WireTest*>(user)->mReceived;
  }
  uintptr_t User() { return reinterpret_cast<uintptr_t>(this); }
  void Open(uint8_t last) {
    ASSERT_EQ(0, OrbrixWireOpen(&mHandle, Loopback(last), &Received, User()));
    ASSERT_NE(0u, mHandle);
  }
  bool WaitHello() {
    return WaitUntil([this] { return mReceived != 0; });
  }
  // Opens a connection to the raw peer and takes its hello.
  void Connect(RawPeer& peer, uint8_t last) {
    ASSERT_TRUE(peer.Bound());
    Open(last);
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(peer.SendAll(std::string("+Tazu wire v1.00.00 v1.00.00\0", 29)));
    ASSERT_TRUE(WaitHello());
  }
  LogCapture mLog;
  std::atomic<int> mReceived{0};
  uintptr_t mHandle = 0;
};

using WireClientTest = WireTest;
using FaultBoundsTest = WireTest;

// Two servers on one address, on a free port and on the default, tell which one each reached.
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

// After a run of "nothing waiting" the client thread reads on its 25 ms poll, not on wake-ups.
// 10054 is a reset by the peer, seen by the liveness check or by the read.
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

// Once closed, the connection takes small messages up to the bound counted in memory (each
// chunk costs its overhead besides its bytes), not in wire bytes.
TEST_F(FaultBoundsTest, AServerThatNeverReadsClosesThePortAtTheSendBound) {
  constexpr uint64_t kBound = WCOBWClientConnect::kTXStreamBound;
  RawPeer peer(Loopback(131), 4096);
  Connect(peer, 131);
  // The bytes and the number of messages taken until one is refused.
  auto queueUntilRefused = [&](const std::function<WCXMLWireMsg*(uint32_t)>& make) {
    std::pair<uint64_t, uint64_t> taken{0, 0};
    for (uint32_t i = 0; i < 1000000; ++i) {
      WCXMLWireMsg* msg = make(i);
      const uint32_t length = msg->GetMsgLen();
      const int32_t result = OrbrixWireTXMsg(mHandle, msg);
      if (result != 0) {
        EXPECT_EQ(3, result);
        delete msg;  // still ours
        return taken;
      }
      taken.first += length;
      ++taken.second;
    }
    return taken;
  };
  const std::string payload(60000, 'p');
  const uint64_t queued =
      queueUntilRefused([&](uint32_t i) {
        auto* msg = new WCXMLWireMsgUserReq;
        EXPECT_TRUE(msg->SetInfo(1, i, nullptr) &&
                    msg->AppendData(payload.data(), static_cast<uint32_t>(payload.size())));
        return msg;
      }).first;
  EXPECT_TRUE(
      mLog.HasPart("WCOBWClientConnect::TXMsg send stream over its bound of 4194304 bytes, "
                   "closing port for "));
  // The bound, plus what the socket and the overflow took before the peer's window shut.
  EXPECT_GE(queued, kBound - payload.size());
  EXPECT_LE(queued, kBound + (1u << 20));

  uint32_t length = 0;
  const uint64_t accepted =
      queueUntilRefused([&](uint32_t) {
        auto* msg = new WCXMLWireMsgRequestAckReq;
        EXPECT_TRUE(msg->SetInfo(42) && msg->SetArg1("12345") && msg->SetArg2(nullptr));
        length = msg->GetMsgLen();
        return msg;
      }).second;
  const uint64_t held = accepted * owc::WCDataStream::ChunkCost(length);
  EXPECT_LE(held, kBound);
  EXPECT_GT(held + owc::WCDataStream::ChunkCost(length), kBound);
  EXPECT_EQ(1u, mLog.Count("over its bound"));
}

// The parse stops at the queue's limit, the reading at the stream's bound.
TEST(ClientPortTest, AFloodIsHeldBackInTheSocketAndNothingIsLost) {
  RawPeer peer(Loopback(132));
  ASSERT_TRUE(peer.Bound());
  auto port = std::make_unique<WCOWClientPort>();
  port->SetIPInfo(Loopback(132), 39030);
  port->Connect();
  ASSERT_TRUE(peer.Accept());
  constexpr uint32_t kMessages = 60000;
  std::string flood;
  for (uint32_t i = 0; i < kMessages; ++i) flood += std::to_string(i) + ":+HRTB" + '\0';
  std::thread sender([&] { peer.SendAll(flood); });
  const bool filled = WaitUntil([&] {
    port->ProcessRX();
    return port->GetRXMsgCount() == WCOWClientPort::kRXQueueLimit &&
           port->GetRXStream().GetTotal() > WCOWClientPort::kRXStreamBound / 2;
  });
  uint32_t next = 0;
  bool inOrder = true, bounded = true;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (filled && next < kMessages && std::chrono::steady_clock::now() < deadline) {
    port->ProcessRX();
    bounded = bounded && port->GetRXMsgCount() <= WCOWClientPort::kRXQueueLimit &&
              port->GetRXStream().GetTotal() <= WCOWClientPort::kRXStreamBound;
    while (WCXMLWireMsg* msg = port->GetRXMsg()) {
      inOrder = inOrder && msg->GetSessionID() == next++;
      delete msg;
    }
  }
  EXPECT_TRUE(port->IsOpen());
  port.reset();  // lets a sender stuck on a full socket go
  sender.join();
  EXPECT_TRUE(filled);
  EXPECT_TRUE(bounded);
  EXPECT_EQ(kMessages, next);
  EXPECT_TRUE(inOrder);
}

}  // namespace
}  // namespace owc_test
