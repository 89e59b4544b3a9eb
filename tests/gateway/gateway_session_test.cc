// SPDX-License-Identifier: MIT
// The gateway session on a fake wire, driven pass by pass on the test's own thread.
#include "gateway/gateway_session.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/block_sink.h"
#include "support/clock.h"
#include "support/gate.h"
#include "support/log_capture.h"
#include "support/refused_allocations.h"
#include "support/wait.h"
#include "wire/client_port.h"

namespace owc_test {
namespace {

using namespace owc;  // the state names
using Texts = std::vector<std::string>;

// Stands in for the wire client: keeps the images the session sends, with "<open>" and
// "<close>" for the connection. Steps run elsewhere send from other threads: gSentMutex.
std::mutex gSentMutex;
struct FakeWire {
  Texts sent;
  std::function<void(const std::string&)> onSend;  // called with each image, lock not held
  OrbrixWireRXCallback callback = nullptr;
  uintptr_t user = 0;
  uint32_t address = 0;         // of the last open
  std::vector<uint32_t> holds;  // the flags of every hold, in order
  bool failOpen = false;
  uint32_t failType = WCXMLWireMsg::kTypeInvalid;   // sending this type fails
  uint32_t throwType = WCXMLWireMsg::kTypeInvalid;  // and this one runs out of memory
  int Count(const std::string& image) const {
    return static_cast<int>(std::count(sent.begin(), sent.end(), image));
  }
} gWire;

int32_t Open(uintptr_t* handle, uint32_t address, OrbrixWireRXCallback cb, uintptr_t user) {
  gWire.address = address;
  gWire.callback = cb;
  gWire.user = user;
  *handle = gWire.failOpen ? 0 : 1;
  if (!gWire.failOpen) gWire.sent.push_back("<open>");
  return gWire.failOpen ? 1 : 0;
}
// Like the wire client: takes (and destroys) the message only when it returns 0.
int32_t TX(uintptr_t handle, WCXMLWireMsg* msg) {
  if (msg->GetType() == gWire.throwType) throw std::bad_alloc();
  if (handle == 0 || msg->GetType() == gWire.failType) return 1;
  const std::string image(msg->GetMsgBuf(), msg->GetMsgLen() - 1);
  delete msg;
  std::function<void(const std::string&)> onSend;
  {
    std::lock_guard<std::mutex> lock(gSentMutex);
    gWire.sent.push_back(image);
    onSend = gWire.onSend;
  }
  if (onSend) onSend(image);
  return 0;
}
Texts Sent() {
  std::lock_guard<std::mutex> lock(gSentMutex);
  return gWire.sent;
}
int32_t Close(uintptr_t handle) {
  if (handle != 0) gWire.sent.push_back("<close>");
  return 0;
}
void Hold(uintptr_t handle, uint32_t flags) {
  if (handle != 0) gWire.holds.push_back(flags);
}

const char kHello[] = "+Tazu Orbrix v1.00.00 v1.00.00";

// The wire image of block `number` of session 42.
std::string Blk(uint32_t number, const std::string& data, bool last) {
  std::string length{static_cast<char>(data.size() >> 8), static_cast<char>(data.size())};
  return "42:+BLK" + std::to_string(number) + ":" + length + data + (last ? "BLKe" : "BLKm");
}

class TestSession : public HOBWThread {
 public:
  TestSession() : HOBWThread(WireOps{&Open, &TX, &Close, &Hold}) {}
  using HOBWThread::BeginRun, HOBWThread::ForceState, HOBWThread::GetQueuedBytes,
      HOBWThread::GetState, HOBWThread::IsDoneSent, HOBWThread::NothingToDo, HOBWThread::RunPass,
      HOBWThread::SetStepsElsewhere, HOBWThread::ShutDown;
};

uint32_t U(uint32_t packedField) { return packedField; }

class GatewaySessionTest : public ::testing::Test {
 protected:
  explicit GatewaySessionTest(uint32_t options = 0, uint32_t queueLimit = 0) {
    gWire = FakeWire();
    AdvanceMs(100000);  // far from 0: a time-out counted from 0 would fire at once
    session.SetServer(0x7F000009);
    session.SetCallback(&BlockSink::Callback, sink.User());
    session.SetOptions(options);
    session.SetQueueLimit(queueLimit);
    session.SetStepsElsewhere(false);  // pass by pass; the test of steps elsewhere sets it
    session.BeginRun();
  }
  ~GatewaySessionTest() override {
    gate.Open();  // the shut-down waits for the delivery thread
    ShutDown();
  }
  // Passes until the delivery thread's progress shows in what the session sent.
  void PassUntil(const std::function<bool()>& condition) {
    ASSERT_TRUE(WaitUntil([&] {
      Pass();
      return condition();
    }));
  }
  static Texts SentWithoutBeats() {
    Texts out;
    for (const auto& t : gWire.sent)
      if (t.find("HRTB") == std::string::npos) out.push_back(t);
    return out;
  }

