// SPDX-License-Identifier: MIT
// Acknowledgement after delivery, and the queue's and the pairing limits, end to end.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "integration_support.h"

namespace owc_test {
namespace {

class DeliveryTest : public GatewayTest {
 protected:
  void TearDown() override {
    GatewayTest::TearDown();
    HOBWSetOptions(0);
    HOBWSetQueueLimit(0);
  }
};

owwired::Options PipelinedFiles(uint32_t count, size_t size, uint32_t blockSize) {
  owwired::Options options;
  for (uint32_t i = 0; i < count; ++i) {
    options.files.emplace_back("f" + std::to_string(i) + ".txt",
                               Bytes(size, static_cast<char>('a' + i)));
  }
  options.blockSize = blockSize;
  options.pipeline = true;
  return options;
}

// The blocks a stop discards were never acknowledged: every block arrives at least once.
TEST_F(DeliveryTest, AfterDeliveryWhatTheStopDiscardsComesAgainOnResumption) {
  Serve(152, PipelinedFiles(2, 10240, 1024));
  HOBWSetOptions(HOBW_ACK_AFTER_DELIVERY);
  // The first call waits for the stop, the others take their time: most of the file waits.
  int calls = 0;
  mSink->onCall = [&](const HOBWBlockQElt&) {
    while (++calls == 1 && !mRelease) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  };
  Start();
  ASSERT_TRUE(WaitUntil([&] { return Count("received block 9, ") == 1; }));
  const uint32_t session = Stats().mSessionID;
  ASSERT_TRUE(StopWhileHeld());
  ASSERT_TRUE(WaitServer([](const Counters& c) { return c.connectionsOpen == 0; }));
  std::vector<Delivered> records = Records();
  EXPECT_LE(Server().GetCounters().blocksAcked, records.size());  // none before delivery
  // A loaded machine may let the delivery thread finish the first file before the stop.
  EXPECT_EQ(records.size() < 10u, mLog.HasPart("queued blocks discarded"));
  mSink = std::make_unique<BlockSink>();
  Start(0, 1, session);
  ASSERT_TRUE(WaitServer([](const Counters& c) { return c.filesDelivered >= 2; }));
  const auto again = Records(20 - records.size());
  records.insert(records.end(), again.begin(), again.end());
  std::string order, expected;
  for (const auto& r : records) {
    const std::string block = r.name + ":" + std::to_string(r.blockNum) + " ";
    if (order.find(block) == std::string::npos) order += block;
  }
  for (const char* name : {"f0.txt:", "f1.txt:"})
    for (int block = 0; block < 10; ++block) expected += name + std::to_string(block) + " ";
  EXPECT_EQ(expected, order);
}

// The session waits past every silence limit still connected, then all comes on it.
TEST_F(DeliveryTest, AtTheQueueLimitTheServerIsHeldBackByTcpUntilTheQueueDrains) {
  constexpr size_t kBig = 32u << 20;
  constexpr uint32_t kLimit = 256u << 10;
  Serve(153, PipelinedFiles(2, kBig, 65535));
  HOBWSetQueueLimit(kLimit);
  HoldCallbacks();
  Start();
  ASSERT_TRUE(WaitUntil([&] { return Count("reading held") == 1; }));
  uint64_t sent = 0;
  ASSERT_TRUE(WaitUntil([&] {
    const uint64_t before = Server().GetCounters().bytesSent;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    sent = Server().GetCounters().bytesSent;
    return sent == before;
  }));
  EXPECT_LT(sent, kBig / 2);
  const uint64_t acked = Server().GetCounters().blocksAcked;
  AdvanceSeen(13000);                                           // past every silence limit
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the wire thread's passes
  EXPECT_EQ(acked, Server().GetCounters().blocksAcked);
  EXPECT_EQ(0u, Server().GetCounters().filesDelivered);
  EXPECT_EQ(0u, Count("timeout"));
  EXPECT_EQ(1, Stats().mConnected);
  // The limit and one block at most: 65,535 data bytes and the name.
  EXPECT_LE(uint32_t{Stats().mQueueLen}, kLimit / 65535 + 1);
  mRelease = true;
  ExpectFeedDelivered(60000);
  EXPECT_GE(Count("reading resumed"), 1u);
  EXPECT_EQ(1u, Server().GetCounters().connectionsAccepted);
}

TEST_F(DeliveryTest, AStoryFileOverThePairingLimitIsRefusedAndTheNextStoryRenders) {
  owwired::Options options;
  options.files.emplace_back("huge.xml", "<nitf>" + std::string(100000, 'x') + "</nitf>");
  options.files.emplace_back("huge.rdf", Example("stories/river-ice.rdf"));
  for (const std::string name : {"chess-final.xml", "chess-final.rdf"})
    options.files.emplace_back(name, Example("stories/" + name));
  Serve(154, options);
  HOBWSetQueueLimit(64u << 10);
  Start(1);
  ASSERT_TRUE(WaitServer([](const Counters& c) { return c.filesDelivered >= 4; }));
  EXPECT_EQ(std::vector<std::string>{"chess-final.htm"}, PageNames(1));
  EXPECT_EQ(1u, Count("WCHOBWPairFiles::AddBlock story file huge.xml is over the limit of "
                      "65536 bytes, story discarded"));
}

}  // namespace
}  // namespace owc_test
