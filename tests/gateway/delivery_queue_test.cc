#include "gateway/delivery_queue.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "block_sink.h"
#include "runtime/clock_thread.h"
#include "support/log_capture.h"

namespace {

using owc_test::BlockSink;

class TestQueue : public owc::HOBWQueueThread {
 public:
  explicit TestQueue(BlockSink& sink) { SetCallback(&BlockSink::Callback, sink.User()); }
  using HOBWQueueThread::FillHTMLRecord;
  using HOBWQueueThread::SendToCallback;
};

// A block record of session 42 pointing at its own buffers.
struct Record {
  Record(const char* name, uint32_t number, const char* text, bool last = false) : data(text) {
    std::strncpy(fname, name, sizeof fname - 1);
    rec =
        HOBWBlockQElt{42, uint8_t{number == 0}, uint8_t{last}, number, fname, nullptr, nullptr, 0};
    rec.mData = reinterpret_cast<uint8_t*>(&data[0]);
    rec.mDataLen = static_cast<uint32_t>(data.size());
  }
  char fname[32] = {};
  std::string data;
  HOBWBlockQElt rec;
};

TEST(DeliveryQueue, RawModeDeliversOwnCopiesInOrder) {
  BlockSink sink;
  TestQueue q(sink);
  EXPECT_FALSE(q.SetOutputMode(1, nullptr, 0, nullptr, 0));   // the HTML modes need one
  EXPECT_FALSE(q.SetOutputMode(2, "<html/>", 0, nullptr, 0));
  ASSERT_TRUE(q.SetOutputMode(0, "<?Kavio insert headline ?>", 26, nullptr, 0));  // not used
  Record a("s.xml", 0, "first"), b("s.xml", 1, "second", true);
  char parent[] = "p";
  b.rec.mParentFName = parent;
  ASSERT_TRUE(q.EnqDataBlock(a.rec));
  ASSERT_TRUE(q.EnqDataBlock(b.rec));
  EXPECT_EQ(2u, q.GetQueueCount());
  a.data.assign("XXXXX");  // the queue holds copies
  std::strcpy(b.fname, "zzzzz");
  ASSERT_TRUE(q.Start());
  auto r = sink.WaitFor(2);
  ASSERT_EQ(2u, r.size());
  EXPECT_EQ("first", r[0].data);
  EXPECT_EQ("-", r[0].parent);
  EXPECT_EQ(1, r[0].first);
  EXPECT_EQ("second", r[1].data);
  EXPECT_EQ("s.xml", r[1].name);
  EXPECT_EQ("p", r[1].parent);
  EXPECT_EQ(1u, r[1].blockNum);
  EXPECT_EQ(1, r[1].last);
  EXPECT_EQ(42u, r[1].sessionID);
  EXPECT_EQ(0u, q.GetQueueCount());
}

TEST(DeliveryQueue, SlowCallbackIsReportedOnceAndLaterBlocksStillArrive) {
  owc_test::LogCapture log;
  BlockSink sink;
  sink.onCall = [](const HOBWBlockQElt& rec) {  // the first call takes 9 s of module time
    if (rec.mBlockNum == 0) owc::ModuleClock().AdvanceTo(owc::ModuleClock().GetTicks() + 180);
  };
  TestQueue q(sink);
  Record a("s.xml", 0, "a"), b("s.xml", 1, "b"), c("s.xml", 2, "c", true);
  ASSERT_TRUE(q.Start());
  for (Record* r : {&a, &b, &c}) ASSERT_TRUE(q.EnqDataBlock(r->rec));
  EXPECT_EQ(3u, sink.WaitFor(3).size());
  q.Stop(true);
  EXPECT_EQ(0, log.SeverityOf(
                   "HOBWQueueThread::SendToCallback long time in application callback, 9000 ms"));
  int slow = 0;
  for (const auto& l : log.Lines()) slow += l.text.find("long time") != std::string::npos;
  EXPECT_EQ(1, slow);
}

TEST(DeliveryQueue, StopDiscardsBlocksStillQueued) {
  owc_test::LogCapture log;
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  BlockSink sink;
  sink.onCall = [&](const HOBWBlockQElt&) {
    std::unique_lock<std::mutex> lock(m);
    cv.wait(lock, [&] { return release; });
  };
  TestQueue q(sink);
  Record a("s.xml", 0, "a"), b("s.xml", 1, "b"), c("s.xml", 2, "c");
  ASSERT_TRUE(q.Start());
  ASSERT_TRUE(q.EnqDataBlock(a.rec));
  while (q.GetQueueCount() != 0) std::this_thread::yield();  // a is in the callback
  ASSERT_TRUE(q.EnqDataBlock(b.rec));
  ASSERT_TRUE(q.EnqDataBlock(c.rec));
  q.Stop(false);
  {
    std::lock_guard<std::mutex> lock(m);
    release = true;
  }
  cv.notify_all();
  q.Stop(true);
  EXPECT_EQ(1u, sink.WaitFor(1).size());
  EXPECT_EQ(0u, q.GetQueueCount());
  EXPECT_TRUE(log.Has("HOBWQueueThread::Run thread terminated"));
}

TEST(DeliveryQueue, HtmlRecordFollowsTheRawBlockOnceAndIsCleared) {
  BlockSink sink;
  TestQueue q(sink);
  Record raw("story.rdf", 3, "r", true);
  const char html[] = "<p>hi</p>";
  q.FillHTMLRecord("story", reinterpret_cast<const uint8_t*>(html), sizeof html, 9);
  q.SendToCallback(&raw.rec);
  q.SendToCallback(&raw.rec);                  // nothing rendered since: raw only
  q.SetOutputMode(1, nullptr, 0, nullptr, 0);  // refused, but HTML-only is stored
  q.SendToCallback(&raw.rec);
  q.FillHTMLRecord("next", reinterpret_cast<const uint8_t*>(html), 1, 9);
  q.SendToCallback(&raw.rec);
  auto r = sink.WaitFor(4);
  ASSERT_EQ(4u, r.size());
  EXPECT_EQ("story.rdf", r[0].name);
  EXPECT_EQ("story.htm", r[1].name);
  EXPECT_EQ("story.xml", r[1].parent);
  EXPECT_EQ(std::string(html, sizeof html), r[1].data);  // the NUL is counted
  EXPECT_EQ(1, r[1].first);
  EXPECT_EQ(1, r[1].last);
  EXPECT_EQ(0u, r[1].blockNum);
  EXPECT_EQ(9u, r[1].sessionID);
  EXPECT_EQ("story.rdf", r[2].name);
  EXPECT_EQ("next.htm", r[3].name);
}

}  // namespace
