// The delivery thread's story rendering: blocks go through EnqDataBlock to the running
// thread, and what the application callback receives is checked record by record. Each
// test ends on a record it expects last, so the complete sequence is known once it arrived.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "block_sink.h"
#include "gateway/delivery_queue.h"
#include "support/log_capture.h"

namespace {

using owc_test::BlockSink;
using owc_test::Delivered;

// The headline comes from the XML file and the metadata headline from the RDF file, so a
// page proves both files of the pair reached the document.
const char kTemplate[] =
    "<?Kavio namespace m = \"http://www.veltrane.com/namespaces/meta#\"?>"
    "<h1><?Kavio insert headline?></h1><p><?Kavio insert m:headline?></p>";

std::string StoryXML(const std::string& headline) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<nitf><body><body.head><hedline><hl1>" +
         headline + "</hl1></hedline></body.head><body.content><p>Text.</p></body.content>" +
         "</body></nitf>\n";
}

std::string StoryRDF(const std::string& headline) {
  return "<?xml version=\"1.0\"?>\n<Resource "
         "xmlns=\"http://www.veltrane.com/namespaces/meta#\"><headline>" +
         headline + "</headline></Resource>\n";
}

// The page kTemplate makes for a story, with the terminating NUL the record counts.
std::string Page(const std::string& headline, const std::string& metaHeadline) {
  return "<h1>" + headline + "</h1><p>" + metaHeadline + "</p>" + std::string(1, '\0');
}

// One block of a file as the session would queue it; the queue copies what it points to.
struct Block {
  std::string name;
  uint32_t number;
  bool last;
  std::string data;
  uint32_t session = 42;
};

class StoryRenderTest : public ::testing::Test {
 protected:
  StoryRenderTest() { mQueue.SetCallback(&BlockSink::Callback, mSink.User()); }
  ~StoryRenderTest() override { mQueue.Stop(true); }

  bool SetMode(uint32_t mode, const char* tmpl = kTemplate) {
    return mQueue.SetOutputMode(mode, tmpl, tmpl != nullptr ? std::strlen(tmpl) : 0, nullptr, 0);
  }

  // Starts the thread, queues the blocks and returns every record delivered once
  // `expected` records arrived; the thread is stopped then, so no record can follow.
  std::vector<Delivered> Deliver(const std::vector<Block>& blocks, size_t expected) {
    EXPECT_TRUE(mQueue.Start());
    for (const Block& b : blocks) {
      std::string name = b.name;
      std::string data = b.data;
      HOBWBlockQElt rec{b.session,
                        uint8_t{b.number == 0},
                        uint8_t{b.last},
                        b.number,
                        &name[0],
                        nullptr,
                        reinterpret_cast<uint8_t*>(&data[0]),
                        static_cast<uint32_t>(data.size())};
      EXPECT_TRUE(mQueue.EnqDataBlock(rec));
    }
    mSink.WaitFor(expected);
    mQueue.Stop(true);
    return mSink.WaitFor(expected);
  }

  static std::vector<std::string> Names(const std::vector<Delivered>& records) {
    std::vector<std::string> names;
    for (const Delivered& r : records) names.push_back(r.name);
    return names;
  }

  owc_test::LogCapture mLog;
  BlockSink mSink;
  owc::HOBWQueueThread mQueue;
};

using NameList = std::vector<std::string>;

TEST_F(StoryRenderTest, RawAndHtmlModeDeliversTheBlocksThenOnePageRightAfterTheLast) {
  ASSERT_TRUE(SetMode(2));
  const std::string xml = StoryXML("Bridge reopens");
  const size_t half = xml.size() / 2;
  Block rdfLast{"kpa.0317.rdf", 0, true, StoryRDF("Bridge")};
  rdfLast.session = 43;  // the page carries the id of the block that completed the story
  auto r = Deliver({{"kpa.0317.xml", 0, false, xml.substr(0, half)},
                    {"kpa.0317.xml", 1, true, xml.substr(half)},
                    rdfLast,
                    // The other order, RDF first, renders as well: the pair was emptied.
                    {"b.rdf", 0, true, StoryRDF("Second")},
                    {"b.xml", 0, true, StoryXML("Second story")}},
                   7);
  ASSERT_EQ(NameList({"kpa.0317.xml", "kpa.0317.xml", "kpa.0317.rdf", "kpa.0317.htm", "b.rdf",
                      "b.xml", "b.htm"}),
            Names(r));
  EXPECT_EQ(xml, r[0].data + r[1].data);  // the raw blocks are untouched
  const Delivered& page = r[3];
  EXPECT_EQ("kpa.0317.xml", page.parent);
  EXPECT_EQ(Page("Bridge reopens", "Bridge"), page.data);  // mDataLen counts the NUL
  EXPECT_EQ(1, page.first);
  EXPECT_EQ(1, page.last);
  EXPECT_EQ(0u, page.blockNum);
  EXPECT_EQ(43u, page.sessionID);
  EXPECT_EQ("b.xml", r[6].parent);
  EXPECT_EQ(Page("Second story", "Second"), r[6].data);
  EXPECT_EQ(42u, r[6].sessionID);
}

