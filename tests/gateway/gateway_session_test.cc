#include "gateway/gateway_session.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "session_fixture.h"

namespace {

using namespace owc;       // the state names
using namespace owc_test;  // the received messages
using Sent = std::vector<std::string>;

TEST_F(SessionTest, LogsInFiltersAndRequests) {
  LogIn();
  EXPECT_EQ(kServer, wire.address);
  // Holding an id from the USER answer on, the session beats once while it filters.
  EXPECT_EQ((Sent{"USER", "42:HRTB", "42:FLTR ALL", "42:RQST"}), wire.Sent());
  HOBWStats s = Stats();
  EXPECT_EQ(1, s.mConnected);
  EXPECT_EQ(1, s.mSessionValid);
  EXPECT_EQ(42u, U(s.mSessionID));
  for (const char* line :
       {"HOBWThread::ProcessStateAux OBW_STATE_START",
        "HOBWThread::ProcessStateAux connecting to server 127.0.0.9",
        "HOBWThread::ProcessState RX msg +Tazu Orbrix v1.00.00 v1.00.00",
        "HOBWThread::ProcessStateAux connected to server: +Tazu Orbrix v1.00.00 v1.00.00",
        "HOBWThread::TXUser SessnID 0.", "HOBWThread::ProcessStateAux received session ID 42",
        "HOBWThread::ProcessStateAux filter accepted"}) {
    EXPECT_EQ(2, log.SeverityOf(line)) << line;
  }
}

TEST_F(SessionTest, ResumedLoginBeatsEveryEightSecondsUntilStoriesAreRequested) {
  session.SetSession(77);
  EXPECT_EQ(77u, U(Stats().mSessionID));  // at once, before any connection
  Begin();
  Pass();
  Receive(Hello());
  Pass();  // waiting for the USER answer while holding an id
  EXPECT_EQ((Sent{"77:USER", "77:HRTB"}), wire.Sent());
  EXPECT_TRUE(log.Has("HOBWThread::TXUser SessnID 77."));
  Advance(7950);
  Pass();
  EXPECT_EQ(1, wire.Count("77:HRTB"));
  Advance(100);
  Pass();
  EXPECT_EQ(2, wire.Count("77:HRTB"));
  Receive(UserAck(true, 77));
  Advance(8050);
  Pass();
  ASSERT_EQ(OBW_STATE_WAIT_FILTER_ACK, session.GetState());
  EXPECT_EQ(3, wire.Count("77:HRTB"));
  Receive(FilterAck(true));
  Advance(8100);  // waiting for a story: requests keep the line alive
  Pass();
  EXPECT_EQ(OBW_STATE_WAIT_RQST, session.GetState());
  EXPECT_EQ(3, wire.Count("77:HRTB"));
}

TEST_F(SessionTest, AnswerStatusesDecideWhetherTheLoginGoesOn) {
  session.SetSession(77);
  Begin();
  Pass();
  Receive(Hello());
  Receive(UserAck(true, 42));
  Receive(FilterAck(false));  // a rejected filter does not end the session
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux filter rejected"));
  EXPECT_EQ(OBW_STATE_WAIT_RQST, session.GetState());

  session.ForceState(OBW_STATE_WAIT_FILTER_ACK);
  Receive(FilterAck(false, 503));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux filter error 503"));
  EXPECT_EQ(OBW_STATE_STOP, session.GetState());  // through 9, without DONE
  EXPECT_EQ(0, wire.Count("42:DONE"));

  session.ForceState(OBW_STATE_WAIT_USER_ACK);
  Receive(UserAck(false, 0, 401));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux user ack error 401"));
  EXPECT_EQ(OBW_STATE_STOP, session.GetState());
  EXPECT_FALSE(session.HasSession());
  EXPECT_EQ(0, Stats().mSessionValid);
}

TEST_F(SessionTest, EveryRequestAnswerLeadsToTheNextRequest) {
  LogIn();
  log.Clear();
  Receive(RqstAck(204));
  EXPECT_EQ(2, wire.Count("42:RQST"));
  EXPECT_FALSE(log.HasPart("error"));
  EXPECT_FALSE(log.HasPart("lost"));
  Receive(RqstAck(410));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux *** Reception too slow, messages lost ***"));
  EXPECT_EQ(1, Stats().mMessagesLost);
  EXPECT_EQ(0, Stats().mMessagesLost);  // cleared by the read
  Receive(RqstAck(503));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux unknown error for request: 503"));
  EXPECT_EQ(4, wire.Count("42:RQST"));
}

TEST_F(SessionTest, FilesAreAcknowledgedBlockByBlockCountedAndDelivered) {
  LogIn();
  Receive(File("story.nitf", "story.xml"));
  EXPECT_EQ(1, wire.Count("42:+ACK story.nitf story.xml"));
  EXPECT_STREQ("story.xml", session.GetBlockInfo().mFName);
  EXPECT_STREQ("story.nitf", session.GetBlockInfo().mParentFName);
  EXPECT_TRUE(
      log.Has("HOBWThread::ProcessStateAux begin file transfer: 42:+FILE story.nitf story.xml"));
  Receive(Block(0, "<ni", false));
  EXPECT_EQ(1, wire.Count("42:+ACK 0"));
  EXPECT_EQ(OBW_STATE_RECEIVING, session.GetState());
  Receive(Block(1, "tf/>", true));
  EXPECT_EQ(1, wire.Count("42:+ACK 1"));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux received block 1, 4 bytes"));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux end of file"));
  EXPECT_FALSE(log.HasPart("RX msg 42:+BLK"));  // blocks are not echoed
  EXPECT_EQ(2, wire.Count("42:RQST"));          // the next file is requested at once
  EXPECT_EQ(1u, U(Stats().mFilesTotal));

  Receive(File("a.rdf"));  // one name: no parent
  EXPECT_EQ(1, wire.Count("42:+ACK a.rdf"));
  EXPECT_EQ(nullptr, session.GetBlockInfo().mParentFName);
  Receive(Block(0, "r", true));
  HOBWStats s = Stats();
  EXPECT_EQ(2u, U(s.mFilesTotal));
  EXPECT_EQ(2u, U(s.mFilesToday));

  auto r = sink.WaitFor(3);
  ASSERT_EQ(3u, r.size());
  EXPECT_EQ("<ni", r[0].data);
  EXPECT_EQ(1, r[0].first);
  EXPECT_EQ(0, r[0].last);
  EXPECT_EQ("story.nitf", r[0].parent);
  EXPECT_EQ("tf/>", r[1].data);
  EXPECT_EQ(0, r[1].first);
  EXPECT_EQ(1, r[1].last);
  EXPECT_EQ(42u, r[1].sessionID);
  EXPECT_EQ("a.rdf", r[2].name);
  EXPECT_EQ("-", r[2].parent);
}

