// SPDX-License-Identifier: MIT
// The gateway against a reference server that misbehaves on its first connections, or a slow
// application: the session recovers by itself and every file still arrives once, in order.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "integration_support.h"
#include "wire/client_port.h"

namespace owc_test {
namespace {

class FaultRecoveryTest : public owc_test::GatewayTest {
 protected:
  // Four example stories in 256-byte blocks; the faults hit the first connection only.
  static owwired::Options Faulty() {
    owwired::Options options;
    for (const std::string name :
         {"chess-final.xml", "chess-final.rdf", "council-budget.xml", "council-budget.rdf",
          "harbour-bridge.xml", "harbour-bridge.rdf", "river-ice.xml", "river-ice.rdf"}) {
      options.files.emplace_back(name, owc_test::Example("stories/" + name));
    }
    options.blockSize = 256;
    options.faults.faultyConnections = 1;
    return options;
  }
  // Once the server's nth fault fired, takes the stalled session through its receive
  // time-out (16 s covers the login's too) and the stop state's pause to a new connection.
  // The clock moves again when a message still in flight restarted the silence.
  void Reconnect(uint64_t fault = 1) {
    ASSERT_TRUE(
        WaitServer([fault](const owwired::Counters& c) { return c.faultsFired >= fault; }));
    for (const char* state : {"OBW_STATE_STOP/begin", "OBW_STATE_STOP/end"}) {
      const size_t before = Count(state);
      bool seen = false;
      for (int attempt = 0; attempt < 5 && !seen; ++attempt) {
        owc_test::AdvanceMs(16100);
        seen = WaitUntil([&] { return Count(state) > before; }, 1500);
      }
      ASSERT_TRUE(seen) << state;
    }
  }
};

TEST_F(FaultRecoveryTest, AResetInTheMiddleOfABlockResumesTheFileWhereItBroke) {
  owwired::Options options = Faulty();
  options.faults.resetInBlockAfter = 9;  // inside the second file
  Serve(100, options);
  Start();
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("WCOWClientPort::Close closing socket"); }));
  Reconnect();
  ExpectFeedDelivered();
  EXPECT_EQ(1u, Server().GetCounters().sessionsResumed);
}

// The server closes right after a block whose ACK it never reads and sends it again on the
// resumed session (from that block, or from the file's start): neither the raw records nor
// the pages may hold the repeats.
TEST_F(FaultRecoveryTest, ABlockWhoseAckWasLostIsDeliveredOnce) {
  for (const bool restartFiles : {false, true}) {
    SCOPED_TRACE(restartFiles);
    owwired::Options options = Faulty();
    options.restartFiles = restartFiles;
    options.faults.dropAfterBlocks = 12;  // council-budget.xml's blocks 0 to 2 are the last
    Serve(restartFiles ? 102 : 101, options);
    Start(2);
    ASSERT_EQ(13u, Records(13).size());  // and the first story's page
    Reconnect();
    ExpectFeedDelivered();
    EXPECT_TRUE(mLog.HasPart("HOBWThread::ProcessStateAux block 2 was delivered already"));
    EXPECT_EQ((std::vector<std::string>{"chess-final.htm", "council-budget.htm",
                                        "harbour-bridge.htm", "river-ice.htm"}),
              owc_test::Names(Pages(4)));
    StopAndForget();
  }
}

// Bytes that start no message, then an 8 MB text message: neither can ever be parsed, so the
// port closes at once instead of holding them or reading on.
TEST_F(FaultRecoveryTest, GarbageOrAnOverlongMessageClosesThePortWithinItsBound) {
  owwired::Options options = Faulty();
  options.faultsForConnection = [](uint32_t connection) {
    owwired::Faults faults;
    if (connection == 1) faults.garbageAfter = 6;
    if (connection == 2) faults.overlongAfter = 6;
    faults.overlongSize = 8u << 20;
    return faults;
  };
  Serve(110, options);
  Start();
  for (uint64_t n = 1; n <= 2; ++n) {
    ASSERT_TRUE(WaitUntil([&] { return Count("of the receive stream can never be parsed") >= n; }));
    Reconnect(n);
  }
  ExpectFeedDelivered();
  EXPECT_EQ(2u, Count("WCOWClientPort::Close closing socket"));
  unsigned held = 0;  // by the port as it let the 8 MB message go
  for (const auto& line : mLog.Lines()) {
    if (std::sscanf(line.text.c_str(), "WCOWClientPort::ProcessRX %u bytes", &held) == 1) {
      EXPECT_EQ(0, line.severity);
    }
  }
  EXPECT_GE(held, owc::WCOWClientPort::kParseWindowBytes);
  EXPECT_LE(held, owc::WCOWClientPort::kRXStreamBound);
}

// The length field counts 1000 bytes more than the data: the block waits for bytes that
// never come, is never taken, and the silence leads to a resumed session. (Pipelined, the
// following bytes would be taken as the rest of the block: a block is cut by its length.)
TEST_F(FaultRecoveryTest, ABlockWhoseLengthRunsPastItsDataIsNeverTaken) {
  owwired::Options options = Faulty();
  options.files.clear();
  for (char f = 0; f < 4; ++f) {
    options.files.emplace_back("f" + std::to_string(f) + ".xml", owc_test::Bytes(5000, 'a' + f));
  }
  options.blockSize = 1500;
  options.faults.overrunBlockAfter = 1;
  Serve(112, options);
  Start();
  Reconnect();
  ExpectFeedDelivered();
  StopAndForget();
}

TEST_F(FaultRecoveryTest, AFloodOfTinyMessagesIsTakenWithoutLosingTheConnection) {
  owwired::Options options = Faulty();
  options.pipeline = true;
  options.faults.tinyMessagesAfter = 5;  // between the blocks of the first file
  options.faults.tinyMessages = 20000;
  Serve(114, options);
  Start();
  // Each message takes a pass of two threads: under a sanitizer on a busy machine the flood
  // alone can take longer than the usual wait.
  ExpectFeedDelivered(60000);
  EXPECT_EQ(1u, Server().GetCounters().connectionsAccepted);
}

TEST_F(FaultRecoveryTest, AServerThatStopsReadingIsLeftAfterItsSilence) {
  owwired::Options options = Faulty();
  options.faults.stopReadingAfter = 5;  // the ACK of the first block is the last it reads
  Serve(115, options);
  Start();
  Reconnect();
  ExpectFeedDelivered();
}

// The application takes its time over every block while the server pipelines: the queue
// grows, and the one call that the module clock sees taking 9 s is reported.
TEST_F(FaultRecoveryTest, ASlowCallbackIsReportedAndLosesNothing) {
  owwired::Options options = Faulty();
  options.pipeline = true;
  Serve(116, options);
  int calls = 0;
  mSink->onCall = [&calls](const HOBWBlockQElt&) {
    if (++calls == 3) owc_test::AdvanceMs(9000);
    if (calls <= 40) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  Start();
  ExpectFeedDelivered();
  EXPECT_EQ(1u, Count("HOBWQueueThread::SendToCallback long time in application callback, "));
}

}  // namespace
}  // namespace owc_test
