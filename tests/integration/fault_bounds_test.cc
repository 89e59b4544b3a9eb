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
using FaultBoundsTest = WireTest;

// The message that would pass the send stream's bound is refused (the caller keeps it) and
// the port closes. The closed connection still takes many small messages up to the same
// bound, counted in memory (each chunk costs its overhead besides its bytes), not wire bytes.
TEST_F(FaultBoundsTest, AServerThatNeverReadsClosesThePortAtTheSendBound) {
  constexpr uint64_t kBound = WCOBWClientConnect::kTXStreamBound;
  RawPeer peer(Loopback(131), 4096);
  Connect(peer, 131);
  // Messages from make() until one is refused; the bytes and the number of those taken.
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

// Messages faster than they are taken: the parse stops at the queue's limit, the reading at
// the stream's bound, the rest waits in the socket, and every message still arrives in order.
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
