// Story rendering through the gateway's C interface against the reference server
// (in-process), with the example stories, template and translation table. Each test has its
// own 127.0.0.N (80-99): ctest runs them side by side.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "gateway/block_sink.h"
#include "owclient/owclient.h"
#include "server.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"
#include "support/wire_test_client.h"

extern char** environ;

namespace {

using owc_test::BlockSink;
using owc_test::Delivered;
using owc_test::Loopback;
using owc_test::TempDir;

const std::string kExamples = OWC_EXAMPLES_DIR;
const std::string kStories = kExamples + "/stories";
const std::string kTemplatePath = kExamples + "/templates/story.tmpl";
const std::string kXlatePath = kExamples + "/templates/story.xlate";
const char* const kBases[] = {"chess-final",    "council-budget", "harbour-bridge", "river-ice",
                              "robot-marathon", "tea-harvest",    "weather-brief"};

std::string Story(const std::string& name) { return TempDir::Read(kStories + "/" + name); }

bool EndsWith(const std::string& text, const std::string& ending) {
  return text.size() >= ending.size() &&
         text.compare(text.size() - ending.size(), ending.size(), ending) == 0;
}

std::vector<Delivered> Pages(const std::vector<Delivered>& records) {
  std::vector<Delivered> pages;
  for (const Delivered& r : records)
    if (EndsWith(r.name, ".htm")) pages.push_back(r);
  return pages;
}

// Runs a program to its end; its exit status, or -1 when it did not run or exit.
int RunProgram(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// Where two pages part, with a little of each from there on.
std::string FirstDifference(const std::string& a, const std::string& b) {
  size_t at = std::mismatch(a.begin(), a.begin() + std::min(a.size(), b.size()), b.begin()).first -
              a.begin();
  return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) +
         ", first difference at " + std::to_string(at) + ": [" + a.substr(at, 60) + "] vs [" +
         b.substr(at, 60) + "]";
}

class RenderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mTemplate = TempDir::Read(kTemplatePath);
    mXlate = TempDir::Read(kXlatePath);
    ASSERT_FALSE(mTemplate.empty());
    ASSERT_FALSE(mXlate.empty());
    ASSERT_EQ(1, OrbrixWireStartup(0));
  }
  void TearDown() override {
    HOBWStop(1);
    if (mServer) mServer->Stop();
    OrbrixWireShutdown();
  }

  void StartServer(uint8_t last, owwired::Options options) {
    options.address = "127.0.0." + std::to_string(last);
    options.verbosity = 0;
    mServer = std::make_unique<owwired::Server>(options);
    std::string error;
    ASSERT_TRUE(mServer->Start(&error)) << error;
  }

  void StartGateway(uint8_t last, uint32_t mode) {
    ASSERT_EQ(1, HOBWStartWithTemplate(Loopback(last), &BlockSink::Callback, mSink.User(), mode,
                                       mTemplate.data(), static_cast<uint32_t>(mTemplate.size()),
                                       mXlate.data(), static_cast<uint32_t>(mXlate.size()), 0, 0));
  }

  owc_test::LogCapture mLog;
  BlockSink mSink;
  std::string mTemplate, mXlate;
  std::unique_ptr<owwired::Server> mServer;
};

using NameList = std::vector<std::string>;

NameList Names(const std::vector<Delivered>& records) {
  NameList names;
  for (const Delivered& r : records) names.push_back(r.name);
  return names;
}

TEST_F(RenderTest, RawAndHtmlModeDeliversTwoXmlBlocksOneRdfBlockThenThePage) {
  const std::string xml = Story("harbour-bridge.xml"), rdf = Story("harbour-bridge.rdf");
  owwired::Options options;
  options.block_size = 2048;  // the XML file takes two blocks, the RDF file one
  ASSERT_GT(xml.size(), 2048u);
  ASSERT_LE(xml.size(), 4096u);
  ASSERT_LE(rdf.size(), 2048u);
  options.files = {{"harbour-bridge.xml", xml}, {"harbour-bridge.rdf", rdf}};
  ASSERT_NO_FATAL_FAILURE(StartServer(80, options));
  ASSERT_NO_FATAL_FAILURE(StartGateway(80, 2));

  auto r = mSink.WaitFor(4);
  ASSERT_EQ(NameList({"harbour-bridge.xml", "harbour-bridge.xml", "harbour-bridge.rdf",
                      "harbour-bridge.htm"}),
            Names(r));
  EXPECT_EQ(1, r[0].first);
  EXPECT_EQ(1, r[1].last);
  EXPECT_EQ(xml, r[0].data + r[1].data);
  EXPECT_EQ(rdf, r[2].data);
  const Delivered& page = r[3];
  EXPECT_EQ("harbour-bridge.xml", page.parent);
  EXPECT_EQ(1, page.first);
  EXPECT_EQ(1, page.last);
  EXPECT_EQ(0u, page.blockNum);
  EXPECT_EQ(mServer->GetCounters().last_session_id, page.sessionID);
  EXPECT_EQ(r[2].sessionID, page.sessionID);
  ASSERT_FALSE(page.data.empty());
  EXPECT_EQ('\0', page.data.back());
  EXPECT_EQ(page.data.size() - 1, page.data.find('\0')) << "one NUL, at the end";
  EXPECT_NE(std::string::npos,
            page.data.find("<h1>Sønderhavn harbour bridge reopens after two-year rebuild</h1>"));
}