TEST_F(StoryRenderTest, HtmlModeDeliversOnlyPagesAndOtherFilesPassUnpaired) {
  EXPECT_FALSE(SetMode(1, nullptr));
  EXPECT_FALSE(SetMode(1, ""));
  EXPECT_FALSE(SetMode(1, "<?Kavio version 3?>"));  // a template that does not load
  ASSERT_TRUE(SetMode(1));
  // A notice between the two files of a story neither renders nor breaks the pair.
  auto r = Deliver({{"a.xml", 0, true, StoryXML("First")},
                    {"notice.txt", 0, true, "SERVICE NOTICE"},
                    {"a.rdf", 0, true, StoryRDF("One")},
                    {"notice.txt", 0, true, "SERVICE NOTICE"},
                    {"z.xml", 0, true, StoryXML("Last")},
                    {"z.rdf", 0, true, StoryRDF("Two")}},
                   2);
  ASSERT_EQ(NameList({"a.htm", "z.htm"}), Names(r));
  EXPECT_EQ("a.xml", r[0].parent);
  EXPECT_EQ(Page("First", "One"), r[0].data);
  EXPECT_EQ(Page("Last", "Two"), r[1].data);
}

TEST_F(StoryRenderTest, MalformedStoryIsLoggedAndSkippedAndTheNextRenders) {
  ASSERT_TRUE(SetMode(2));
  auto r = Deliver({{"bad.xml", 0, true, "<nitf><body></nitf>"},
                    {"bad.rdf", 0, true, StoryRDF("Bad")},
                    {"good.xml", 0, true, StoryXML("Good")},
                    {"good.rdf", 0, true, StoryRDF("Fine")}},
                   5);
  // Raw blocks of the failed story are still delivered; only its page is missing.
  ASSERT_EQ(NameList({"bad.xml", "bad.rdf", "good.xml", "good.rdf", "good.htm"}), Names(r));
  EXPECT_EQ(Page("Good", "Fine"), r[4].data);
  EXPECT_EQ(0,
            mLog.SeverityOf("HOBWQueueThread::ProcessRXDataBlock mHTMLTemplate.Generate failed"));
}

TEST_F(StoryRenderTest, BlockOfAnotherStoryDropsTheCollectingPair) {
  ASSERT_TRUE(SetMode(2));
  const std::string xmlA = StoryXML("Story A");
  auto r = Deliver({{"a.xml", 0, false, xmlA.substr(0, 10)},
                    {"b.xml", 0, true, StoryXML("Story B")},  // refused: a is dropped
                    {"a.xml", 1, true, xmlA.substr(10)},      // starts a new, broken pair
                    {"a.rdf", 0, true, StoryRDF("A")},
                    {"c.xml", 0, true, StoryXML("Story C")},
                    {"c.rdf", 0, true, StoryRDF("C")}},
                   7);
  ASSERT_EQ(NameList({"a.xml", "b.xml", "a.xml", "a.rdf", "c.xml", "c.rdf", "c.htm"}), Names(r));
  EXPECT_EQ(Page("Story C", "C"), r[6].data);
  EXPECT_EQ(0, mLog.SeverityOf("HOBWQueueThread::ProcessRXDataBlock mXMLRDFPair.AddBlock failed "
                               "for existing [a] new [b.xml]"));
  EXPECT_TRUE(mLog.Has("HOBWQueueThread::ProcessRXDataBlock mHTMLTemplate.Generate failed"));
}

TEST_F(StoryRenderTest, RawModeWithATemplateNeverRenders) {
  EXPECT_TRUE(SetMode(0, "<?Kavio version 3?>"));  // not even loaded
  ASSERT_TRUE(SetMode(2));
  ASSERT_TRUE(SetMode(0));  // the template loaded for the HTML mode is not used
  // Nor does it pair: stories that would be refused together pass without a word.
  auto r = Deliver({{"a.xml", 0, true, StoryXML("First")},
                    {"b.xml", 0, false, "<nitf>"},
                    {"a.rdf", 0, true, StoryRDF("One")},
                    {"end.txt", 0, true, "end"}},
                   4);
  EXPECT_EQ(NameList({"a.xml", "b.xml", "a.rdf", "end.txt"}), Names(r));
  EXPECT_FALSE(mLog.HasPart("ProcessRXDataBlock"));
  EXPECT_FALSE(mLog.HasPart("AddBlock"));
}

}  // namespace
