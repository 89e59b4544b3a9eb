// What a connection may hold while its server misbehaves: a message that never ends, a
// server that never reads, a flood faster than the application takes it. Memory stays
// within the connection's bounds, and past them the port closes with a log line. Each
// test has its own 127.0.0.N (130-149).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "owclient/owclient.h"
#include "owclient/wire_messages.h"
#include "support/log_capture.h"
#include "support/raw_peer.h"
#include "support/wire_test_client.h"
#include "wire/client_connect.h"
#include "wire/client_port.h"

namespace {

using owc::WCOBWClientConnect;
using owc::WCOWClientPort;
using owc_test::Loopback;
using owc_test::MessageInbox;

const std::string kHello("+Tazu wire v1.00.00 v1.00.00\0", 29);

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

class FaultBoundsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, OrbrixWireStartup(0)); }
  void TearDown() override {
    if (mHandle != 0) OrbrixWireClose(mHandle);
    OrbrixWireShutdown();
  }

  // Opens a connection to peer and exchanges the hello.
  void Connect(owc_test::RawPeer& peer, uint32_t address) {
    ASSERT_TRUE(peer.Bound());
    ASSERT_EQ(0, OrbrixWireOpen(&mHandle, address, &MessageInbox::Callback, mInbox.User()));
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(peer.SendAll(kHello));
    ASSERT_NE(nullptr, mInbox.Next());
  }

  owc_test::LogCapture mLog;
  MessageInbox mInbox;
  uintptr_t mHandle = 0;
};

// The text message never ends: once a whole parse window holds no complete message,
// nothing that arrives later can complete it, and the port lets go instead of reading on.
TEST_F(FaultBoundsTest, AMessageThatNeverEndsClosesThePortWithinItsBound) {
  owc_test::RawPeer peer(Loopback(130));
  Connect(peer, Loopback(130));
  const std::string endless = "-UNKN " + std::string(8u << 20, 'x');
  bool sentAll = true;
  std::thread sender([&] { sentAll = peer.SendAll(endless); });
  const std::string part = "bytes at the front of the receive stream can never be parsed, closing";
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart(part); }));
  sender.join();
  EXPECT_FALSE(sentAll);  // the client reset the connection long before 8 MB
  for (const auto& line : mLog.Lines()) {
    unsigned held = 0;
    if (std::sscanf(line.text.c_str(), "WCOWClientPort::ProcessRX %u bytes", &held) != 1) continue;
    EXPECT_GE(held, WCOWClientPort::kParseWindowBytes);
    EXPECT_LE(held, WCOWClientPort::kRXStreamBound);
    EXPECT_EQ(0, line.severity);
  }
  EXPECT_TRUE(mLog.HasPart("WCOWClientPort::Close closing socket"));
}

// Messages queue up for a server that does not read until the send stream reaches its
// bound; the message that would pass it fails (the caller keeps it) and the port closes.
// A closed connection still takes messages, up to the same bound and no further.
TEST_F(FaultBoundsTest, AServerThatNeverReadsClosesThePortAtTheSendBound) {
  owc_test::RawPeer peer(Loopback(131), 4096);
  Connect(peer, Loopback(131));
  const std::string payload(60000, 'p');
  auto queueUntilRefused = [&](uint64_t& queued) {
    for (int i = 0; i < 1000; ++i) {
      auto* msg = new WCXMLWireMsgUserReq;
      if (!msg->SetInfo(1, static_cast<uint32_t>(i), nullptr) ||
          !msg->AppendData(payload.data(), static_cast<uint32_t>(payload.size()))) {
        delete msg;
        return false;
      }
      uint32_t length = msg->GetMsgLen();
      int32_t result = OrbrixWireTXMsg(mHandle, msg);
      if (result != 0) {
        EXPECT_EQ(3, result);
        delete msg;  // still ours
        return true;
      }
      queued += length;
    }
    return false;
  };
  uint64_t queued = 0;
  ASSERT_TRUE(queueUntilRefused(queued));
  EXPECT_TRUE(
      mLog.HasPart("WCOBWClientConnect::TXMsg send stream over its bound of 4194304 bytes, "
                   "closing port for "));
  // The bound, plus what the socket and the overflow took before the server's window shut.
  EXPECT_GE(queued, uint64_t{WCOBWClientConnect::kTXStreamBound} - payload.size());
  EXPECT_LE(queued, uint64_t{WCOBWClientConnect::kTXStreamBound} + (1u << 20));

  uint64_t afterClose = 0;
  ASSERT_TRUE(queueUntilRefused(afterClose));
  EXPECT_LE(afterClose, uint64_t{WCOBWClientConnect::kTXStreamBound});
  size_t closings = 0;
  for (const auto& line : mLog.Lines())
    closings += line.text.find("over its bound") != std::string::npos;
  EXPECT_EQ(1u, closings);
}

// A flood of small messages faster than they are taken: the parse stops at the queue's
// limit, the reading at the stream's bound, and the rest waits in the socket; taken one
// by one, every message arrives, in order.
TEST(FaultBoundsPort, AFloodIsHeldBackInTheSocketAndNothingIsLost) {
  owc_test::RawPeer peer(Loopback(132));
  ASSERT_TRUE(peer.Bound());
  auto port = std::make_unique<WCOWClientPort>();
  port->SetIPInfo(Loopback(132), 39030);
  port->Connect();
  ASSERT_TRUE(peer.Accept());
  constexpr uint32_t kMessages = 60000;
  std::string flood;
  for (uint32_t i = 0; i < kMessages; ++i) {
    flood += std::to_string(i) + ":+HRTB";
    flood += '\0';
  }
  std::thread sender([&] { peer.SendAll(flood); });
  ASSERT_TRUE(WaitUntil([&] {
    port->ProcessRX();
    return port->GetRXMsgCount() == WCOWClientPort::kRXQueueLimit &&
           port->GetRXStream().GetTotal() > WCOWClientPort::kRXStreamBound / 2;
  }));
  EXPECT_LE(port->GetRXStream().GetTotal(), WCOWClientPort::kRXStreamBound);

  uint32_t next = 0;
  bool inOrder = true;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (next < kMessages && std::chrono::steady_clock::now() < deadline) {
    port->ProcessRX();
    ASSERT_LE(port->GetRXMsgCount(), WCOWClientPort::kRXQueueLimit);
    ASSERT_LE(port->GetRXStream().GetTotal(), WCOWClientPort::kRXStreamBound);
    while (WCXMLWireMsg* msg = port->GetRXMsg()) {
      inOrder = inOrder && msg->GetSessionID() == next;
      ++next;
      delete msg;
    }
  }
  sender.join();
  EXPECT_EQ(kMessages, next);
  EXPECT_TRUE(inOrder);
  EXPECT_TRUE(port->IsOpen());
}

}  // namespace
