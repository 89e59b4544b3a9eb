// SPDX-License-Identifier: MIT
// The gateway session's life through the C interface against the reference server.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "integration_support.h"

namespace owc_test {
namespace {

using GatewaySessionTest = owc_test::GatewayTest;

// The server's answers wait until the test moves the server's own clock, so the session sits
// in each login state as long as the test wants.
class GatewayHeldTest : public owc_test::GatewayTest {
 protected:
  void ServeHeld(uint8_t last, owwired::Options options) {
    options.faults.delayMs = kHoldMs;
    options.clockMs = [this] { return mServerMs.load(); };
    Serve(last, std::move(options));
  }
  void Release() {
    mServerMs += kHoldMs;
    Server().Wake();
  }
  bool WaitLog(const std::string& part) {
    return WaitUntil([&] { return mLog.HasPart(part); });
  }
  // Moves the module clock and returns once a session pass has seen the new time (the
  // seconds since the last file, updated every pass, show it).
  static void AdvanceSeen(uint32_t ms) {
    const uint32_t before = Stats().mSecsSinceLastFile;
    AdvanceMs(ms);
    ASSERT_TRUE(WaitUntil([&] { return Stats().mSecsSinceLastFile >= before + ms / 1000; }));
  }

  static constexpr uint64_t kHoldMs = 1000000;
  std::atomic<uint64_t> mServerMs{1};
};

TEST_F(GatewaySessionTest, RejectedFilterAndAGoneAnswerAreLoggedAndStoriesStillFlow) {
  owwired::Options options;
  options.files = {{"r.xml", Bytes(5000, 'a')}, {"r.rdf", Bytes(100, 'b')}};
  options.blockSize = 2048;
  options.faults.rejectFilter = 0;  // "-FLTR" without a status
  options.faults.goneAtRequest = 1;
  Serve(31, options);
  Start();
  ExpectFeedDelivered();
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux filter rejected"));
  EXPECT_FALSE(mLog.HasPart("filter accepted"));
  EXPECT_EQ(1u, Server().GetCounters().requestsGone);
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux *** Reception too slow, messages lost ***"));
  EXPECT_EQ(1, Stats().mMessagesLost);
  EXPECT_EQ(0, Stats().mMessagesLost);  // cleared by the first read
}

// DONE from the server ends the session without a time-out or a reconnection; the next
// start logs in anew and the new session walks the feed from its start.
TEST_F(GatewayHeldTest, DoneFromTheServerWhileWaitingForAStoryLeavesTheSessionIdle) {
  owwired::Options options;
  options.files = {{"n.xml", Bytes(1500, 'n')}, {"n.rdf", Bytes(20, 'm')}};
  options.faults.doneAfterFiles = 1;
  options.faults.faultyConnections = 1;
  ServeHeld(41, options);
  Start();
  // Hello, USER and FLTR answers, FILE and its one block, each let through once queued.
  auto sent = [](const owwired::Counters& c) { return c.messagesSent - c.heartbeats; };
  for (uint64_t n = 1; n <= 5; ++n) {
    ASSERT_TRUE(WaitServer([&](const owwired::Counters& c) { return sent(c) == n; }));
    Release();
  }
  // The DONE answering the block's acknowledgement goes once the next file was asked for.
  ASSERT_TRUE(WaitServer([&](const owwired::Counters& c) { return sent(c) == 6; }));
  ASSERT_TRUE(WaitUntil([this] { return Count("OBW_STATE_RQST_START") == 2; }));
  Release();
  ASSERT_TRUE(WaitLog("HOBWThread::ProcessStateAux received done"));
  ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.connectionsOpen == 0; }));
  EXPECT_EQ(1u, Server().GetCounters().sessionsEnded);
  // The line is logged before the session is forgotten, so the record may lag it a little.
  ASSERT_TRUE(WaitUntil([this] {
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

  mServerMs = kHoldMs * 100;  // nothing held any more
  Server().Wake();
  Start();
  ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.filesDelivered == 3; }));
  EXPECT_EQ(2u, Server().GetCounters().sessionsCreated);
  const auto r = Records(3);
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ("n.xml", r[1].name);
  EXPECT_TRUE(options.files[1].second == r[2].data);
}

