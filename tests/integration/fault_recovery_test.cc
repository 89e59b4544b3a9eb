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

class FaultRecoveryTest : public GatewayTest {
 protected:
  // Four example stories in 256-byte blocks; the faults hit the first connection only.
  static owwired::Options Faulty() {
    owwired::Options options;
    for (const std::string name :
         {"chess-final.xml", "chess-final.rdf", "council-budget.xml", "council-budget.rdf",
          "harbour-bridge.xml", "harbour-bridge.rdf", "river-ice.xml", "river-ice.rdf"}) {
      options.files.emplace_back(name, Example("stories/" + name));
    }
    options.blockSize = 256;
    options.faults.faultyConnections = 1;
    return options;
  }
  // Once the server's nth fault fired, takes the stalled session through its receive
  // time-out (16 s covers the login's too) and the stop state's pause to a new connection.
  // The clock moves again when a message still in flight restarted the silence.
  void Reconnect(uint64_t fault = 1) {
    ASSERT_TRUE(WaitServer([fault](const Counters& c) { return c.faultsFired >= fault; }));
    for (const char* state : {"OBW_STATE_STOP/begin", "OBW_STATE_STOP/end"}) {
      const size_t before = Count(state);
      bool seen = false;
      for (int attempt = 0; attempt < 5 && !seen; ++attempt) {
        AdvanceMs(16100);
        seen = WaitUntil([&] { return Count(state) > before; }, 1500);
      }
      ASSERT_TRUE(seen) << state;
    }
  }
};

// One fault on the first connection, then a resumed session delivers the rest of the feed
// and every page once: a reset in a block is seen at once; a block whose ACK the server never
// read comes again (from that block, or from the file's start); a block whose length runs
// past its data is never taken (pipelined, the following bytes would be taken as its rest);
// a server that stops reading is left after its silence.
TEST_F(FaultRecoveryTest, AfterAResetALostAckAnOverlongBlockOrADeafServerEachFileComesOnce) {
  using F = owwired::Faults;
  const struct {
    uint8_t last;
    int64_t F::*fault;
    int64_t after;
    bool restartFiles;
  } cases[] = {{100, &F::resetInBlockAfter, 9, false},  // inside the second file
               {101, &F::dropAfterBlocks, 12, false},   // council-budget.xml's blocks 0 to 2
               {102, &F::dropAfterBlocks, 12, true},
               {112, &F::overrunBlockAfter, 1, false},
               {115, &F::stopReadingAfter, 5, false}};  // the first ACK is the last it reads
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    owwired::Options options = Faulty();
    options.faults.*c.fault = c.after;
    options.restartFiles = c.restartFiles;
    Serve(c.last, options);
    Start(2);
    const bool dropped = c.fault == &F::dropAfterBlocks;
    if (c.fault == &F::resetInBlockAfter) {
      ASSERT_TRUE(WaitUntil([&] { return Count("WCOWClientPort::Close closing socket") != 0; }));
    }
    if (dropped) {
      ASSERT_EQ(13u, Records(13).size());  // and the first story's page
    }
    Reconnect();
    ExpectFeedDelivered();
    EXPECT_EQ(1u, Server().GetCounters().sessionsResumed);
    EXPECT_EQ(dropped, mLog.HasPart("ProcessStateAux block 2 was delivered already"));
    EXPECT_EQ((std::vector<std::string>{"chess-final.htm", "council-budget.htm",
                                        "harbour-bridge.htm", "river-ice.htm"}),
              Names(Pages(4)));
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

// A flood of tiny messages between the blocks of the first file is taken on the one
// connection, while the application takes its time over every block: the queue grows, and
// the one call that the module clock sees taking 9 s is reported.
TEST_F(FaultRecoveryTest, AFloodOfTinyMessagesAndASlowCallbackLoseNeitherConnectionNorFile) {
  owwired::Options options = Faulty();
  options.pipeline = true;
  options.faults.tinyMessagesAfter = 5;
  options.faults.tinyMessages = 20000;
  Serve(114, options);
  int calls = 0;
  mSink->onCall = [&calls](const HOBWBlockQElt&) {
    if (++calls == 3) AdvanceMs(9000);
    if (calls <= 40) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  Start();
  // Each message takes a pass of two threads: under a sanitizer on a busy machine the flood
  // alone can take longer than the usual wait.
  ExpectFeedDelivered(60000);
  EXPECT_EQ(1u, Server().GetCounters().connectionsAccepted);
  EXPECT_EQ(1u, Count("HOBWQueueThread::SendToCallback long time in application callback, "));
}

}  // namespace
}  // namespace owc_test
