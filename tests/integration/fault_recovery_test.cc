// SPDX-License-Identifier: MIT
// The gateway against a server that misbehaves on its first connection, or a slow application.
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
  // Through the receive time-out (16 s covers the login's too) and the stop state's pause;
  // again when a message still in flight restarted the silence.
  void Reconnect() {
    ASSERT_TRUE(WaitServer([](const Counters& c) { return c.faultsFired != 0; }));
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

// A reset and messages that can never be parsed close the port at once; a lost ACK, a block
// longer than its data (never taken) and a deaf server are left after their silence.
TEST_F(FaultRecoveryTest, AfterAnyFaultOfTheServerEachFileAndPageComesOnce) {
  using F = owwired::Faults;
  const char* const kNeverParsed = "of the receive stream can never be parsed";
  const struct {
    uint8_t last;
    int64_t F::*fault;
    int64_t after;
    bool restartFiles;
    const char* seenAtOnce;
  } cases[] = {{100, &F::resetInBlockAfter, 9, false, "WCOWClientPort::Close closing socket"},
               {101, &F::dropAfterBlocks, 12, false, nullptr},  // council-budget.xml 0 to 2
               {102, &F::dropAfterBlocks, 12, true, nullptr},
               {110, &F::garbageAfter, 6, false, kNeverParsed},
               {111, &F::overlongAfter, 6, false, kNeverParsed},
               {112, &F::overrunBlockAfter, 1, false, nullptr},
               {115, &F::stopReadingAfter, 5, false, nullptr}};  // reads the first ACK last
  for (const auto& c : cases) {
    SCOPED_TRACE(c.last);
    owwired::Options options = Faulty();
    options.faults.*c.fault = c.after;
    options.faults.overlongSize = 8u << 20;
    options.restartFiles = c.restartFiles;
    Serve(c.last, options);
    Start(2);
    const bool dropped = c.fault == &F::dropAfterBlocks;
    if (c.seenAtOnce != nullptr) {
      ASSERT_TRUE(WaitUntil([&] { return Count(c.seenAtOnce) != 0; }));
    }
    if (dropped) {
      ASSERT_EQ(13u, Records(13).size());  // and the first story's page
    }
    Reconnect();
    ExpectFeedDelivered();
    EXPECT_EQ(1u, Server().GetCounters().sessionsResumed);
    EXPECT_EQ(1u, Count("WCOWClientPort::Close closing socket"));
    EXPECT_EQ(dropped, mLog.HasPart("ProcessStateAux block 2 was delivered already"));
    EXPECT_EQ((std::vector<std::string>{"chess-final.htm", "council-budget.htm",
                                        "harbour-bridge.htm", "river-ice.htm"}),
              PageNames(4));
    unsigned held = 0;  // by the port as it let the overlong message go
    for (const auto& line : mLog.Lines()) {
      if (std::sscanf(line.text.c_str(), "WCOWClientPort::ProcessRX %u bytes", &held) == 1) {
        EXPECT_EQ(0, line.severity);
      }
    }
    if (c.fault == &F::overlongAfter) {
      EXPECT_GE(held, owc::WCOWClientPort::kParseWindowBytes);
      EXPECT_LE(held, owc::WCOWClientPort::kRXStreamBound);
    }
    StopAndForget();
  }
}

// The queue grows while the application takes its time; the one call that the module clock
// sees taking 9 s is reported.
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
  // Each message takes a pass of two threads: slow under a sanitizer on a busy machine.
  ExpectFeedDelivered(60000);
  EXPECT_EQ(1u, Server().GetCounters().connectionsAccepted);
  EXPECT_EQ(1u, Count("HOBWQueueThread::SendToCallback long time in application callback, "));
}

}  // namespace
}  // namespace owc_test
