// The gateway session through its whole life, driven through the C interface against the
// reference server running in-process. Each test has addresses of its own (127.0.0.30-59):
// ctest runs the tests side by side. Time-outs are reached by moving the module clock;
// between steps the tests wait for server counters, callback records, log lines or the
// statistics, each with a deadline.
//
// The invariant behind every check of delivered records: a block the session acknowledged
// reaches the application callback, in order, or a log line says why it did not.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gateway/block_sink.h"
#include "owclient/owclient.h"
#include "runtime/clock_thread.h"
#include "runtime/trace_log.h"
#include "server.h"

namespace {

using owc_test::BlockSink;
using owc_test::Delivered;
using Files = std::vector<std::pair<std::string, std::string>>;

constexpr int kDeadlineMs = 10000;  // a safety net for waits on real conditions, not a timing

uint32_t Loopback(uint8_t last) { return 0x7F000000u | last; }

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = kDeadlineMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

// Bytes a text parser would trip over: NULs, a block end marker, a message head.
std::string Bytes(size_t size, char seed) {
  std::string data;
  const char pattern[] = "\0BLKe\0+RQST (204)\0";
  for (size_t i = 0; data.size() < size; ++i) {
    data += static_cast<char>(seed + i % 7);
    data.append(pattern, sizeof pattern - 1);
  }
  data.resize(size);
  return data;
}

std::string ReadExample(const std::string& relative) {
  std::ifstream in(std::string(OWC_EXAMPLES_DIR) + "/" + relative, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// The gateway's log lines (those of the session and the delivery thread), minus the two that
// a session asking again and again after "(204) No content" writes thousands of times a
// second.
class SessionLog {
 public:
  SessionLog() { owc::SetTraceCallback(&SessionLog::Callback, reinterpret_cast<uintptr_t>(this)); }
  ~SessionLog() { owc::SetTraceCallback(nullptr, 0); }

  bool Has(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mMutex);
    for (const std::string& line : mLines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
  int Count(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mMutex);
    int n = 0;
    for (const std::string& line : mLines) n += line.find(part) != std::string::npos ? 1 : 0;
    return n;
  }
  bool WaitFor(const std::string& part) const {
    return WaitUntil([&] { return Has(part); });
  }
  // Requests the session has sent: one per "OBW_STATE_RQST_START" line.
  int Requests() const { return mRequests.load(); }

 private:
  static void Callback(const char* text, int32_t, uintptr_t user) {
    auto* self = reinterpret_cast<SessionLog*>(user);
    std::string line(text);
    if (line.find("OBW_STATE_RQST_START") != std::string::npos) {
      ++self->mRequests;
      return;
    }
    if (line.rfind("HOBW", 0) != 0 || line.find("+RQST (204)") != std::string::npos) return;
    std::lock_guard<std::mutex> lock(self->mMutex);
    self->mLines.push_back(std::move(line));
  }

  mutable std::mutex mMutex;
  std::vector<std::string> mLines;
  std::atomic<int> mRequests{0};
};

// "name:block" of each record, for failure messages.
std::string Listing(const std::vector<Delivered>& records) {
  std::string text;
  for (const Delivered& r : records) text += " " + r.name + ":" + std::to_string(r.blockNum);
  return text;
}

// Checks that the records are exactly the files, in feed order, each block once and in order
// with its flags and names. A story file's parent is the story's XML file.
void ExpectDeliveredInOrder(const std::vector<Delivered>& records, const Files& files,
                            uint32_t blockSize, uint32_t sessionID) {
  size_t at = 0;
  for (const auto& [name, data] : files) {
    uint32_t blocks =
        data.empty() ? 1 : static_cast<uint32_t>((data.size() + blockSize - 1) / blockSize);
    std::string joined;
    for (uint32_t n = 0; n < blocks; ++n, ++at) {
      ASSERT_LT(at, records.size()) << name << " block " << n << " missing:" << Listing(records);
      const Delivered& r = records[at];
      EXPECT_EQ(name, r.name);
      EXPECT_EQ(n, r.blockNum) << name << Listing(records);
      EXPECT_EQ(n == 0 ? 1 : 0, r.first) << name << " block " << n;
      EXPECT_EQ(n + 1 == blocks ? 1 : 0, r.last) << name << " block " << n;
      EXPECT_EQ(sessionID, r.sessionID) << name;
      joined += r.data;
    }
    EXPECT_TRUE(joined == data) << name << ": the blocks do not add up to the file";
  }
  EXPECT_EQ(at, records.size()) << "records beyond the feed:" << Listing(records);
}

class GatewayLife : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(1, OrbrixWireStartup(0));
    mBefore = Stats();  // statistics outlive every stop: tests look at differences
  }
  void TearDown() override {
    HOBWStop(0);
    OrbrixWireShutdown();
  }

  owwired::Server& Serve(uint8_t last, owwired::Options options) {
    char address[16];
    std::snprintf(address, sizeof address, "127.0.0.%u", last);
    options.address = address;
    options.verbosity = 0;
    mServers.push_back(std::make_unique<owwired::Server>(std::move(options)));
    std::string error;
    EXPECT_TRUE(mServers.back()->Start(&error)) << error;
    return *mServers.back();
  }
  bool Start(uint8_t last, uint8_t resume = 0, uint32_t sessionID = 0) {
    return HOBWStart(Loopback(last), &BlockSink::Callback, mSink.User(), resume, sessionID) == 1;
  }
  static bool WaitServer(const owwired::Server& server,
                         const std::function<bool(const owwired::Counters&)>& condition) {
    return server.WaitFor(condition, kDeadlineMs);
  }
  static HOBWStats Stats() {
    HOBWStats s{};
    EXPECT_EQ(1, HOBWGetStats(&s));
    return s;
  }
  static uint32_t SessionID() { return Stats().mSessionID; }
  std::vector<Delivered> Records(size_t atLeast) { return mSink.WaitFor(atLeast); }

  // Makes the server hold every message back until Release lets through all it queued so far.
  void HoldMessages(owwired::Options& options) {
    options.faults.delay_ms = kHoldMs;
    options.clock_ms = [this] { return mServerMs.load(); };
  }
  void Release(owwired::Server& server) {
    mServerMs += kHoldMs;
    server.Wake();
  }

  static void Advance(uint32_t ms) {
    owc::ClockThread& clock = owc::ModuleClock();
    clock.AdvanceTo(clock.GetTicks() + ms / 50);
  }
  // Moves the clock (by 2 s or more) and returns once a pass of the running session has
  // seen the new time: the seconds since the last file, updated every pass, show it. Any
  // step that the earlier time made due has been taken by then. No file may complete
  // meanwhile.
  static void AdvanceSeen(uint32_t ms) {
    uint32_t before = Stats().mSecsSinceLastFile;
    Advance(ms);
    ASSERT_TRUE(WaitUntil([&] { return Stats().mSecsSinceLastFile >= before + ms / 1000; }))
        << "no session pass saw the clock move";
  }

  // Silence for limitMs ends in the stop state with `line`, and not 2 s before.
  void ExpectSilenceTimeout(uint32_t limitMs, const char* line) {
    AdvanceSeen(limitMs - 2000);
    EXPECT_FALSE(mLog.Has("receive timeout")) << "timed out before " << limitMs << " ms";
    Advance(2500);
    ASSERT_TRUE(mLog.WaitFor(line));
    ASSERT_TRUE(mLog.WaitFor("HOBWThread::Run OBW_STATE_STOP/begin"));
    EXPECT_TRUE(WaitUntil([] { return Stats().mConnected == 0; }));
  }
  // The stop state waits 16 s, then the session connects anew.
  void ExpectReconnectAfterPause(const owwired::Server& server) {
    uint64_t accepted = server.GetCounters().connections_accepted;
    AdvanceSeen(14000);
    EXPECT_FALSE(mLog.Has("HOBWThread::Run OBW_STATE_STOP/end"));
    EXPECT_EQ(accepted, server.GetCounters().connections_accepted);
    Advance(2500);
    ASSERT_TRUE(mLog.WaitFor("HOBWThread::Run OBW_STATE_STOP/end"));
    ASSERT_TRUE(WaitServer(server, [&](const owwired::Counters& c) {
      return c.connections_accepted == accepted + 1;
    }));
  }

  SessionLog mLog;
  BlockSink mSink;
  HOBWStats mBefore{};
  static constexpr uint64_t kHoldMs = 1000000;
  std::atomic<uint64_t> mServerMs{1};  // the clock of servers that hold their messages
  std::vector<std::unique_ptr<owwired::Server>> mServers;
};

TEST_F(GatewayLife, FilesInSeveralBlocksReachTheCallbackInOrderWithNamesAndFlags) {
  const Files files = {{"a.xml", Bytes(2500, 'x')},
                       {"a.rdf", Bytes(300, 'r')},
                       {"a.jpg", Bytes(2000, 'j')},  // belongs to story a
                       {"readme.txt", Bytes(10, 't')}};
  owwired::Options options;
  options.block_size = 1000;
  options.files = files;
  owwired::Server& server = Serve(30, options);
  ASSERT_TRUE(Start(30));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 4; }));
  std::vector<Delivered> records = Records(7);
  const uint32_t id = server.GetCounters().last_session_id;
  ExpectDeliveredInOrder(records, files, 1000, id);
  ASSERT_EQ(7u, records.size());
  EXPECT_EQ("a.xml", records[0].parent);
  EXPECT_EQ("a.xml", records[3].parent);  // the RDF file
  EXPECT_EQ("a.xml", records[4].parent);
  EXPECT_EQ("-", records[6].parent);  // a file of no story comes with its name alone

  // Nothing more waits: the server answers 204 and the session asks again and again.
  ASSERT_TRUE(WaitServer(server, [](const owwired::Counters& c) { return c.requests_empty >= 3; }));
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux filter accepted"));
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux received session ID " + std::to_string(id)));
  EXPECT_EQ(4, mLog.Count("HOBWThread::ProcessStateAux end of file"));
  ASSERT_TRUE(WaitUntil([] { return Stats().mQueueLen == 0; }));
  HOBWStats s = Stats();
  EXPECT_EQ(1, s.mConnected);
  EXPECT_EQ(1, s.mSessionValid);
  EXPECT_EQ(id, uint32_t{s.mSessionID});
  EXPECT_EQ(0, s.mMessagesLost);
  EXPECT_EQ(uint32_t{mBefore.mFilesTotal} + 4, uint32_t{s.mFilesTotal});
  EXPECT_GE(uint32_t{s.mFilesToday}, 4u);
  EXPECT_LE(uint32_t{s.mSecsSinceLastFile}, 2u);  // a file just completed

  // A stop without DONE closes the connection and leaves the server's session alone.
  EXPECT_EQ(1, HOBWStop(0));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.connections_open == 0; }));
  EXPECT_EQ(0u, server.GetCounters().sessions_ended);
  s = Stats();
  EXPECT_EQ(0, s.mConnected);
  EXPECT_EQ(0, s.mSessionValid);
  EXPECT_EQ(0u, uint32_t{s.mSessionID});
  EXPECT_EQ(0u, uint32_t{s.mQueueLen});
  EXPECT_EQ(uint32_t{mBefore.mFilesTotal} + 4, uint32_t{s.mFilesTotal});
  EXPECT_EQ(7u, Records(7).size());
}