TEST_F(SessionTest, SilenceInEveryWaitingStateStopsAndResumesAfterSixteenSeconds) {
  session.SetSession(42);
  Begin();
  Pass();  // opens: silence counts from here
  int round = 0;
  for (uint32_t wait : {OBW_STATE_WAIT_HELLO, OBW_STATE_WAIT_FILTER_ACK, OBW_STATE_WAIT_RQST,
                        OBW_STATE_RECEIVING}) {
    ASSERT_EQ(++round, wire.Opens());
    if (wait != OBW_STATE_WAIT_HELLO) Receive(Hello());
    if (wait >= OBW_STATE_WAIT_FILTER_ACK) Receive(UserAck(true, 42));
    if (wait >= OBW_STATE_WAIT_RQST) Receive(FilterAck(true));
    if (wait == OBW_STATE_RECEIVING) Receive(File("x.xml"));
    ASSERT_EQ(wait, session.GetState());
    log.Clear();
    Advance(12000);  // the limit must be exceeded, not just reached
    Pass();
    ASSERT_EQ(wait, session.GetState());
    Advance(50);
    Pass();
    EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux connected receive timeout")) << wait;
    Pass();
    EXPECT_TRUE(log.Has("HOBWThread::Run OBW_STATE_STOP/begin"));
    EXPECT_EQ(round, wire.Closes());
    EXPECT_EQ(0, Stats().mConnected);
    Advance(16000);
    Pass();
    Pass();
    ASSERT_EQ(OBW_STATE_STOP, session.GetState());
    Advance(50);
    Pass();
    Pass();  // back to the start, which opens again
    EXPECT_TRUE(log.Has("HOBWThread::Run OBW_STATE_STOP/end"));
    ASSERT_EQ(OBW_STATE_WAIT_HELLO, session.GetState());
  }
  EXPECT_EQ(3, wire.Count("42:USER"));  // every login resumed the id
  EXPECT_EQ(0, wire.Count("USER"));
}

