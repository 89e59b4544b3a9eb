// SPDX-License-Identifier: MIT
// Story rendering through the gateway against the reference server, with the example
// stories, template and translation table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "integration_support.h"
#include "owclient/owclient.h"

namespace owc_test {
namespace {

using Strings = std::vector<std::string>;
using RenderTest = owc_test::GatewayTest;

const std::string kStories = std::string(OWC_EXAMPLES_DIR) + "/stories";

// A restart takes the new server, mode and template; the id it asks to resume is unknown
// there, so the pages come under a new session.
TEST_F(RenderTest, RestartedInRawAndHtmlModeItDeliversTwoXmlBlocksOneRdfBlockThenThePage) {
  owwired::Options raw;
  raw.files = {{"raw.txt", "w"}};
  raw.firstSessionId = 100;
  Serve(43, raw);
  Start();
  ASSERT_EQ(1u, Records(1).size());
  StopAndForget();

  owwired::Options options;
  options.blockSize = 2048;  // the XML file takes two blocks, the RDF file one
  options.firstSessionId = 200;
  options.files = {{"harbour-bridge.xml", Example("stories/harbour-bridge.xml")},
                   {"harbour-bridge.rdf", Example("stories/harbour-bridge.rdf")}};
  Serve(80, options);
  Start(2, 1, 100);
  const auto r = Records(4);
  ASSERT_EQ((Strings{"harbour-bridge.xml", "harbour-bridge.xml", "harbour-bridge.rdf",
                     "harbour-bridge.htm"}),
            Names(r));
  ExpectFeedDelivered();
  const owc_test::Delivered& page = r[3];
  EXPECT_EQ("harbour-bridge.xml", page.parent);
  EXPECT_EQ(1, page.first);
  EXPECT_EQ(1, page.last);
  EXPECT_EQ(0u, page.blockNum);
  EXPECT_EQ(200u, page.sessionID);
  EXPECT_EQ(page.data.size() - 1, page.data.find('\0')) << "one NUL, at the end";
  EXPECT_NE(std::string::npos,
            page.data.find("<h1>Sønderhavn harbour bridge reopens after two-year rebuild</h1>"));
}

// A malformed story is skipped with a log line, and the next one renders. Read as described
// (no reading options), the Latin-1 and windows-1252 examples are malformed too.
TEST_F(RenderTest, HtmlModeDeliversOnlyOnePagePerStoryAndSkipsAMalformedOne) {
  std::string broken = Example("stories/river-ice.xml");
  broken.erase(broken.find("</body.content>"));  // the document never closes
  owwired::Options options;
  options.files = {{"broken.xml", broken}, {"broken.rdf", Example("stories/river-ice.rdf")}};
  options.spoolDir = kStories;  // then fourteen stories and notice.txt
  Serve(81, options);
  Start(1);
  // weather-brief is the last story served: its page is the last record there can be.
  ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.filesDelivered == 31; }));
  const auto r = Records(12);
  ASSERT_EQ((Strings{"chess-final.htm", "council-budget.htm", "ferry-timetable.htm",
                     "forged-links.htm", "glacier-survey.htm", "harbour-bridge.htm",
                     "museum-reopening.htm", "opera-premiere.htm", "river-ice.htm",
                     "robot-marathon.htm", "tea-harvest.htm", "weather-brief.htm"}),
            Names(r));
  for (const auto& page : r) {
    EXPECT_EQ(page.name.substr(0, page.name.size() - 4) + ".xml", page.parent);
    EXPECT_EQ(std::string::npos, page.data.find("SERVICE NOTICE"));
  }
  EXPECT_EQ(0,
            mLog.SeverityOf("HOBWQueueThread::ProcessRXDataBlock mHTMLTemplate.Generate failed"));
}

TEST_F(RenderTest, NoticeBetweenTheFilesOfAStoryPassesThroughRaw) {
  owwired::Options options;
  options.files = {{"river-ice.rdf", Example("stories/river-ice.rdf")},
                   {"notice.txt", Example("stories/notice.txt")},
                   {"river-ice.xml", Example("stories/river-ice.xml")}};
  Serve(83, options);
  Start(2);
  const auto r = Records(4);
  ASSERT_EQ((Strings{"river-ice.rdf", "notice.txt", "river-ice.xml", "river-ice.htm"}), Names(r));
  ExpectFeedDelivered();
  EXPECT_NE(std::string::npos, r[3].data.find("river ice break-up"));
}

}  // namespace
}  // namespace owc_test
