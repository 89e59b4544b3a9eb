// SPDX-License-Identifier: MIT
// The delivery thread: blocks go through EnqDataBlock to the running thread, and what the
// application callback receives is compared record by record.
#include "gateway/delivery_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "support/block_sink.h"
#include "support/clock.h"
#include "support/failing_new.h"
#include "support/gate.h"
#include "support/log_capture.h"
#include "support/refused_allocations.h"

namespace owc_test {
namespace {

using Texts = std::vector<std::string>;
using namespace std::string_literals;

// The headline comes from the XML file and the metadata headline from the RDF file, so a
// page proves both files of the pair reached the document.
const char kTemplate[] =
    "<?Kavio namespace m = \"http://www.veltrane.com/namespaces/meta#\"?>"
    "<h1><?Kavio insert headline?></h1><p><?Kavio insert m:headline?></p>";

std::string Xml(const std::string& headline) {
  return "<?xml version=\"1.0\"?>\n<nitf><body><body.head><hedline><hl1>" + headline +
         "</hl1></hedline></body.head><body.content><p>Text.</p></body.content></body></nitf>\n";
}
std::string Rdf(const std::string& headline) {
  return "<?xml version=\"1.0\"?>\n<Resource xmlns=\"http://www.veltrane.com/namespaces/meta#\">"
         "<headline>" +
         headline + "</headline></Resource>\n";
}
// The page record kTemplate makes; its length counts the terminating NUL.
std::string Page(uint32_t session, const std::string& base, const std::string& headline,
                 const std::string& metaHeadline) {
  return std::to_string(session) + " 11 #0 " + base + ".htm<" + base + ".xml <h1>" + headline +
         "</h1><p>" + metaHeadline + "</p>" + std::string(1, '\0');
}

// One block as the session queues it.
struct Block {
  std::string name;
  uint32_t number;
  bool last;
  std::string data;
  uint32_t session = 42;
  std::string parent = "";
};

// Queues the blocks from buffers overwritten right after: the queue must keep copies. Every
// other block's data lies in a received block message, which the queue takes instead.
void Enqueue(owc::HOBWQueueThread& queue, const std::vector<Block>& blocks) {
  bool inMessage = false;
  for (const Block& b : blocks) {
    std::string name = b.name, parent = b.parent, data = b.data;
    HOBWBlockQElt rec{b.session,
                      uint8_t{b.number == 0},
                      uint8_t{b.last},
                      b.number,
                      &name[0],
                      parent.empty() ? nullptr : &parent[0],
                      reinterpret_cast<uint8_t*>(&data[0]),
                      static_cast<uint32_t>(data.size())};
    inMessage = !inMessage;
    if (inMessage) {
      auto msg = std::make_unique<WCXMLWireMsgRequestBlockAck>();
      ASSERT_TRUE(msg->SetInfo(b.session, b.number, static_cast<uint16_t>(data.size()), data.data(),
                               uint8_t{b.last}));
      rec.mData = const_cast<uint8_t*>(msg->GetData());
      EXPECT_TRUE(queue.EnqDataBlock(rec, std::move(msg)));
    } else {
      EXPECT_TRUE(queue.EnqDataBlock(rec));
    }
    name.assign(name.size(), '#');
    parent.assign(parent.size(), '#');
    data.assign(data.size(), '#');
  }
}

// A notice between the files of a story neither renders nor breaks the pair; the page
// carries the id of the block that completed the story; either file may come first; a
// block of another story drops the pair being collected and starts the next one; a story
// that does not render is skipped and the next renders.
TEST(DeliveryQueueTest, ModesDecideBetweenRawBlocksAndAPageRightAfterTheBlockCompletingAStory) {
  const std::string xml = Xml("Bridge reopens");
  const std::vector<Block> blocks = {
      {"a.xml", 0, false, xml.substr(0, 9)}, {"a.xml", 1, true, xml.substr(9), 42, "p"},
      {"notice.txt", 0, true, "NOTICE"},     {"a.rdf", 0, true, Rdf("Bridge"), 43},
      {"b.rdf", 0, true, Rdf("Two")},        {"b.xml", 0, true, Xml("Second")},
      {"c.xml", 0, false, xml.substr(0, 9)}, {"d.xml", 0, true, Xml("Fourth")},
      {"d.rdf", 0, true, Rdf("Four")},       {"bad.xml", 0, true, "<nitf><body></nitf>"},
      {"bad.rdf", 0, true, Rdf("Bad")},      {"e.xml", 0, true, Xml("Fifth")},
      {"e.rdf", 0, true, Rdf("Five")}};
  const Texts pages = {Page(43, "a", "Bridge reopens", "Bridge"), Page(42, "b", "Second", "Two"),
                       Page(42, "d", "Fourth", "Four"), Page(42, "e", "Fifth", "Five")};
  Texts raws, rawNames;
  for (const Block& b : blocks) {
    raws.push_back(std::to_string(b.session) + " " + (b.number == 0 ? "1" : "0") +
                   (b.last ? "1" : "0") + " #" + std::to_string(b.number) + " " + b.name + "<" +
                   (b.parent.empty() ? "-" : b.parent) + " " + b.data);
    rawNames.push_back(b.name);
  }
  struct Case {
    uint32_t mode;
    Texts names;
  };
  for (const Case& c :
       {Case{0, rawNames}, Case{1, {"a.htm", "b.htm", "d.htm", "e.htm"}},
        Case{2,
             {"a.xml", "a.xml", "notice.txt", "a.rdf", "a.htm", "b.rdf", "b.xml", "b.htm", "c.xml",
              "d.xml", "d.rdf", "d.htm", "bad.xml", "bad.rdf", "e.xml", "e.rdf", "e.htm"}}}) {
    SCOPED_TRACE(c.mode);
    owc_test::LogCapture log;
    BlockSink sink;
    owc::HOBWQueueThread queue;
    queue.SetCallback(&BlockSink::Callback, sink.User());
    ASSERT_TRUE(queue.SetOutputMode(2, kTemplate, sizeof kTemplate - 1, nullptr, 0));
    ASSERT_TRUE(queue.SetOutputMode(c.mode, kTemplate, sizeof kTemplate - 1, nullptr, 0));
    ASSERT_TRUE(queue.Start());
    Enqueue(queue, blocks);
    sink.WaitFor(c.names.size());  // the last record expected; then none can follow
    queue.Stop(true);
    const auto records = sink.WaitFor(c.names.size());
    const Texts all = owc_test::Describe(records);
    Texts names, gotRaws, gotPages;
    for (size_t i = 0; i < records.size(); ++i) {
      names.push_back(records[i].name);
      (records[i].name.find(".htm") != std::string::npos ? gotPages : gotRaws).push_back(all[i]);
    }
    EXPECT_EQ(c.names, names);
    EXPECT_EQ(c.mode == 1 ? Texts{} : raws, gotRaws);
    EXPECT_EQ(c.mode == 0 ? Texts{} : pages, gotPages);
    EXPECT_EQ(c.mode == 0 ? -1 : 0,
              log.SeverityOf("HOBWQueueThread::ProcessRXDataBlock mXMLRDFPair.AddBlock failed "
                             "for existing [c] new [d.xml]"));
    EXPECT_EQ(c.mode == 0 ? -1 : 0,
              log.SeverityOf("HOBWQueueThread::ProcessRXDataBlock mHTMLTemplate.Generate failed"));
  }
}

// A block the queue cannot copy is refused, with the copy that failed named. The story
// being rendered when memory runs out is dropped like one that does not render: its raw
// blocks still go out, and the next story gets its page.
TEST(DeliveryQueueTest, RunningOutOfMemoryCostsTheBlockOrTheStoryAndNothingElse) {
  owc_test::LogCapture log;
  BlockSink sink;
  owc::HOBWQueueThread queue;
  char name[] = "q.xml", parent[] = "q", data[] = "d";
  const HOBWBlockQElt record{42, 1, 1, 0, name, parent, reinterpret_cast<uint8_t*>(data), 1};
  const char* const prefix = "HOBWQueueThread::EnqDataBlock ";
  EXPECT_EQ(
      (Texts{prefix + "new HOBWBlockQElt failed"s, prefix + "qElt->mFName new char [] failed"s,
             prefix + "qElt->mParentFName new char [] failed"s,
             prefix + "qElt->mData new unsigned char [] failed"s, prefix + "mRXQ.AddTail failed"s}),
      FailuresWhenRefused(log, {0, 1, 2, 3, 4}, [&] { return queue.EnqDataBlock(record); }));
  EXPECT_EQ(0u, queue.GetQueueCount());
  EXPECT_EQ(5u, log.Lines().size());  // nothing else was logged

  const std::string lost(57, 'n');  // rendering copies the name: an allocation of 58 bytes
  sink.onCall = [&lost](const HOBWBlockQElt& r) {
    if (r.mFName == lost + ".xml") owc_test::FailNextPlainAllocation(lost.size() + 1);
  };
  queue.SetCallback(&BlockSink::Callback, sink.User());
  ASSERT_TRUE(queue.SetOutputMode(2, kTemplate, sizeof kTemplate - 1, nullptr, 0));
  ASSERT_TRUE(queue.Start());
  Enqueue(queue, {{lost + ".xml", 0, true, Xml("Lost")},
                  {lost + ".rdf", 0, true, Rdf("Lost")},
                  {"e.xml", 0, true, Xml("Fifth")},
                  {"e.rdf", 0, true, Rdf("Five")}});
  const auto records = sink.WaitFor(5);
  queue.Stop(true);
  Texts names;
  for (const auto& r : records) names.push_back(r.name);
  EXPECT_EQ((Texts{lost + ".xml", lost + ".rdf", "e.xml", "e.rdf", "e.htm"}), names);
  EXPECT_EQ(0, log.SeverityOf("HOBWQueueThread::Run out of memory, story discarded"));
}

// The first call takes 9 s of module time and holds the thread until the stop: what is
// still queued then is discarded.
TEST(DeliveryQueueTest, SlowCallbackIsReportedAndStopDiscardsBlocksStillQueued) {
  owc_test::LogCapture log;
  Gate gate;
  BlockSink sink;
  sink.onCall = [&](const HOBWBlockQElt&) {
    owc_test::AdvanceMs(9000);
    gate.Pass();
  };
  owc::HOBWQueueThread queue;
  queue.SetCallback(&BlockSink::Callback, sink.User());
  ASSERT_TRUE(queue.Start());
  Enqueue(queue, {{"s.xml", 0, false, "a"}});
  while (queue.GetQueueCount() != 0) std::this_thread::yield();  // a is in the callback
  Enqueue(queue, {{"s.xml", 1, false, "b"}, {"s.xml", 2, true, "c"}});
  queue.Stop(false);
  gate.Open();
  queue.Stop(true);
  EXPECT_EQ(1u, sink.WaitFor(1).size());
  EXPECT_EQ(0u, queue.GetQueueCount());
  EXPECT_EQ(0, log.SeverityOf(
                   "HOBWQueueThread::SendToCallback long time in application callback, 9000 ms"));
  EXPECT_EQ(0, log.SeverityOf("HOBWQueueThread::Run 2 queued blocks discarded"));
}

// The seams of the spin for owed blocks.
class SpinningQueue : public owc::HOBWQueueThread {
 public:
  using HOBWQueueThread::GetBlocksCaughtSpinning;
  using HOBWQueueThread::GetOwedBlockSpins;
  using HOBWQueueThread::SetOwedBlockSpin;
};

// Acknowledging after delivery, the server sends the next file only once a delivery is
// acknowledged, so after each delivery the thread spins for the block that brings. The
// spin must catch a block queued while it runs, end at once on a stop however long it may
// last, and never run where blocks do not wait for deliveries.
TEST(DeliveryQueueTest, AfterADeliveryTheThreadSpinsForTheNextBlockOnlyWhenItIsOwed) {
  for (bool owed : {true, false}) {
    BlockSink sink;
    SpinningQueue queue;
    queue.SetCallback(&BlockSink::Callback, sink.User());
    queue.SetSpinForOwedBlocks(owed);
    queue.SetOwedBlockSpin(60u * 1000 * 1000, 0xffffffffu);  // only a block or the stop ends it
    ASSERT_TRUE(queue.Start());
    Enqueue(queue, {{"s.xml", 0, false, "a"}});
    if (owed) {
      while (queue.GetOwedBlockSpins() == 0) std::this_thread::yield();
    } else {
      sink.WaitFor(1);
    }
    Enqueue(queue, {{"s.xml", 1, true, "b"}});
    EXPECT_EQ((Texts{"42 10 #0 s.xml<- a", "42 01 #1 s.xml<- b"}), Describe(sink.WaitFor(2)));
    if (owed) {
      while (queue.GetOwedBlockSpins() < 2) std::this_thread::yield();
    }

    const auto start = std::chrono::steady_clock::now();
    queue.Stop(true);
    const auto stopping = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration<double>(stopping).count(), 30.0);  // seconds: not the minute
    EXPECT_EQ(owed ? 2u : 0u, queue.GetOwedBlockSpins()) << owed;
    EXPECT_EQ(owed ? 1u : 0u, queue.GetBlocksCaughtSpinning()) << owed;
  }
}

}  // namespace
}  // namespace owc_test
