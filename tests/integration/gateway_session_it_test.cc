// SPDX-License-Identifier: MIT
// The gateway session's life through the C interface against the reference server.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "integration_support.h"

namespace owc_test {
namespace {

using GatewaySessionTest = GatewayTest;

// Without a time-out or a reconnection; the next start walks the feed from its start.
TEST_F(GatewaySessionTest, DoneFromTheServerWhileWaitingForAStoryLeavesTheSessionIdle) {
  // The server's answers wait for its own clock, which the test moves step by step.
  constexpr uint64_t kHoldMs = 1000000;
  const auto serverMs = std::make_shared<std::atomic<uint64_t>>(1);
  const auto release = [&](uint64_t to) {
    *serverMs = to;
    Server().Wake();
  };
  owwired::Options options;
  options.files = {{"n.xml", Bytes(1500, 'n')}, {"n.rdf", Bytes(20, 'm')}};
  options.faults.doneAfterFiles = 1;
  options.faults.faultyConnections = 1;
  options.faults.delayMs = kHoldMs;
  options.clockMs = [serverMs] { return serverMs->load(); };
  Serve(41, options);
  Start();
  // Hello, USER and FLTR answers, FILE and its one block, each let through once queued.
  for (uint64_t n = 1; n <= 5; ++n) {
    ASSERT_TRUE(WaitServer([&](const Counters& c) { return c.messagesSent - c.heartbeats == n; }));
    release(*serverMs + kHoldMs);
  }
  // The DONE answering the block's acknowledgement goes once the next file was asked for.
  ASSERT_TRUE(WaitServer([&](const Counters& c) { return c.messagesSent - c.heartbeats == 6; }));
  ASSERT_TRUE(WaitUntil([this] { return Count("OBW_STATE_RQST_START") == 2; }));
  release(*serverMs + kHoldMs);
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("HOBWThread::ProcessStateAux received done"); }));
  ASSERT_TRUE(WaitServer([](const Counters& c) { return c.connectionsOpen == 0; }));
  EXPECT_EQ(1u, Server().GetCounters().sessionsEnded);
  // The line is logged before the session is forgotten, so the record may lag it a little.
  ASSERT_TRUE(WaitUntil([] {
    const HOBWStats s = Stats();
    return s.mConnected + s.mSessionValid + s.mSessionID == 0;
  }));

  AdvanceSeen(13000);
  AdvanceSeen(17000);
  EXPECT_FALSE(mLog.HasPart("receive timeout"));
  EXPECT_FALSE(mLog.HasPart("OBW_STATE_STOP"));
  EXPECT_EQ(1u, Server().GetCounters().connectionsAccepted);
  ASSERT_EQ(1u, Records(1).size());
  EXPECT_EQ(1, HOBWStop(1));  // no connection: nothing to say DONE on
  EXPECT_FALSE(mLog.HasPart("HOBWThread::Run shutdown sending TXDone"));

  release(kHoldMs * 100);  // nothing held any more
  Start();
  ASSERT_TRUE(WaitServer([](const Counters& c) { return c.filesDelivered == 3; }));
  EXPECT_EQ(2u, Server().GetCounters().sessionsCreated);
  const auto r = Records(3);
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ("n.xml", r[1].name);
  EXPECT_TRUE(options.files[1].second == r[2].data);
}

