// The gateway against a reference server that misbehaves on its first connection: it
// resets in the middle of a block, drops the connection after a block whose ACK it never
// reads, goes silent, sends garbage, over-long or overrunning messages, floods, stops
// reading; or the application's callback is slow. Each time the session has to recover
// by itself, and every file the server counts as delivered (its last block acknowledged)
// must reach the callback exactly once, complete, in the server's order.
//
// Each test has its own 127.0.0.N (100-149): ctest runs them side by side. Time-outs and
// the stop state's pause are passed by moving the module clock.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "owclient/owclient.h"
#include "runtime/clock_thread.h"
#include "server.h"
#include "support/log_capture.h"

namespace {

using Feed = std::vector<std::pair<std::string, std::string>>;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

void AdvanceClockMs(uint32_t ms) {
  owc::ClockThread& clock = owc::ModuleClock();
  clock.AdvanceTo(clock.GetTicks() + ms / 50);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Four of the example stories, XML before RDF as the server announces them.
Feed ExampleFeed() {
  Feed feed;
  for (const char* stem : {"chess-final", "council-budget", "harbour-bridge", "river-ice"}) {
    for (const char* ext : {".xml", ".rdf"}) {
      std::string name = std::string(stem) + ext;
      feed.emplace_back(name, ReadFile(std::string(OWC_EXAMPLES_DIR) + "/stories/" + name));
    }
  }
  return feed;
}

// Files of made-up bytes, NULs and marker look-alikes included, for tests that need more
// data than the examples hold.
Feed ByteFeed(int files, size_t size) {
  Feed feed;
  for (int f = 0; f < files; ++f) {
    std::string data(size, '\0');
    for (size_t i = 0; i < size; ++i) data[i] = "BLKe\0xyz"[(i * 7 + static_cast<size_t>(f)) % 8];
    feed.emplace_back("f" + std::to_string(f) + (f % 2 == 0 ? ".xml" : ".rdf"), data);
  }
  return feed;
}

// Rebuilds files from the raw blocks the callback sees and notes every block that does not
// continue the file under way: a repeat, a gap, a block of another file.
class FileRecorder {
 public:
  struct File {
    std::string name;
    std::string data;
  };

  static void Callback(HOBWBlockQElt* rec, uintptr_t user) {
    auto* self = reinterpret_cast<FileRecorder*>(user);
    if (self->onCall) self->onCall(*rec);
    self->Add(*rec);
  }
  uintptr_t User() { return reinterpret_cast<uintptr_t>(this); }

  size_t CompletedCount() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mCompleted.size();
  }
  size_t BlockCount() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mBlocks;
  }
  std::vector<File> Completed() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mCompleted;
  }
  std::vector<std::string> Problems() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mProblems;
  }
  std::vector<std::string> Html() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mHtml;
  }

  // Runs on the delivery thread before each record is taken.
  std::function<void(const HOBWBlockQElt&)> onCall;

 private:
  void Add(const HOBWBlockQElt& rec) {
    std::lock_guard<std::mutex> lock(mMutex);
    std::string name = rec.mFName != nullptr ? rec.mFName : "";
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".htm") == 0) {
      mHtml.push_back(name);
      return;
    }
    ++mBlocks;
    if (rec.mBlockNum != mNext || (mNext != 0 && name != mOpen.name)) {
      mProblems.push_back(name + " block " + std::to_string(rec.mBlockNum) + " after " +
                          mOpen.name + " block " + std::to_string(mNext) + " expected");
    }
    if (rec.mBlockNum == 0) mOpen = File{name, std::string()};
    mOpen.data.append(reinterpret_cast<const char*>(rec.mData), rec.mDataLen);
    mNext = rec.mBlockNum + 1;
    if (rec.mLastBlock == 1) {
      mCompleted.push_back(mOpen);
      mOpen = File{};
      mNext = 0;
    }
  }

  std::mutex mMutex;
  File mOpen;
  uint32_t mNext = 0;
  size_t mBlocks = 0;
  std::vector<File> mCompleted;
  std::vector<std::string> mProblems;
  std::vector<std::string> mHtml;
};