TEST_F(GatewayLife, RejectedFilterIsLoggedAndStoriesStillFlow) {
  const Files files = {{"r.xml", Bytes(100, 'a')}};
  owwired::Options options;
  options.files = files;
  options.faults.reject_filter = 0;  // "-FLTR" without a status
  owwired::Server& server = Serve(31, options);
  ASSERT_TRUE(Start(31));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 1; }));
  ExpectDeliveredInOrder(Records(1), files, 4096, server.GetCounters().last_session_id);
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux filter rejected"));
  EXPECT_FALSE(mLog.Has("filter accepted"));
}

TEST_F(GatewayLife, FilterErrorStopsAndTheSessionResumesSixteenSecondsLater) {
  const Files files = {{"f.xml", Bytes(5000, 'f')}, {"f.rdf", Bytes(40, 'g')}};
  owwired::Options options;
  options.files = files;
  options.block_size = 2048;
  options.faults.reject_filter = 400;
  options.faults.faulty_connections = 1;
  owwired::Server& server = Serve(32, options);
  ASSERT_TRUE(Start(32));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux filter error 400"));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux OBW_STATE_TERMINATE"));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::Run OBW_STATE_STOP/begin"));
  const uint32_t id = SessionID();
  EXPECT_NE(0u, id);
  EXPECT_EQ(1, Stats().mSessionValid);  // kept for the resumption
  ExpectReconnectAfterPause(server);
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 2; }));
  owwired::Counters c = server.GetCounters();
  EXPECT_EQ(1u, c.sessions_created);
  EXPECT_EQ(1u, c.sessions_resumed);
  EXPECT_EQ(id, SessionID());
  EXPECT_TRUE(mLog.Has("HOBWThread::TXUser SessnID " + std::to_string(id) + "."));
  ExpectDeliveredInOrder(Records(4), files, 2048, id);
}