TEST_F(SessionTest, AuthorizationTimeoutForgetsTheSessionId) {
  session.SetSession(42);
  Begin();
  Pass();
  Receive(Hello());
  Advance(12050);  // the connected limit does not apply here
  Pass();
  EXPECT_EQ(OBW_STATE_WAIT_USER_ACK, session.GetState());
  Advance(4000);
  Pass();
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux authorization receive timeout"));
  EXPECT_EQ(OBW_STATE_STOP, session.GetState());
  EXPECT_EQ(0, Stats().mSessionValid);
  Pass();
  Advance(16050);
  for (int i = 0; i < 3; ++i) Pass();
  Receive(Hello());
  EXPECT_EQ(1, wire.Count("USER"));  // a new login
}

TEST_F(SessionTest, DoneWhileWaitingForAStoryClosesAndWaitsForTheApplication) {
  LogIn();
  Receive(DoneAck());
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux received done"));
  EXPECT_EQ(1, wire.Closes());
  HOBWStats s = Stats();
  EXPECT_EQ(0, s.mConnected);
  EXPECT_EQ(0, s.mSessionValid);
  EXPECT_EQ(0u, U(s.mSessionID));
  Advance(60000);
  Pass();
  EXPECT_EQ(OBW_STATE_WAIT_RQST, session.GetState());  // no time-out runs
  EXPECT_EQ(1, wire.Opens());
}

TEST_F(SessionTest, DoneBeforeTheNextRequestLeadsToAFreshLogin) {
  LogIn();
  wire.Deliver(RqstAck(204));
  wire.Deliver(DoneAck());
  Pass();  // state 6 without a connection: the request fails
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux TXRqst failed"));
  Pass();
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux OBW_STATE_TERMINATE"));
  Pass();
  Advance(16050);
  for (int i = 0; i < 3; ++i) Pass();
  Receive(Hello());
  EXPECT_EQ(2, wire.Count("USER"));
}

TEST_F(SessionTest, FailuresToOpenOrSendEndInTheStopState) {
  wire.failOpen = true;
  Begin();
  Pass();
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux ::OrbrixWireOpen failed"));
  Pass();
  EXPECT_EQ(OBW_STATE_STOP, session.GetState());
  wire.failOpen = false;
  wire.failType = WCXMLWireMsg::kTypeUser;  // the session must delete what was refused
  session.ForceState(OBW_STATE_START);
  Pass();
  Receive(Hello());
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux TXUser failed"));
  EXPECT_EQ(OBW_STATE_TERMINATE, session.GetState());
  session.ForceState(99);
  Pass();
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux invalid state 99"));
}

std::atomic<int> gHour{12};

TEST_F(SessionTest, DailyResetOncePerDayAtHourZero) {
  session.SetHourSource([] { return gHour.load(); });
  LogIn();
  Receive(File("a.xml"));
  Receive(Block(0, "x", true));
  Advance(5000);
  Pass();
  EXPECT_EQ(5u, U(Stats().mSecsSinceLastFile));
  gHour = 0;
  Pass();
  HOBWStats s = Stats();
  EXPECT_EQ(0u, U(s.mFilesToday));
  EXPECT_EQ(5u, U(s.mMaxSecsBetweenFiles));  // the same pass measures the gap anew
  Receive(File("b.xml"));
  Receive(Block(0, "y", true));
  Pass();  // still hour 0: no second reset
  EXPECT_EQ(1u, U(Stats().mFilesToday));
  gHour = 23;
  Pass();
  gHour = 0;
  Pass();
  s = Stats();
  EXPECT_EQ(0u, U(s.mFilesToday));
  EXPECT_EQ(2u, U(s.mFilesTotal));
}

TEST_F(SessionTest, LongReceivedTextsAreCutInTheLog) {
  LogIn();
  std::string filler(3000, 'u');
  WCXMLWireMsg* unknown = Make<WCXMLWireMsgUnknownAck>(0);
  WCXMLWireMsg* hello = Hello();
  WCXMLWireMsg* file = File("long.xml");
  for (WCXMLWireMsg* m : {unknown, hello, file}) {
    m->AppendData(filler.data(), 2500);
    wire.Deliver(m);
  }
  Pass();
  size_t echo = 0, connected = 0;
  for (const auto& l : log.Lines()) {
    if (l.text.rfind("HOBWThread::ProcessState RX msg -UNKN", 0) == 0) echo = l.text.size();
    if (l.text.rfind("HOBWThread::ProcessStateAux connected to", 0) == 0) connected = l.text.size();
  }
  EXPECT_EQ(1023u, echo);
  EXPECT_EQ(2047u, connected);
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux begin file transfer: "));
}

}  // namespace