// A stop without DONE discards what waits for the application and leaves the server's session
// resumable; a stop with DONE ends it, so asking for it again brings a new one from the start.
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
  ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.filesDelivered == 4; }));
  ASSERT_TRUE(WaitUntil([] { return Stats().mQueueLen == 6; }));  // one is in the callback
  std::thread stopper([] { HOBWStop(0); });
  const bool exiting = WaitUntil([&] { return mLog.HasPart("HOBWThread::Run shutdown exiting"); });
  mRelease = true;
  stopper.join();
  ASSERT_TRUE(exiting);
  EXPECT_EQ(1u, Records(1).size());
  EXPECT_TRUE(mLog.Has("HOBWQueueThread::Run 6 queued blocks discarded"));
  HOBWStats s = Stats();
  EXPECT_EQ(0u, s.mConnected + s.mSessionValid + s.mSessionID + s.mQueueLen)
      << "a connection, session or queue outlived the stop";
  StopAndForget();

  // Resumed: the server's cursor is past every file, so nothing comes again.
  Start(0, 1, 5000);
  ASSERT_TRUE(WaitServer([](const owwired::Counters& c) {
    return c.sessionsResumed == 1 && c.requestsEmpty != 0 && c.connectionsAccepted == 2;
  }));
  const owwired::Counters c = Server().GetCounters();
  EXPECT_EQ(0u, c.sessionsEnded);
  EXPECT_EQ(4u, c.filesAnnounced);
  EXPECT_EQ(1, HOBWStop(1));
  EXPECT_TRUE(mLog.HasPart("HOBWThread::Run shutdown sending TXDone"));
  EXPECT_TRUE(mLog.HasPart("HOBWThread::ProcessStateAux received done"));
  ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.sessionsEnded == 1; }));

  Start(0, 1, 5000);
  ExpectFeedDelivered();
  const auto r = Records();
  ASSERT_EQ(7u, r.size());
  EXPECT_EQ("a.xml", r[3].parent);  // the RDF file
  EXPECT_EQ("-", r[6].parent);      // a file of no story comes with its name alone
  EXPECT_EQ(5001u, r[6].sessionID);
}

// A peer scripted message by message, for what the reference server never sends.
class GatewayScriptedPeerTest : public owc_test::GatewayTest {
 protected:
  // 127.0.4.N: a range of these tests' own.
  static uint32_t Scripted(uint8_t last) { return 0x7F000400u | last; }
  static std::string M(const std::string& text) { return owc_test::WireText(text); }
  static std::string Block(uint32_t number, const std::string& data, const std::string& marker) {
    return owc_test::WireBlock("9:+BLK" + std::to_string(number) + ":", data, marker);
  }
  // Starts the gateway towards the peer and logs it in as session 9; it then waits for
  // the answer to its first RQST.
  void LogIn(owc_test::RawPeer& peer, uint8_t last) {
    ASSERT_TRUE(peer.Bound());
    mAddress = Scripted(last);
    Start();
    ASSERT_TRUE(peer.Accept());
    ASSERT_TRUE(peer.SendAll(M("+Tazu wire v1.00.00 v1.00.00")));
    ASSERT_TRUE(peer.ReadUntil(M("USER")));
    ASSERT_TRUE(peer.SendAll(M("9:+USER")));
    ASSERT_TRUE(peer.ReadUntil(M("9:FLTR ALL")));
    ASSERT_TRUE(peer.SendAll(M("9:+FLTR")));
    ASSERT_TRUE(peer.ReadUntil(M("9:RQST")));
  }
};

// Only "BLKe" ends a file: a block with any other four marker bytes, or with another byte
// where its NUL stands, is acknowledged and the next block continues the same file.
TEST_F(GatewayScriptedPeerTest, AnyMarkerButTheLastOneMeansTheFileGoesOn) {
  owc_test::RawPeer peer(Scripted(1));
  LogIn(peer, 1);
  ASSERT_TRUE(peer.SendAll(M("9:+FILE m.xml")));
  ASSERT_TRUE(peer.ReadUntil(M("9:+ACK m.xml")));
  ASSERT_TRUE(peer.SendAll(Block(0, "first ", "XXXX")));
  ASSERT_TRUE(peer.ReadUntil(M("9:+ACK 0")));
  std::string odd = Block(1, "second ", "BLKm");
  odd.back() = 'Q';
  ASSERT_TRUE(peer.SendAll(odd));
  ASSERT_TRUE(peer.ReadUntil(M("9:+ACK 1")));
  ASSERT_TRUE(peer.SendAll(Block(2, "third", "blke")));
  ASSERT_TRUE(peer.ReadUntil(M("9:+ACK 2")));
  ASSERT_TRUE(peer.ReadUntil(M("9:RQST")));  // the file ended: the next one is asked for
  std::string problems;
  const owc_test::Feed files = owc_test::Rebuild(Records(3), &problems);
  EXPECT_EQ("", problems);
  ASSERT_EQ(1u, files.size());
  EXPECT_EQ("first second third", files[0].second);
  EXPECT_FALSE(mLog.HasPart("can never be parsed"));
}

}  // namespace
}  // namespace owc_test