TEST_F(GatewayLife, GoneAnswerReportsMessagesLostOnceAndTheSessionAsksAgain) {
  const Files files = {{"g.xml", Bytes(10, 'g')}};
  owwired::Options options;
  options.files = files;
  options.faults.gone_at_request = 1;
  owwired::Server& server = Serve(33, options);
  ASSERT_TRUE(Start(33));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 1; }));
  EXPECT_EQ(1u, server.GetCounters().requests_gone);
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux *** Reception too slow, messages lost ***"));
  EXPECT_EQ(1, Stats().mMessagesLost);
  EXPECT_EQ(0, Stats().mMessagesLost);  // cleared by the first read
  ExpectDeliveredInOrder(Records(1), files, 4096, server.GetCounters().last_session_id);
}

// The server's answers are held back until the test moves the server's own clock, so the
// session sits in each login state as long as the test wants.
TEST_F(GatewayLife, HeartbeatsEveryEightSecondsWhileLoggingInAndNoneOnceStoriesAreAsked) {
  owwired::Options options;
  options.files = {{"h.xml", "<h/>"}};
  HoldMessages(options);
  owwired::Server& server = Serve(34, options);
  auto heartbeats = [&] { return server.GetCounters().heartbeats; };
  Advance(8100);  // so the first heartbeat of the resumed login is due at once
  ASSERT_TRUE(Start(34, 1, 4242));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.connections_accepted != 0; }));
  EXPECT_EQ(0u, heartbeats());  // no heartbeat before the hello
  Release(server);              // the hello

  // Waiting for the USER answer, with the session id given at start.
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::TXUser SessnID 4242."));
  ASSERT_TRUE(WaitServer(server, [](const owwired::Counters& c) { return c.heartbeats == 1; }));
  HOBWStats s = Stats();
  EXPECT_EQ(1, s.mConnected);
  EXPECT_EQ(4242u, uint32_t{s.mSessionID});
  AdvanceSeen(7000);
  EXPECT_EQ(1u, heartbeats());
  Advance(1200);
  ASSERT_TRUE(WaitServer(server, [](const owwired::Counters& c) { return c.heartbeats == 2; }));

  // Waiting for the FLTR answer, under the id the server gave (4242 was unknown to it).
  Release(server);
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux OBW_STATE_FILTER_SEND"));
  const uint32_t id = server.GetCounters().last_session_id;
  EXPECT_NE(4242u, id);
  EXPECT_EQ(id, SessionID());
  Advance(8200);
  ASSERT_TRUE(WaitServer(server, [](const owwired::Counters& c) { return c.heartbeats == 3; }));

  // Waiting for the RQST answer: no more heartbeats.
  Release(server);
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux filter accepted"));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_announced != 0; }));
  AdvanceSeen(8200);
  EXPECT_EQ(3u, heartbeats());
}