  void Pass(int passes = 1) {
    while (passes-- > 0) session.RunPass();
  }
  void After(uint32_t ms, int passes = 1) {
    AdvanceMs(ms);
    Pass(passes);
  }
  // Hands each message in as the wire client's parser builds it from its image, each
  // followed by a pass unless told otherwise.
  void Rx(std::initializer_list<std::string> images, bool pass = true) {
    for (const std::string& image : images) {
      parser.ParseRXMsg(image.c_str(), static_cast<uint32_t>(image.size() + 1));
      gWire.callback(parser.GetRXMsg(), gWire.user);
      if (pass) Pass();
    }
  }
  // Logs in as session 42 and requests stories: state 7. Held, every callback waits at the gate.
  enum Callbacks { kFree, kHeld };
  void LogIn(Callbacks callbacks = kFree) {
    if (callbacks == kHeld) sink.onCall = [this](const HOBWBlockQElt&) { gate.Pass(); };
    Pass();
    Rx({kHello, "42:+USER", "42:+FLTR"});
    ASSERT_EQ(OBW_STATE_WAIT_RQST, session.GetState());
  }
  // Ends the run; `peer` acts on another thread once the session waits for the answer
  // to its DONE.
  void ShutDown(bool sendDone = false, const std::function<void()>& peer = nullptr) {
    if (shutDown) return;
    shutDown = true;
    session.SetShutdownParams(sendDone);
    std::thread other([&] {
      if (peer &&
          WaitUntil([&] { return log.Has("HOBWThread::Run shutdown waiting for done ack"); }))
        peer();
    });
    session.ShutDown();
    other.join();
  }
  HOBWStats Stats() {
    HOBWStats s;
    session.GetStats(&s);
    return s;
  }
  // "connected/session valid/session id" of the statistics.
  std::string Session() {
    HOBWStats s = Stats();
    return std::to_string(s.mConnected) + "/" + std::to_string(s.mSessionValid) + "/" +
           std::to_string(U(s.mSessionID));
  }