size_t CountLines(const owc_test::LogCapture& log, const std::string& part) {
  size_t n = 0;
  for (const auto& line : log.Lines()) n += line.text.find(part) != std::string::npos ? 1 : 0;
  return n;
}

class FaultRecoveryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, OrbrixWireStartup(0)); }
  void TearDown() override {
    HOBWStop(0);
    OrbrixWireShutdown();
  }

  // Serves feed on 127.0.0.last; the faults act on the first connection only.
  void Serve(uint8_t last, owwired::Options options, const Feed& feed) {
    mFeed = feed;
    mAddress = 0x7F000000u | last;
    options.address = "127.0.0." + std::to_string(last);
    options.verbosity = 0;
    options.files = feed;
    options.faults.faulty_connections = 1;
    mServer = std::make_unique<owwired::Server>(options);
    std::string error;
    ASSERT_TRUE(mServer->Start(&error)) << error;
  }

  void StartGateway(uint32_t mode = 0) {
    if (mode == 0) {
      ASSERT_EQ(1, HOBWStart(mAddress, &FileRecorder::Callback, mRecorder.User(), 0, 0));
      return;
    }
    mTemplate = ReadFile(std::string(OWC_EXAMPLES_DIR) + "/templates/story.tmpl");
    mXlate = ReadFile(std::string(OWC_EXAMPLES_DIR) + "/templates/story.xlate");
    ASSERT_EQ(1, HOBWStartWithTemplate(mAddress, &FileRecorder::Callback, mRecorder.User(), mode,
                                       mTemplate.data(), static_cast<uint32_t>(mTemplate.size()),
                                       mXlate.data(), static_cast<uint32_t>(mXlate.size()), 0, 0));
  }

  // Messages the session has taken from the wire.
  size_t Handled() {
    size_t n = 0;
    for (const auto& line : mLog.Lines()) {
      n += line.text.rfind("HOBWThread::ProcessState RX msg ", 0) == 0 ||
           line.text.rfind("HOBWThread::ProcessStateAux received block ", 0) == 0;
    }
    return n;
  }

  bool FaultFired() {
    return mServer->WaitFor([](const owwired::Counters& c) { return c.faults_fired >= 1; }, 10000);
  }

  // Moves the clock by ms until `done` holds, a few times over: a message still in flight
  // when the clock moved restarts the silence that the move was meant to end.
  bool AdvanceUntil(uint32_t ms, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 5; ++attempt) {
      AdvanceClockMs(ms);
      if (WaitUntil(done, 1500)) return true;
    }
    return false;
  }

  // Takes the stalled session through its receive time-out (16 s covers the login's too)
  // and the stop state's pause to a new connection.
  void Reconnect() {
    const std::string begin = "HOBWThread::Run OBW_STATE_STOP/begin";
    const std::string end = "HOBWThread::Run OBW_STATE_STOP/end";
    size_t begins = CountLines(mLog, begin);
    size_t ends = CountLines(mLog, end);
    ASSERT_TRUE(AdvanceUntil(16100, [&] { return CountLines(mLog, begin) > begins; }));
    ASSERT_TRUE(AdvanceUntil(16100, [&] { return CountLines(mLog, end) > ends; }));
  }

  // The whole feed delivered by the server and rebuilt by the callback.
  bool AllDelivered() {
    size_t n = mFeed.size();
    return mServer->WaitFor([n](const owwired::Counters& c) { return c.files_delivered >= n; },
                            10000) &&
           WaitUntil([&] { return mRecorder.CompletedCount() >= n; });
  }

  void ExpectFeedOnceInOrder() {
    std::vector<FileRecorder::File> got = mRecorder.Completed();
    EXPECT_EQ(std::vector<std::string>(), mRecorder.Problems());
    ASSERT_EQ(mFeed.size(), got.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(mFeed[i].first, got[i].name);
      EXPECT_TRUE(mFeed[i].second == got[i].data) << got[i].name << " differs";  // no dump
    }
    EXPECT_EQ(mFeed.size(), mServer->GetCounters().files_delivered);
  }

  owc_test::LogCapture mLog;
  FileRecorder mRecorder;
  std::unique_ptr<owwired::Server> mServer;
  Feed mFeed;
  uint32_t mAddress = 0;
  std::string mTemplate, mXlate;
};