// Silence in each waiting state: the stop state after 12 s (16 s while waiting for the USER
// answer), a new connection 16 s later, and everything delivered over it.
class GatewaySilence : public GatewayLife {
 protected:
  owwired::Server& ServeSilent(uint8_t last, int64_t silentAfter) {
    owwired::Options options;
    options.files = mFiles;
    options.block_size = 1000;
    options.faults.silent_after = silentAfter;
    options.faults.faulty_connections = 1;
    return Serve(last, options);
  }
  void ExpectEverythingDelivered(const owwired::Server& server) {
    ASSERT_TRUE(
        WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 2; }));
    ExpectDeliveredInOrder(Records(4), mFiles, 1000, SessionID());
  }

  const Files mFiles = {{"s.xml", Bytes(2200, 's')}, {"s.rdf", Bytes(99, 'd')}};
};

TEST_F(GatewaySilence, NoHelloTimesOutAfterTwelveSecondsAndLogsInAnew) {
  owwired::Server& server = ServeSilent(35, 0);
  ASSERT_TRUE(Start(35));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux connecting to server 127.0.0.35"));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.connections_accepted != 0; }));
  ExpectSilenceTimeout(12000, "HOBWThread::ProcessStateAux connected receive timeout");
  ExpectReconnectAfterPause(server);
  ExpectEverythingDelivered(server);
  EXPECT_EQ(1u, server.GetCounters().sessions_created);
}

