// SPDX-License-Identifier: MIT
// What a connection may hold while its peer misbehaves: memory stays within the
// connection's bounds, and past them the port closes with a log line.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>

#include "integration_support.h"
#include "transport/data_stream.h"
#include "wire/client_connect.h"
#include "wire/client_port.h"

namespace owc_test {
namespace {

using owc::WCOBWClientConnect;
using owc::WCOWClientPort;
using FaultBoundsTest = owc_test::WireTest;

// The message that would pass the send stream's bound is refused (the caller keeps it) and
// the port closes; a closed connection still takes messages up to the same bound.
TEST_F(FaultBoundsTest, AServerThatNeverReadsClosesThePortAtTheSendBound) {
  owc_test::RawPeer peer(Loopback(131), 4096);
  Connect(peer, 131);
  const std::string payload(60000, 'p');
  auto queueUntilRefused = [&] {
    uint64_t queued = 0;
    for (uint32_t i = 0; i < 1000; ++i) {
      auto* msg = new WCXMLWireMsgUserReq;
      EXPECT_TRUE(msg->SetInfo(1, i, nullptr) &&
                  msg->AppendData(payload.data(), static_cast<uint32_t>(payload.size())));
      const uint32_t length = msg->GetMsgLen();
      const int32_t result = OrbrixWireTXMsg(mHandle, msg);
      if (result != 0) {
        EXPECT_EQ(3, result);
        delete msg;  // still ours
        return queued;
      }
      queued += length;
    }
    return queued;
  };
  const uint64_t queued = queueUntilRefused();
  EXPECT_TRUE(
      mLog.HasPart("WCOBWClientConnect::TXMsg send stream over its bound of 4194304 bytes, "
                   "closing port for "));
  // The bound, plus what the socket and the overflow took before the peer's window shut.
  EXPECT_GE(queued, uint64_t{WCOBWClientConnect::kTXStreamBound} - payload.size());
  EXPECT_LE(queued, uint64_t{WCOBWClientConnect::kTXStreamBound} + (1u << 20));
  EXPECT_LE(queueUntilRefused(), uint64_t{WCOBWClientConnect::kTXStreamBound});
  EXPECT_EQ(1u, mLog.Count("over its bound"));
}

// Messages faster than they are taken: the parse stops at the queue's limit, the reading at
// the stream's bound, the rest waits in the socket, and every message still arrives in order.
TEST(ClientPortTest, AFloodIsHeldBackInTheSocketAndNothingIsLost) {
  owc_test::RawPeer peer(Loopback(132));
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

// A peer that never reads and a sender of many small ACKs: each chunk of the send stream
// costs its overhead besides its bytes, so the stream's memory, not its wire bytes, meets the
// bound. Nothing is serviced here: every accepted message stays in the stream.
TEST(ClientPortTest, ManySmallMessagesForAPeerThatNeverReadsHoldNoMoreMemoryThanTheBound) {
  owc_test::LogCapture log;
  owc_test::RawPeer peer(Loopback(133), 4096);
  ASSERT_TRUE(peer.Bound());
  WCOBWClientConnect connect;
  connect.SetIP(Loopback(133));
  connect.Connect();
  ASSERT_TRUE(peer.Accept());
  uint64_t accepted = 0;
  uint32_t length = 0;
  for (; accepted < 1000000; ++accepted) {
    auto* msg = new WCXMLWireMsgRequestAckReq;
    ASSERT_TRUE(msg->SetInfo(42) && msg->SetArg1("12345") && msg->SetArg2(nullptr));
    length = msg->GetMsgLen();
    if (!connect.TXMsg(msg)) {
      delete msg;  // refused: still ours
      break;
    }
  }
  const uint64_t held = accepted * owc::WCDataStream::ChunkCost(length);
  EXPECT_LE(held, uint64_t{WCOBWClientConnect::kTXStreamBound});
  EXPECT_GT(held + owc::WCDataStream::ChunkCost(length),
            uint64_t{WCOBWClientConnect::kTXStreamBound});
  EXPECT_TRUE(
      log.HasPart("WCOBWClientConnect::TXMsg send stream over its bound of 4194304 bytes, "
                  "closing port for "));
  EXPECT_FALSE(connect.Port().IsOpen());
}

}  // namespace
}  // namespace owc_test