// A stop without DONE discards what waits for the application; asking again for a session a
// stop with DONE ended brings a new one from the start.
TEST_F(GatewaySessionTest, StopWithoutDoneKeepsTheSessionAndStopWithDoneEndsIt) {
  owwired::Options options;
  options.files = {{"a.xml", Bytes(2500, 'x')},
                   {"a.rdf", Bytes(300, 'r')},
                   {"a.jpg", Bytes(2000, 'j')},  // belongs to story a
                   {"readme.txt", Bytes(10, 't')}};
  options.blockSize = 1000;
  options.firstSessionId = 5000;
  Serve(42, options);
  HoldCallbacks();
  Start();
  ASSERT_TRUE(WaitServer([](const Counters& c) { return c.filesDelivered == 4; }));
  ASSERT_TRUE(WaitUntil([] { return Stats().mQueueLen == 6; }));  // one is in the callback
  ASSERT_TRUE(StopWhileHeld());
  EXPECT_EQ(1u, Records(1).size());
  EXPECT_TRUE(mLog.Has("HOBWQueueThread::Run 6 queued blocks discarded"));
  HOBWStats s = Stats();
  EXPECT_EQ(0u, s.mConnected + s.mSessionValid + s.mSessionID + s.mQueueLen)
      << "a connection, session or queue outlived the stop";
  StopAndForget();

  // Resumed: the server's cursor is past every file, so nothing comes again.
  Start(0, 1, 5000);
  ASSERT_TRUE(WaitServer([](const Counters& c) {
    return c.sessionsResumed == 1 && c.requestsEmpty != 0 && c.connectionsAccepted == 2;
  }));
  const Counters c = Server().GetCounters();
  EXPECT_EQ(0u, c.sessionsEnded);
  EXPECT_EQ(4u, c.filesAnnounced);
  EXPECT_EQ(1, HOBWStop(1));
  EXPECT_TRUE(mLog.HasPart("HOBWThread::Run shutdown sending TXDone"));
  EXPECT_TRUE(mLog.HasPart("HOBWThread::ProcessStateAux received done"));
  ASSERT_TRUE(WaitServer([](const Counters& c) { return c.sessionsEnded == 1; }));

  Start(0, 1, 5000);
  ExpectFeedDelivered();
  const auto r = Records();
  ASSERT_EQ(7u, r.size());
  EXPECT_EQ("a.xml", r[3].parent);  // the RDF file
  EXPECT_EQ("-", r[6].parent);      // a file of no story comes with its name alone
  EXPECT_EQ(5001u, r[6].sessionID);
}

// The restart takes the new server, mode and template; the id it asks to resume is unknown
// there. A notice between the files of the story passes through raw.
TEST_F(GatewaySessionTest, AfterARejectedFilterAndAGoneAnswerARestartInHtmlModeRendersThePage) {
  owwired::Options first;
  first.files = {{"r.xml", Bytes(5000, 'a')}, {"r.rdf", Bytes(100, 'b')}};
  first.blockSize = 2048;
  first.firstSessionId = 100;
  first.faults.rejectFilter = 0;  // "-FLTR" without a status
  first.faults.goneAtRequest = 1;
  Serve(31, first);
  Start();
  ExpectFeedDelivered();
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux filter rejected"));
  EXPECT_FALSE(mLog.HasPart("filter accepted"));
  EXPECT_EQ(1u, Server().GetCounters().requestsGone);
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux *** Reception too slow, messages lost ***"));
  EXPECT_EQ(1, Stats().mMessagesLost);
  EXPECT_EQ(0, Stats().mMessagesLost);  // cleared by the first read
  StopAndForget();

  owwired::Options options;
  options.blockSize = 2048;  // the XML file takes two blocks, the RDF file one
  options.firstSessionId = 200;
  options.files = {{"harbour-bridge.xml", Example("stories/harbour-bridge.xml")},
                   {"notice.txt", Example("stories/notice.txt")},
                   {"harbour-bridge.rdf", Example("stories/harbour-bridge.rdf")}};
  Serve(80, options);
  Start(2, 1, 100);
  const auto r = Records(5);
  ASSERT_EQ((std::vector<std::string>{"harbour-bridge.xml", "harbour-bridge.xml", "notice.txt",
                                      "harbour-bridge.rdf", "harbour-bridge.htm"}),
            Names(r));
  ExpectFeedDelivered();
  const Delivered& page = r[4];
  EXPECT_EQ("harbour-bridge.xml", page.parent);
  EXPECT_EQ(1, page.first);
  EXPECT_EQ(1, page.last);
  EXPECT_EQ(0u, page.blockNum);
  EXPECT_EQ(200u, page.sessionID);
  EXPECT_EQ(page.data.size() - 1, page.data.find('\0')) << "one NUL, at the end";
  EXPECT_NE(std::string::npos,
            page.data.find("<h1>Sønderhavn harbour bridge reopens after two-year rebuild</h1>"));
}

}  // namespace
}  // namespace owc_test