TEST_F(GatewaySilence, NoUserAnswerTimesOutAfterSixteenSecondsAndForgetsTheSessionID) {
  owwired::Server& server = ServeSilent(36, 1);  // the hello only
  ASSERT_TRUE(Start(36, 1, 777));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::TXUser SessnID 777."));
  ExpectSilenceTimeout(16000, "HOBWThread::ProcessStateAux authorization receive timeout");
  EXPECT_EQ(0, Stats().mSessionValid);
  EXPECT_EQ(0u, SessionID());
  ExpectReconnectAfterPause(server);
  ExpectEverythingDelivered(server);
  EXPECT_TRUE(mLog.Has("HOBWThread::TXUser SessnID 0."));  // a new login, not 777 again
  owwired::Counters c = server.GetCounters();
  EXPECT_EQ(1u, c.sessions_created);
  EXPECT_EQ(0u, c.sessions_resumed);
}

TEST_F(GatewaySilence, NoFilterAnswerTimesOutAfterTwelveSecondsAndResumesTheSession) {
  owwired::Server& server = ServeSilent(37, 2);  // hello and USER answer
  ASSERT_TRUE(Start(37));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux OBW_STATE_FILTER_SEND"));
  const uint32_t id = SessionID();
  ExpectSilenceTimeout(12000, "HOBWThread::ProcessStateAux connected receive timeout");
  EXPECT_EQ(id, SessionID());
  ExpectReconnectAfterPause(server);
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.sessions_resumed != 0; }));
  EXPECT_EQ(id, server.GetCounters().last_session_id);
  ExpectEverythingDelivered(server);
  EXPECT_EQ(id, SessionID());
}

TEST_F(GatewaySilence, NoRequestAnswerTimesOutAfterTwelveSecondsAndResumesTheSession) {
  owwired::Server& server = ServeSilent(38, 3);  // hello, USER and FLTR answers
  ASSERT_TRUE(Start(38));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux filter accepted"));
  const uint32_t id = SessionID();
  ExpectSilenceTimeout(12000, "HOBWThread::ProcessStateAux connected receive timeout");
  ExpectReconnectAfterPause(server);
  ExpectEverythingDelivered(server);
  EXPECT_EQ(1u, server.GetCounters().sessions_resumed);
  EXPECT_EQ(id, SessionID());
}

TEST_F(GatewaySilence, NoBlockAfterTheAnnouncementTimesOutAndTheFileComesWhole) {
  owwired::Server& server = ServeSilent(39, 4);  // ... and the FILE announcement
  ASSERT_TRUE(Start(39));
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux begin file transfer: "));
  ExpectSilenceTimeout(12000, "HOBWThread::ProcessStateAux connected receive timeout");
  ExpectReconnectAfterPause(server);
  ExpectEverythingDelivered(server);
  EXPECT_EQ(1u, server.GetCounters().sessions_resumed);
}