  owc_test::LogCapture log;
  Gate gate;
  BlockSink sink;
  TestSession session;
  WCOWClientPort parser;
  bool shutDown = false;
};

TEST_F(GatewaySessionTest, LogsInAndEveryRequestAnswerLeadsToTheNextRequestWithoutPausing) {
  LogIn();
  EXPECT_EQ(0x7F000009u, gWire.address);
  EXPECT_EQ("1/1/42", Session());
  for (const char* line :
       {"HOBWThread::ProcessStateAux OBW_STATE_START",
        "HOBWThread::ProcessStateAux connecting to server 127.0.0.9",
        "HOBWThread::ProcessState RX msg +Tazu Orbrix v1.00.00 v1.00.00",
        "HOBWThread::ProcessStateAux connected to server: +Tazu Orbrix v1.00.00 v1.00.00",
        "HOBWThread::TXUser SessnID 0.", "HOBWThread::ProcessStateAux received session ID 42",
        "HOBWThread::ProcessStateAux filter accepted"}) {
    EXPECT_EQ(2, log.SeverityOf(line)) << line;
  }
  Rx({"42:-RQST (204)", "42:-RQST (410)"});
  EXPECT_FALSE(log.HasPart("error"));
  // Between passes the session waits only where a pass would do nothing: a queued message,
  // or a state that sends on its pass, goes on at once.
  EXPECT_TRUE(session.NothingToDo());
  Rx({"42:-RQST (503)"}, false);
  EXPECT_FALSE(session.NothingToDo());
  Pass();  // the answer, then the next request at once
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux unknown error for request: 503"));
  EXPECT_TRUE(session.NothingToDo());
  for (uint32_t state = OBW_STATE_START; state <= OBW_STATE_STOP; ++state) {
    session.ForceState(state);
    const bool waits = state == OBW_STATE_RECEIVING || state == OBW_STATE_STOP ||
                       (state % 2 == 1 && state != OBW_STATE_TERMINATE);  // the WAIT_ states
    EXPECT_EQ(waits, session.NothingToDo()) << "state " << state;
  }
  session.ForceState(OBW_STATE_WAIT_RQST);
  // Holding an id from the USER answer on, the session beats once while it filters.
  ShutDown();  // without DONE: nothing more is sent, and the session is forgotten
  EXPECT_EQ((Texts{"<open>", "USER", "42:HRTB", "42:FLTR ALL", "42:RQST", "42:RQST", "42:RQST",
                   "42:RQST", "<close>"}),
            gWire.sent);
  EXPECT_EQ("0/0/0", Session());
}

std::atomic<int> gHour{12};

TEST_F(GatewaySessionTest, FilesAreAcknowledgedDeliveredAndCountedWithADailyResetAtHourZero) {
  session.SetHourSource([] { return gHour.load(); });
  LogIn();
  Rx({"42:+FILE story.nitf story.xml", Blk(0, "<ni", false)});
  EXPECT_EQ(OBW_STATE_RECEIVING, session.GetState());
  Rx({Blk(1, "tf/>", true), "42:+FILE a.rdf", Blk(0, "r", true)});
  for (const char* line :
       {"HOBWThread::ProcessStateAux begin file transfer: 42:+FILE story.nitf story.xml",
        "HOBWThread::ProcessStateAux received block 1, 4 bytes",
        "HOBWThread::ProcessStateAux end of file"}) {
    EXPECT_TRUE(log.Has(line)) << line;
  }
  EXPECT_FALSE(log.HasPart("RX msg 42:+BLK"));  // blocks are not echoed
  // The next file is requested as soon as one ends.
  EXPECT_EQ(
      (Texts{"<open>", "USER", "42:HRTB", "42:FLTR ALL", "42:RQST", "42:+ACK story.nitf story.xml",
             "42:+ACK 0", "42:+ACK 1", "42:RQST", "42:+ACK a.rdf", "42:+ACK 0", "42:RQST"}),
      gWire.sent);
  EXPECT_EQ((Texts{"42 10 #0 story.xml<story.nitf <ni", "42 01 #1 story.xml<story.nitf tf/>",
                   "42 11 #0 a.rdf<- r"}),
            owc_test::Describe(sink.WaitFor(3)));
  EXPECT_EQ(2u, U(Stats().mFilesToday));
  After(5000);
  EXPECT_EQ(5u, U(Stats().mSecsSinceLastFile));
  gHour = 0;
  Pass();
  HOBWStats s = Stats();
  EXPECT_EQ(0u, U(s.mFilesToday));
  EXPECT_EQ(5u, U(s.mMaxSecsBetweenFiles));  // the same pass measures the gap anew
  Rx({"42:+FILE b.xml", Blk(0, "y", true)});
  Pass();  // still hour 0: no second reset
  EXPECT_EQ(1u, U(Stats().mFilesToday));
  gHour = 23;
  Pass();
  gHour = 0;
  Pass();
  s = Stats();
  EXPECT_EQ(0u, U(s.mFilesToday));
  EXPECT_EQ(3u, U(s.mFilesTotal));
}

TEST_F(GatewaySessionTest, ResumedLoginBeatsEveryEightSecondsAndAnswerStatusesDecideHowItGoesOn) {
  session.SetSession(77);
  EXPECT_EQ("0/1/77", Session());  // at once, before any connection
  Pass();
  Rx({kHello});
  Pass();  // waiting for the USER answer while holding an id: one beat at once
  EXPECT_TRUE(log.Has("HOBWThread::TXUser SessnID 77."));
  After(7950);
  EXPECT_EQ(1, gWire.Count("77:HRTB"));
  After(100);
  EXPECT_EQ(2, gWire.Count("77:HRTB"));
  Rx({"77:+USER"});
  After(8050);
  Rx({"77:-FLTR"});  // a rejected filter does not end the session
  After(8100);       // waiting for a story: requests keep the line alive
  EXPECT_EQ((Texts{"<open>", "77:USER", "77:HRTB", "77:HRTB", "77:FLTR ALL", "77:HRTB", "77:RQST"}),
            gWire.sent);
  session.ForceState(OBW_STATE_WAIT_FILTER_ACK);
  Rx({"77:-FLTR (503)"});
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux filter error 503"));
  EXPECT_EQ(OBW_STATE_STOP, session.GetState());  // through 9, without DONE
  session.ForceState(OBW_STATE_WAIT_USER_ACK);
  Rx({"-USER (401)"});
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux user ack error 401"));
  EXPECT_EQ(OBW_STATE_STOP, session.GetState());
  EXPECT_EQ(0, Stats().mSessionValid);
  EXPECT_EQ(0, gWire.Count("77:DONE"));
}

// Each round waits in one state until its limit is exceeded (reached is not enough), then
// through the stop state's pause to a new connection, which resumes the id while valid.
TEST_F(GatewaySessionTest, SilenceInEveryWaitingStateStopsAndConnectsAnewSixteenSecondsLater) {
  session.SetSession(42);
  Pass();  // opens: silence counts from here
  for (uint32_t state : {OBW_STATE_WAIT_HELLO, OBW_STATE_WAIT_FILTER_ACK, OBW_STATE_WAIT_RQST,
                         OBW_STATE_RECEIVING, OBW_STATE_WAIT_USER_ACK}) {
    SCOPED_TRACE(state);
    if (state != OBW_STATE_WAIT_HELLO) Rx({kHello});
    if (state >= OBW_STATE_WAIT_FILTER_ACK) Rx({"42:+USER"});
    if (state >= OBW_STATE_WAIT_RQST) Rx({"42:+FLTR"});
    if (state == OBW_STATE_RECEIVING) Rx({"42:+FILE x.xml"});
    After(state == OBW_STATE_WAIT_USER_ACK ? 16000 : 12000);
    ASSERT_EQ(state, session.GetState());
    After(50, 2);  // the time-out, then the stop state closes
    EXPECT_EQ(0, Stats().mConnected);
    After(16000, 2);
    ASSERT_EQ(OBW_STATE_STOP, session.GetState());
    After(50, 2);  // back to the start, which opens again
    ASSERT_EQ(OBW_STATE_WAIT_HELLO, session.GetState());
  }
  EXPECT_EQ(4u, log.Count("HOBWThread::ProcessStateAux connected receive timeout"));
  EXPECT_EQ(1u, log.Count("HOBWThread::ProcessStateAux authorization receive timeout"));
  EXPECT_EQ(5u, log.Count("HOBWThread::Run OBW_STATE_STOP/begin"));
  EXPECT_EQ(5u, log.Count("HOBWThread::Run OBW_STATE_STOP/end"));
  EXPECT_EQ(5, gWire.Count("<close>"));
  // Without an answer to USER the id is forgotten: the last login is a new one.
  Rx({kHello});
  EXPECT_EQ(4, gWire.Count("42:USER"));
  EXPECT_EQ(1, gWire.Count("USER"));
  EXPECT_EQ("1/0/0", Session());
}

// DONE that overtakes the next request: state 6 finds no connection and starts afresh.
TEST_F(GatewaySessionTest, DoneBeforeTheNextRequestLeadsToAFreshLogin) {
  LogIn();
  Rx({"42:-RQST (204)", "42:+DONE"}, false);
  Pass(3);
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux TXRqst failed"));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux OBW_STATE_TERMINATE"));
  After(16050, 3);
  Rx({kHello});
  EXPECT_EQ(2, gWire.Count("USER"));
}