TEST_F(FaultRecoveryTest, AResetInTheMiddleOfABlockResumesTheFileWhereItBroke) {
  owwired::Options options;
  options.block_size = 256;
  options.faults.reset_in_block_after = 9;  // inside the second file
  Serve(100, options, ExampleFeed());
  StartGateway();
  ASSERT_TRUE(FaultFired());
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("WCOWClientPort::Close closing socket"); }));
  Reconnect();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
  EXPECT_EQ(1u, mServer->GetCounters().sessions_resumed);
}

// The server closes right after a block: the block reaches the application but its ACK
// never reaches the server, which sends it again on the resumed session (from that block,
// or from the start of the file). The session acknowledges the repeats without queuing
// them, so neither the raw records nor the story's HTML hold them twice.
class RepeatedBlockTest : public FaultRecoveryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(RepeatedBlockTest, ABlockWhoseAckWasLostIsDeliveredOnce) {
  owwired::Options options;
  options.block_size = 256;
  options.restart_files = GetParam();
  // 7 + 2 blocks of the first story, then council-budget.xml's blocks 0, 1 and 2.
  options.faults.drop_after_blocks = 12;
  Serve(GetParam() ? 102 : 101, options, ExampleFeed());
  StartGateway(2);
  ASSERT_TRUE(FaultFired());
  ASSERT_TRUE(WaitUntil([&] { return mRecorder.BlockCount() >= 12; }));
  Reconnect();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
  EXPECT_TRUE(mLog.HasPart("HOBWThread::ProcessStateAux block 2 was delivered already"));
  ASSERT_TRUE(WaitUntil([&] { return mRecorder.Html().size() >= 4; }));
  EXPECT_EQ((std::vector<std::string>{"chess-final.htm", "council-budget.htm", "harbour-bridge.htm",
                                      "river-ice.htm"}),
            mRecorder.Html());
  EXPECT_FALSE(mLog.HasPart("mHTMLTemplate.Generate failed"));
}

INSTANTIATE_TEST_SUITE_P(ResumeOrRestart, RepeatedBlockTest, ::testing::Bool());

// The server falls silent after N messages: after the hello (waiting for the USER answer,
// whose silence also forgets the session id), after the USER answer, the FLTR answer, the
// FILE announcement, and in the middle of a file.
class SilenceTest : public FaultRecoveryTest, public ::testing::WithParamInterface<int> {};

TEST_P(SilenceTest, ASilentServerIsLeftAndTheSessionCarriesOn) {
  owwired::Options options;
  options.block_size = 256;
  options.faults.silent_after = GetParam();
  Serve(static_cast<uint8_t>(120 + GetParam()), options, ExampleFeed());
  StartGateway();
  ASSERT_TRUE(FaultFired());
  // The clock moves once the session waits for what does not come.
  ASSERT_TRUE(WaitUntil([&] { return Handled() >= static_cast<size_t>(GetParam()); }));
  if (GetParam() == 1) {
    ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("HOBWThread::TXUser"); }));
  }
  Reconnect();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
  if (GetParam() == 1) {
    // The USER request went unread: the new login is the server's first session.
    EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux authorization receive timeout"));
    EXPECT_EQ(1u, mServer->GetCounters().sessions_created);
  } else {
    EXPECT_TRUE(mLog.Has("HOBWThread::ProcessStateAux connected receive timeout"));
    EXPECT_EQ(1u, mServer->GetCounters().sessions_resumed);
  }
}

INSTANTIATE_TEST_SUITE_P(InEachState, SilenceTest, ::testing::Values(1, 2, 3, 4, 7));