// The server drops the connection right after a block; the session's acknowledgement of that
// block never reaches it, so after the resumption the server sends that block again. The
// application still sees every block once, in order.
TEST_F(GatewayLife, ResumedFileContinuesWithoutARepeatedOrMissingBlock) {
  const Files files = {{"d.xml", Bytes(5500, 'd')}, {"d.rdf", Bytes(50, 'e')}};
  owwired::Options options;
  options.files = files;
  options.block_size = 1000;  // d.xml: six blocks
  options.faults.drop_after_blocks = 3;
  options.faults.faulty_connections = 1;
  owwired::Server& server = Serve(40, options);
  ASSERT_TRUE(Start(40));
  ASSERT_EQ(3u, Records(3).size());
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.connections_open == 0; }));
  EXPECT_EQ(2u, server.GetCounters().blocks_acked);
  const uint32_t id = SessionID();
  ExpectSilenceTimeout(12000, "HOBWThread::ProcessStateAux connected receive timeout");
  ExpectReconnectAfterPause(server);
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 2; }));
  owwired::Counters c = server.GetCounters();
  EXPECT_EQ(1u, c.sessions_resumed);
  EXPECT_EQ(3u + 4u + 1u, c.blocks_sent);  // block 2 went out twice
  std::vector<Delivered> records = Records(7);
  ExpectDeliveredInOrder(records, files, 1000, id);
  EXPECT_EQ(uint32_t{mBefore.mFilesTotal} + 2, uint32_t{Stats().mFilesTotal});
}

// After the server's DONE the session waits without a connection and without a time-out:
// only a new start brings stories again, under a new session.
TEST_F(GatewayLife, DoneFromTheServerWhileWaitingForAStoryLeavesTheSessionIdle) {
  const Files files = {{"n.xml", Bytes(1500, 'n')}, {"n.rdf", Bytes(20, 'm')}};
  owwired::Options options;
  options.files = files;
  options.faults.done_after_files = 1;
  options.faults.faulty_connections = 1;
  HoldMessages(options);
  owwired::Server& server = Serve(41, options);
  ASSERT_TRUE(Start(41));
  // Hello, USER and FLTR answers, FILE and its one block, each let through once queued
  // (heartbeat answers aside).
  auto sent = [](const owwired::Counters& c) { return c.messages_sent - c.heartbeats; };
  for (uint64_t n = 1; n <= 5; ++n) {
    ASSERT_TRUE(WaitServer(server, [&](const owwired::Counters& c) { return sent(c) == n; }));
    Release(server);
  }
  // The DONE answering the block's acknowledgement waits until the session has asked for
  // the next file.
  ASSERT_TRUE(WaitServer(server, [&](const owwired::Counters& c) { return sent(c) == 6; }));
  ASSERT_TRUE(WaitUntil([this] { return mLog.Requests() == 2; }));
  Release(server);
  ASSERT_TRUE(mLog.WaitFor("HOBWThread::ProcessStateAux received done"));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.connections_open == 0; }));
  EXPECT_EQ(1u, server.GetCounters().sessions_ended);
  HOBWStats s = Stats();
  EXPECT_EQ(0, s.mConnected);
  EXPECT_EQ(0, s.mSessionValid);
  EXPECT_EQ(0u, uint32_t{s.mSessionID});

  AdvanceSeen(13000);
  AdvanceSeen(17000);
  EXPECT_FALSE(mLog.Has("receive timeout"));
  EXPECT_FALSE(mLog.Has("OBW_STATE_STOP"));
  EXPECT_EQ(1u, server.GetCounters().connections_accepted);

  ASSERT_EQ(1u, Records(1).size());
  EXPECT_EQ(1, HOBWStop(1));  // no connection: nothing to say DONE on
  EXPECT_FALSE(mLog.Has("HOBWThread::Run shutdown sending TXDone"));
  ASSERT_TRUE(Start(41));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 3; }));
  EXPECT_EQ(2u, server.GetCounters().sessions_created);
  std::vector<Delivered> records = Records(3);
  ASSERT_EQ(3u, records.size());
  EXPECT_EQ("n.xml", records[0].name);
  EXPECT_EQ("n.xml", records[1].name);  // the new session walks the feed from its start
  EXPECT_EQ(files[0].second, records[1].data);
  EXPECT_EQ(files[1].second, records[2].data);
}