TEST_F(RenderTest, HtmlModeDeliversOnlyOnePagePerStory) {
  owwired::Options options;
  options.spool_dir = kStories;  // seven stories and notice.txt, story by story
  ASSERT_NO_FATAL_FAILURE(StartServer(81, options));
  ASSERT_NO_FATAL_FAILURE(StartGateway(81, 1));

  auto r = mSink.WaitFor(7);
  // weather-brief is the last story served: its page is the last record there can be.
  ASSERT_TRUE(
      mServer->WaitFor([](const owwired::Counters& c) { return c.files_delivered == 15; }, 5000));
  ASSERT_EQ(
      NameList({"chess-final.htm", "council-budget.htm", "harbour-bridge.htm", "river-ice.htm",
                "robot-marathon.htm", "tea-harvest.htm", "weather-brief.htm"}),
      Names(r));
  for (const Delivered& page : r) {
    EXPECT_EQ(page.name.substr(0, page.name.size() - 4) + ".xml", page.parent);
    EXPECT_EQ(std::string::npos, page.data.find("SERVICE NOTICE"));
  }
}

TEST_F(RenderTest, MalformedStoryIsSkippedWithItsLogLineAndTheNextRenders) {
  std::string broken = Story("river-ice.xml");
  broken.erase(broken.find("</body.content>"));  // the document never closes
  owwired::Options options;
  options.files = {{"river-ice.xml", broken},
                   {"river-ice.rdf", Story("river-ice.rdf")},
                   {"weather-brief.rdf", Story("weather-brief.rdf")},
                   {"weather-brief.xml", Story("weather-brief.xml")}};
  ASSERT_NO_FATAL_FAILURE(StartServer(82, options));
  ASSERT_NO_FATAL_FAILURE(StartGateway(82, 1));

  auto r = mSink.WaitFor(1);
  ASSERT_TRUE(
      mServer->WaitFor([](const owwired::Counters& c) { return c.files_delivered == 4; }, 5000));
  ASSERT_EQ(NameList({"weather-brief.htm"}), Names(r));
  EXPECT_NE(std::string::npos,
            r[0].data.find("<h1>Gales expected along the west coast overnight</h1>"));
  EXPECT_EQ(0,
            mLog.SeverityOf("HOBWQueueThread::ProcessRXDataBlock mHTMLTemplate.Generate failed"));
}

TEST_F(RenderTest, NoticeBetweenTheFilesOfAStoryPassesThroughRaw) {
  const std::string notice = Story("notice.txt");
  owwired::Options options;
  options.files = {{"river-ice.rdf", Story("river-ice.rdf")},
                   {"notice.txt", notice},
                   {"river-ice.xml", Story("river-ice.xml")}};
  ASSERT_NO_FATAL_FAILURE(StartServer(83, options));
  ASSERT_NO_FATAL_FAILURE(StartGateway(83, 2));

  auto r = mSink.WaitFor(4);
  ASSERT_EQ(NameList({"river-ice.rdf", "notice.txt", "river-ice.xml", "river-ice.htm"}), Names(r));
  EXPECT_EQ(notice, r[1].data);
  EXPECT_NE(std::string::npos, r[3].data.find("river ice break-up"));
}

// The gateway and owconvert render through the same engine but reach it by different roads
// (blocks joined in memory on the delivery thread; files through the conversion interface):
// every page must come out the same, byte for byte.
TEST_F(RenderTest, EveryExamplePageEqualsWhatOwconvertMakesOfTheSameFiles) {
  TempDir out;
  ASSERT_FALSE(out.Path().empty());
  ASSERT_EQ(0, RunProgram({OWC_OWCONVERT, "-t", kTemplatePath, "-x", kXlatePath, "--batch", "-d",
                           out.Path(), kStories}));

  owwired::Options options;
  options.spool_dir = kStories;
  options.block_size = 700;  // most files in several blocks
  size_t blocks = 0;
  for (const char* base : kBases)
    for (const char* ending : {".xml", ".rdf"})
      blocks += (Story(std::string(base) + ending).size() + 699) / 700;
  blocks += (Story("notice.txt").size() + 699) / 700;
  ASSERT_NO_FATAL_FAILURE(StartServer(84, options));
  ASSERT_NO_FATAL_FAILURE(StartGateway(84, 2));

  auto pages = Pages(mSink.WaitFor(blocks + 7));
  ASSERT_EQ(7u, pages.size());
  for (const Delivered& page : pages) {
    SCOPED_TRACE(page.name);
    ASSERT_FALSE(page.data.empty());
    ASSERT_EQ('\0', page.data.back());
    const std::string converted = TempDir::Read(out.File(page.name));
    ASSERT_FALSE(converted.empty());
    const std::string html = page.data.substr(0, page.data.size() - 1);
    EXPECT_TRUE(html == converted) << FirstDifference(html, converted);
  }
}

}  // namespace