TEST_F(GatewaySessionTest, FailuresToOpenOrSendEndInTheStopState) {
  gWire.failOpen = true;
  Pass(2);
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux ::OrbrixWireOpen failed"));
  EXPECT_EQ(OBW_STATE_STOP, session.GetState());
  gWire.failOpen = false;
  gWire.failType = WCXMLWireMsg::kTypeUser;  // the session must delete what was refused
  session.ForceState(OBW_STATE_START);
  Pass();
  Rx({kHello});
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux TXUser failed"));
  EXPECT_EQ(OBW_STATE_TERMINATE, session.GetState());
  session.ForceState(99);
  Pass();
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::ProcessStateAux invalid state 99"));
}

// A file whose names cannot be kept, or a pass that runs out of memory anywhere, ends the
// connection as a failed request does; the session connects anew after the stop's pause.
TEST_F(GatewaySessionTest, RunningOutOfMemoryEndsTheConnection) {
  LogIn();
  const auto stops = [&] {
    Pass();
    const bool stopped = session.GetState() == OBW_STATE_STOP;  // through terminate
    session.ForceState(OBW_STATE_WAIT_RQST);
    return !stopped;
  };
  EXPECT_EQ((Texts{"HOBWThread::ProcessStateAux new cbInfo.mFName [] failed",
                   "HOBWThread::ProcessStateAux new cbInfo.mParentFName [] failed"}),
            FailuresWhenRefused(log, {0, 1}, stops, [&] { Rx({"42:+FILE p.xml s.xml"}, false); }));

  gWire.sent.clear();
  gWire.throwType = WCXMLWireMsg::kTypeRequest;
  session.ForceState(OBW_STATE_RQST_START);
  Pass();
  EXPECT_EQ(0, log.SeverityOf("HOBWThread::Run out of memory, ending the connection"));
  EXPECT_EQ(OBW_STATE_TERMINATE, session.GetState());
  Pass(2);
  EXPECT_EQ(Texts{"<close>"}, gWire.sent);
  gWire.throwType = WCXMLWireMsg::kTypeInvalid;
  After(16050, 3);
  Rx({kHello});
  EXPECT_EQ((Texts{"<close>", "<open>", "42:USER"}), gWire.sent);
}