TEST_F(GatewayLife, StopWithoutDoneKeepsTheSessionResumableAndStopWithDoneEndsIt) {
  const Files files = {{"k.xml", Bytes(700, 'k')}};
  owwired::Options options;
  options.files = files;
  options.first_session_id = 5000;
  owwired::Server& server = Serve(42, options);
  ASSERT_TRUE(Start(42));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 1; }));
  const uint32_t id = SessionID();
  EXPECT_EQ(5000u, id);
  ASSERT_EQ(1u, Records(1).size());  // a stop discards blocks not yet delivered
  EXPECT_EQ(1, HOBWStop(0));
  EXPECT_EQ(0u, server.GetCounters().sessions_ended);

  // Resumed: the server's cursor is past the file, so nothing comes again.
  ASSERT_TRUE(Start(42, 1, id));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.sessions_resumed != 0; }));
  uint64_t empty = server.GetCounters().requests_empty;
  ASSERT_TRUE(WaitServer(server, [&](const owwired::Counters& c) {
    return c.requests_empty > empty && c.connections_accepted == 2;
  }));
  EXPECT_EQ(1u, server.GetCounters().files_announced);
  EXPECT_EQ(1, HOBWStop(1));
  EXPECT_TRUE(mLog.Has("HOBWThread::Run shutdown sending TXDone"));
  EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux received done"));  // the answer
  ASSERT_TRUE(WaitServer(server, [](const owwired::Counters& c) { return c.sessions_ended == 1; }));

  // The ended session cannot be resumed: the server hands out a new one, from the start.
  ASSERT_TRUE(Start(42, 1, id));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 2; }));
  owwired::Counters c = server.GetCounters();
  EXPECT_EQ(2u, c.sessions_created);
  EXPECT_EQ(1u, c.sessions_resumed);
  EXPECT_EQ(5001u, SessionID());
  std::vector<Delivered> records = Records(2);
  ASSERT_EQ(2u, records.size());
  EXPECT_EQ(files[0].second, records[1].data);
  EXPECT_EQ(5001u, records[1].sessionID);
}

std::string ConvertWithTheLibrary(const std::string& tmpl, const std::string& xlate,
                                  const std::string& xml, const std::string& rdf) {
  OBConvertEnv env = nullptr;
  OBConvertObj obj = nullptr;
  std::string html;
  if (OBConvertNewEnv(tmpl.data(), static_cast<uint32_t>(tmpl.size()), xlate.data(),
                      static_cast<uint32_t>(xlate.size()), &env) != 0) {
    return html;
  }
  if (OBConvertNewObj(0, xml.data(), static_cast<uint32_t>(xml.size()), 0, rdf.data(),
                      static_cast<uint32_t>(rdf.size()), &obj) == 0) {
    OBConvertApplyTemplate(
        env, obj,
        [](const uint8_t* data, uint32_t len, uintptr_t user, uintptr_t) {
          reinterpret_cast<std::string*>(user)->assign(reinterpret_cast<const char*>(data), len);
        },
        reinterpret_cast<uintptr_t>(&html), 0);
    OBConvertFreeObj(obj);
  }
  OBConvertFreeEnv(env);
  return html;
}