// Bytes that start no message, and a text message longer than the parse window, can
// never be parsed: the port closes at once instead of holding them.
class UnparseableTest : public FaultRecoveryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(UnparseableTest, BytesThatCanNeverBeParsedCloseThePort) {
  owwired::Options options;
  options.block_size = 256;
  if (GetParam()) {
    options.faults.overlong_after = 6;
    options.faults.overlong_size = 70000;
  } else {
    options.faults.garbage_after = 6;
  }
  Serve(GetParam() ? 111 : 110, options, ExampleFeed());
  StartGateway();
  ASSERT_TRUE(FaultFired());
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("of the receive stream can never be parsed"); }));
  EXPECT_TRUE(mLog.HasPart("WCOWClientPort::Close closing socket"));
  Reconnect();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
}

INSTANTIATE_TEST_SUITE_P(GarbageOrOverlong, UnparseableTest, ::testing::Bool());

// A block whose length field counts 1000 bytes more than its data. Sent alone, the client
// waits for bytes that never come, as after a silence; followed by the file's next blocks
// (pipelined), the bytes after its data are no end marker, and no block is taken from
// the wrong bytes.
class OverrunTest : public FaultRecoveryTest, public ::testing::WithParamInterface<bool> {};

TEST_P(OverrunTest, ABlockWhoseLengthRunsPastItsDataIsNeverTaken) {
  owwired::Options options;
  options.block_size = 1500;
  options.pipeline = GetParam();
  options.faults.overrun_block_after = 1;
  Serve(GetParam() ? 113 : 112, options, ByteFeed(4, 5000));
  StartGateway();
  ASSERT_TRUE(FaultFired());
  if (GetParam()) {
    EXPECT_TRUE(WaitUntil([&] { return mLog.HasPart("is not followed by its marker"); }));
  }
  Reconnect();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
}

INSTANTIATE_TEST_SUITE_P(AloneOrPipelined, OverrunTest, ::testing::Bool());

TEST_F(FaultRecoveryTest, AFloodOfTinyMessagesIsTakenWithoutLosingTheConnection) {
  owwired::Options options;
  options.block_size = 256;
  options.pipeline = true;
  options.faults.tiny_messages_after = 5;  // between the blocks of the first file
  options.faults.tiny_messages = 20000;
  Serve(114, options, ExampleFeed());
  StartGateway();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
  EXPECT_EQ(1u, mServer->GetCounters().connections_accepted);
  EXPECT_FALSE(mLog.HasPart("closing port for"));
}

TEST_F(FaultRecoveryTest, AServerThatStopsReadingIsLeftAfterItsSilence) {
  owwired::Options options;
  options.block_size = 256;
  options.faults.stop_reading_after = 5;  // the ACK of the first block is the last it reads
  Serve(115, options, ExampleFeed());
  StartGateway();
  ASSERT_TRUE(FaultFired());
  Reconnect();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
}

// The application takes its time over every block while the server pipelines: the
// queue grows, nothing is dropped or reordered, and one call that the module clock sees
// taking 9 s is reported.
TEST_F(FaultRecoveryTest, ASlowCallbackIsReportedAndLosesNothing) {
  owwired::Options options;
  options.block_size = 256;
  options.pipeline = true;
  Serve(116, options, ExampleFeed());
  int calls = 0;
  mRecorder.onCall = [&calls](const HOBWBlockQElt&) {
    if (++calls == 3) AdvanceClockMs(9000);
    if (calls <= 40) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  StartGateway();
  ASSERT_TRUE(AllDelivered());
  ExpectFeedOnceInOrder();
  const std::vector<owc_test::LogCapture::Line> lines = mLog.Lines();
  int slow = 0;
  for (const auto& line : lines) {
    if (line.text.rfind("HOBWQueueThread::SendToCallback long time in application callback, ", 0) ==
        0) {
      ++slow;
      EXPECT_EQ(0, line.severity);
    }
  }
  EXPECT_EQ(1, slow);
}

}  // namespace