TEST_F(GatewaySessionTest, LongReceivedTextsAreCutInTheLog) {
  LogIn();
  auto* unknown = new WCXMLWireMsgUnknownAck;
  auto* file = new WCXMLWireMsgRequestFileAck;
  ASSERT_TRUE(unknown->SetInfo(0) && file->SetInfo(42, "long.xml", nullptr));
  const std::string filler(2500, 'u');
  for (WCXMLWireMsg* m : std::vector<WCXMLWireMsg*>{unknown, new WCXMLWireMsgHello, file}) {
    m->AppendData(filler.data(), 2500);
    gWire.callback(m, gWire.user);
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

// The peer answers DONE, or stays silent while the clock reaches and then passes 12 s; the
// shut-down must still wait when it acts. An unanswered DONE is forgotten with its
// connection: a stop without DONE after it has nothing to wait for (the module clock does
// not move then, so a wait for an answer would never end), and the next run sends its own.
TEST_F(GatewaySessionTest, ShutDownWaitsTwelveSecondsForTheAnswerToDone) {
  enum Stop { kAnswered, kUnanswered, kWithoutDone };
  int run = 0, dones = 0;
  for (Stop stop : {kAnswered, kUnanswered, kWithoutDone, kAnswered}) {
    SCOPED_TRACE(run);
    if (run++ > 0) {
      shutDown = false;
      session.BeginRun();
    }
    LogIn();
    bool early = false;
    dones += stop != kWithoutDone;
    ShutDown(
        stop != kWithoutDone, stop == kWithoutDone ? std::function<void()>() : [&] {
          if (stop == kUnanswered) AdvanceMs(HOBWThread::kDoneWaitMs);
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
          early = log.HasPart("shutdown closing handle");
          if (stop == kAnswered) Rx({"42:+DONE"}, false);
          AdvanceMs(50);
        });
    EXPECT_FALSE(early);
    EXPECT_EQ(stop == kAnswered, log.Has("HOBWThread::ProcessStateAux received done"));
    EXPECT_EQ(dones, gWire.Count("42:DONE"));
    EXPECT_FALSE(session.IsDoneSent());
    EXPECT_EQ("0/0/0", Session());
    EXPECT_EQ(0u, U(Stats().mQueueLen));
    EXPECT_TRUE(log.Has("HOBWQueueThread::Run thread terminated"));
    log.Clear();
  }
}

TEST_F(GatewaySessionTest, ByDefaultABlockIsAcknowledgedOnReceiptAndADrainWaitsForItsCallback) {
  LogIn(kHeld);
  Rx({"42:+FILE a.xml", Blk(0, "x", true)});
  ASSERT_TRUE(gate.WaitEntered());
  EXPECT_EQ((Texts{"42:+ACK a.xml", "42:+ACK 0", "42:RQST"}),
            Texts(gWire.sent.end() - 3, gWire.sent.end()));
  EXPECT_EQ(1u, U(Stats().mFilesTotal));
  EXPECT_TRUE(gWire.holds.empty());
  EXPECT_EQ(1, session.Drain(0));
  EXPECT_EQ(1, session.Drain(20));  // the callback still runs
  gate.Open();
  EXPECT_EQ(0, session.Drain(10000));
  ShutDown();
  EXPECT_EQ(2, session.Drain(10000));  // no session runs
}

class GatewaySessionAckAfterDeliveryTest : public GatewaySessionTest {
 protected:
  GatewaySessionAckAfterDeliveryTest() : GatewaySessionTest(HOBW_ACK_AFTER_DELIVERY) {}
};

// While the first callback is held, no block is acknowledged, no file requested and no
// silence counted, however long it takes; the session beats instead. Once released, the
// ACKs go out in order, then the next request, and silence counts again.
TEST_F(GatewaySessionAckAfterDeliveryTest,
       BlocksAreAcknowledgedInOrderOnlyOnceTheirCallbackReturned) {
  LogIn(kHeld);
  Rx({"42:+FILE story.nitf story.xml", Blk(0, "<ni", false)});
  ASSERT_TRUE(gate.WaitEntered());
  Rx({Blk(1, "tf/>", true)});
  const size_t beats = gWire.Count("42:HRTB");
  After(13000, 3);
  After(13000, 3);
  EXPECT_EQ(OBW_STATE_RECEIVING, session.GetState());
  EXPECT_FALSE(log.HasPart("receive timeout"));
  EXPECT_EQ(1, Stats().mConnected);
  EXPECT_EQ(beats + 2, static_cast<size_t>(gWire.Count("42:HRTB")));
  EXPECT_EQ(0u, U(Stats().mFilesTotal));
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux end of file"));  // as it arrived
  ASSERT_FALSE(gWire.holds.empty());
  EXPECT_EQ(kHoldSilence, gWire.holds.back());  // the wire client's time-out is held too
  EXPECT_EQ((Texts{"<open>", "USER", "42:FLTR ALL", "42:RQST", "42:+ACK story.nitf story.xml"}),
            SentWithoutBeats());

  gate.Open();
  sink.WaitFor(2);
  PassUntil([] { return gWire.Count("42:RQST") == 2; });
  EXPECT_EQ((Texts{"<open>", "USER", "42:FLTR ALL", "42:RQST", "42:+ACK story.nitf story.xml",
                   "42:+ACK 0", "42:+ACK 1", "42:RQST"}),
            SentWithoutBeats());
  EXPECT_EQ(1u, U(Stats().mFilesTotal));
  EXPECT_EQ(0u, gWire.holds.back());
  After(12050, 2);
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux connected receive timeout"));
}

// A hold set in the callback of a file's last block comes before the next request: the
// session stays logged in, beating instead of asking, without a time-out, until released.
TEST_F(GatewaySessionAckAfterDeliveryTest,
       AHoldSetByTheLastBlocksCallbackStopsTheNextRequestUntilReleased) {
  sink.onCall = [this](const HOBWBlockQElt& rec) {
    if (rec.mLastBlock == 1) session.HoldRequests(true);
  };
  LogIn();
  Rx({"42:+FILE a.xml", Blk(0, "x", false), Blk(1, "y", true)});
  PassUntil([] { return gWire.Count("42:+ACK 1") == 1; });
  const size_t beats = gWire.Count("42:HRTB");
  for (int i = 0; i < 3; ++i) {
    After(8050, 2);
    Rx({"42:+HRTB"});  // the server's answer to each beat
  }
  EXPECT_EQ((Texts{"<open>", "USER", "42:FLTR ALL", "42:RQST", "42:+ACK a.xml", "42:+ACK 0",
                   "42:+ACK 1"}),
            SentWithoutBeats());
  EXPECT_EQ(beats + 3, static_cast<size_t>(gWire.Count("42:HRTB")));
  EXPECT_FALSE(log.HasPart("receive timeout"));
  EXPECT_EQ(OBW_STATE_RQST_START, session.GetState());
  EXPECT_EQ(1u, U(Stats().mFilesTotal));
  session.HoldRequests(false);
  Pass();
  EXPECT_EQ("42:RQST", SentWithoutBeats().back());
}

// A block that comes again on the resumed session while its first copy is still held is
// acknowledged only once that copy was delivered; it is not delivered twice.
TEST_F(GatewaySessionAckAfterDeliveryTest, ARepeatAfterAResumptionWaitsForTheFirstCopysDelivery) {
  LogIn(kHeld);
  Rx({"42:+FILE a.xml", Blk(0, "x", false)});
  ASSERT_TRUE(gate.WaitEntered());
  session.ForceState(OBW_STATE_STOP);  // the connection breaks
  Pass();
  After(16050, 3);  // the stop state's pause, then a new connection
  ASSERT_EQ(OBW_STATE_WAIT_HELLO, session.GetState());
  Rx({kHello, "42:+USER", "42:+FLTR", "42:+FILE a.xml", Blk(0, "x", false), Blk(1, "y", true)});
  EXPECT_EQ(0, gWire.Count("42:+ACK 0"));
  gate.Open();
  PassUntil([] { return gWire.Count("42:RQST") == 3; });
  EXPECT_EQ((Texts{"42:+ACK a.xml", "42:+ACK 0", "42:+ACK 1", "42:RQST"}),
            Texts(gWire.sent.end() - 4, gWire.sent.end()));
  EXPECT_EQ((Texts{"42 10 #0 a.xml<- x", "42 01 #1 a.xml<- y"}),
            owc_test::Describe(sink.WaitFor(2)));
  EXPECT_EQ(1u, U(Stats().mFilesTotal));
}

// Acknowledging after delivery, a long file is read only a little ahead of its callback:
// past kAckedQueueBytes the session takes no message and holds reading, without the log
// line of the configured limit, and goes on once the callback catches up.
TEST_F(GatewaySessionAckAfterDeliveryTest, ALongFileIsReadOnlyALittleAheadOfItsCallback) {
  LogIn(kHeld);
  const std::string data(65000, 'd');
  const uint32_t fit = HOBWThread::kAckedQueueBytes / 65000 + 1;  // the last one passes
  Rx({"42:+FILE long.xml"});
  for (uint32_t i = 0; i < fit; ++i) Rx({Blk(i, data, false)});
  ASSERT_TRUE(gate.WaitEntered());
  EXPECT_EQ(kHoldReading | kHoldSilence, gWire.holds.back());
  Rx({Blk(fit, data, true)});
  EXPECT_GE(session.GetQueuedBytes(), HOBWThread::kAckedQueueBytes);
  EXPECT_LT(session.GetQueuedBytes(), HOBWThread::kAckedQueueBytes + 66000u);  // not taken
  EXPECT_TRUE(session.NothingToDo());
  EXPECT_FALSE(log.HasPart("delivery queue at its limit"));

  gate.Open();
  PassUntil([] { return gWire.Count("42:RQST") == 2; });
  EXPECT_EQ("42:+ACK " + std::to_string(fit), SentWithoutBeats().end()[-2]);
  EXPECT_EQ(0u, gWire.holds.back());
  EXPECT_FALSE(log.HasPart("delivery queue"));
}

// With the lock free, a message is handled on the thread that hands it in, and a block's
// ACK and the next request go out from the delivery thread: no pass in between. An empty
// answer waits for the pass, and so do a message that arrives while a pass runs and a DONE
// (closing is the session thread's: the wire client cannot close from its delivery).
TEST_F(GatewaySessionAckAfterDeliveryTest, StepsRunWhereTheNewsArrivesWhileNoPassRuns) {
  session.SetStepsElsewhere(true);
  Pass();  // opens
  // The callback waits until the handing in is over: a delivery that finds the lock taken
  // wakes the session thread instead, and this test runs none.
  sink.onCall = [this](const HOBWBlockQElt&) { gate.Pass(); };
  Rx({kHello, "42:+USER", "42:+FLTR", "42:+FILE a.xml", Blk(0, "x", true)}, false);
  gate.Open();
  const auto requests = [] {
    Texts sent = Sent();
    return std::count(sent.begin(), sent.end(), "42:RQST");
  };
  ASSERT_TRUE(WaitUntil([&] { return requests() == 2; }));
  EXPECT_EQ((Texts{"<open>", "USER", "42:HRTB", "42:FLTR ALL", "42:RQST", "42:+ACK a.xml",
                   "42:+ACK 0", "42:RQST"}),
            Sent());
  EXPECT_EQ(1u, sink.WaitFor(1).size());
  Rx({"42:-RQST (204)"}, false);
  EXPECT_EQ(2, requests());
  bool handedIn = false;  // once: the pass holds the session's lock meanwhile
  {
    std::lock_guard<std::mutex> lock(gSentMutex);
    gWire.onSend = [&](const std::string& image) {
      if (image != "42:RQST" || std::exchange(handedIn, true)) return;
      std::thread([&] { Rx({"42:-RQST (503)"}, false); }).join();
    };
  }
  Pass();
  EXPECT_EQ(3, requests());
  EXPECT_FALSE(session.NothingToDo());
  Pass();
  EXPECT_EQ(4, requests());
  Rx({"42:+DONE"}, false);
  EXPECT_EQ(0, gWire.Count("<close>"));
  Pass();
  EXPECT_EQ(1, gWire.Count("<close>"));
}

class GatewaySessionQueueLimitTest : public GatewaySessionTest {
 protected:
  GatewaySessionQueueLimitTest() : GatewaySessionTest(0, 300) {}
};

// At the limit the session takes no message and asks for no file, holding its connection;
// the pause is not silence. Once the callback catches up, everything goes on.
TEST_F(GatewaySessionQueueLimitTest,
       AtTheLimitTheSessionStopsTakingMessagesAndAskingUntilTheQueueDrains) {
  LogIn(kHeld);
  const std::string data(80, 'd');
  // A block holds its 80 bytes, the name's 6 and the record's overhead.
  const uint64_t block = 86 + HOBWQueueThread::kRecordOverhead;
  Rx({"42:+FILE a.xml", Blk(0, data, false)});
  ASSERT_TRUE(gate.WaitEntered());
  EXPECT_TRUE(gWire.holds.empty());
  Rx({Blk(1, data, true)});
  Rx({"42:-RQST (503)"});
  After(13000, 3);
  EXPECT_FALSE(log.HasPart("unknown error for request"));  // not taken
  EXPECT_FALSE(log.HasPart("receive timeout"));
  EXPECT_EQ("42:+ACK 1", SentWithoutBeats().back());  // no request after it
  EXPECT_EQ(2 * block, session.GetQueuedBytes());     // the limit passed by one block at most
  EXPECT_TRUE(session.NothingToDo());  // the queued answer waits for a delivery, not a pass
  EXPECT_EQ((std::vector<uint32_t>{kHoldReading | kHoldSilence}), gWire.holds);
  EXPECT_TRUE(
      log.Has("HOBWThread::ProcessState delivery queue at its limit of 300 bytes, reading held"));

  gate.Open();
  PassUntil([] { return gWire.Count("42:RQST") == 2; });
  EXPECT_TRUE(log.Has("HOBWThread::ProcessStateAux unknown error for request: 503"));
  EXPECT_EQ(0u, gWire.holds.back());
  EXPECT_TRUE(log.Has(
      "HOBWThread::ProcessState delivery queue below its limit of 300 bytes, reading resumed"));
  EXPECT_EQ(0u, session.GetQueuedBytes());
}

// A session thread that falls behind: the receive callback holds the connection once the
// session's queue is full, and the session's next pass releases it.
TEST_F(GatewaySessionTest,
       ReceivedMessagesPastTheirLimitHoldTheConnectionUntilTheSessionTakesThem) {
  LogIn();
  for (uint32_t i = 0; i < HOBWThread::kRXMsgQLimit + 2; ++i) Rx({"42:-RQST (204)"}, false);
  EXPECT_EQ(std::vector<uint32_t>(3, kHoldReading | kHoldSilence), gWire.holds);
  Pass();
  EXPECT_EQ(0u, gWire.holds.back());
  EXPECT_EQ(4u, gWire.holds.size());
}

}  // namespace
}  // namespace owc_test