TEST_F(GatewayLife, RestartAgainstAnotherServerInAnotherModeTakesTheNewSettings) {
  const std::string xml = ReadExample("stories/tea-harvest.xml");
  const std::string rdf = ReadExample("stories/tea-harvest.rdf");
  const std::string tmpl = ReadExample("templates/story.tmpl");
  const std::string xlate = ReadExample("templates/story.xlate");
  ASSERT_FALSE(xml.empty() || rdf.empty() || tmpl.empty() || xlate.empty());
  owwired::Options first;
  first.files = {{"raw.txt", Bytes(10, 'w')}};
  first.first_session_id = 100;
  owwired::Server& a = Serve(43, first);
  owwired::Options second;
  second.files = {{"tea.xml", xml}, {"tea.rdf", rdf}};
  second.block_size = 1024;
  second.first_session_id = 200;
  owwired::Server& b = Serve(44, second);

  ASSERT_TRUE(Start(43));
  ASSERT_TRUE(WaitServer(a, [](const owwired::Counters& c) { return c.files_delivered == 1; }));
  ASSERT_EQ(1u, Records(1).size());
  EXPECT_EQ(1, HOBWStop(0));

  // Mode 2 against the other server, asking to resume the first server's session id.
  ASSERT_EQ(1, HOBWStartWithTemplate(Loopback(44), &BlockSink::Callback, mSink.User(), 2,
                                     tmpl.data(), static_cast<uint32_t>(tmpl.size()), xlate.data(),
                                     static_cast<uint32_t>(xlate.size()), 1, 100));
  ASSERT_TRUE(WaitServer(b, [](const owwired::Counters& c) { return c.files_delivered == 2; }));
  owwired::Counters c = b.GetCounters();
  EXPECT_EQ(1u, c.sessions_created);  // unknown here: a new session
  EXPECT_EQ(0u, c.sessions_resumed);
  EXPECT_EQ(200u, SessionID());
  EXPECT_EQ(1u, a.GetCounters().connections_accepted);

  const size_t xmlBlocks = (xml.size() + 1023) / 1024;
  std::vector<Delivered> records = Records(1 + xmlBlocks + 2);
  ASSERT_EQ(1 + xmlBlocks + 2, records.size());
  records.erase(records.begin());  // raw.txt from the first server
  const Delivered html = records.back();
  records.pop_back();
  ExpectDeliveredInOrder(records, second.files, 1024, 200);
  // The HTML follows the block that completed the story.
  EXPECT_EQ("tea.htm", html.name);
  EXPECT_EQ("tea.xml", html.parent);
  EXPECT_EQ(1, html.first);
  EXPECT_EQ(1, html.last);
  EXPECT_EQ(0u, html.blockNum);
  EXPECT_EQ(200u, html.sessionID);
  ASSERT_FALSE(html.data.empty());
  EXPECT_EQ('\0', html.data.back());  // the terminating NUL is counted
  const std::string converted = ConvertWithTheLibrary(tmpl, xlate, xml, rdf);
  EXPECT_TRUE(html.data == converted)
      << "the HTML differs from the conversion interface's for the same story";
}

// A stop while the application is slow discards blocks the session had acknowledged. They
// cannot reach the application any more; the log says so.
TEST_F(GatewayLife, StopWhileBlocksWaitForTheApplicationLogsTheBlocksDiscarded) {
  owwired::Options options;
  options.files = {{"q.xml", Bytes(8000, 'q')}};
  options.block_size = 1000;
  owwired::Server& server = Serve(45, options);
  // Holds the application in its first call until opened. The callback shares the gate, so
  // it outlives this body; the guard opens it on every way out, so TearDown's stop cannot hang.
  struct Gate {
    std::mutex mutex;
    std::condition_variable cond;
    bool open = false;
    void Open() {
      {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
      }
      cond.notify_all();
    }
  };
  auto gate = std::make_shared<Gate>();
  std::unique_ptr<Gate, void (*)(Gate*)> guard(gate.get(), [](Gate* g) { g->Open(); });
  mSink.onCall = [gate](const HOBWBlockQElt&) {
    std::unique_lock<std::mutex> lock(gate->mutex);
    gate->cond.wait(lock, [&gate] { return gate->open; });
  };
  ASSERT_TRUE(Start(45));
  ASSERT_TRUE(
      WaitServer(server, [](const owwired::Counters& c) { return c.files_delivered == 1; }));
  ASSERT_TRUE(WaitUntil([] { return Stats().mQueueLen == 7; }));  // the first is in the callback
  std::thread stopper([] { HOBWStop(0); });
  bool exiting = mLog.WaitFor("HOBWThread::Run shutdown exiting");
  gate->Open();
  stopper.join();
  ASSERT_TRUE(exiting);
  EXPECT_EQ(1u, Records(1).size());
  EXPECT_TRUE(mLog.Has("HOBWQueueThread::Run 7 queued blocks discarded"));
  EXPECT_EQ(0u, uint32_t{Stats().mQueueLen});
}

}  // namespace
