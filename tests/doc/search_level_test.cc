// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "doc/search_level.h"
#include "support/log_capture.h"

namespace owc_test {
namespace {

using owc::WCXMLParsePath;
using owc::WCXMLSearchLevel;

// Each row builds a fresh index, then asks whether an element path is a parse property.
TEST(SearchLevelTest, MatchesFollowWildAndFixedLevelsAndTheOrderOfInsertion) {
  const struct {
    std::vector<const char*> props;
    const char* path;
    bool match;
  } cases[] = {
      // Fixed levels match only their index, and a leaf ends the match.
      {{"\\a(0)\\b(1)\\c(0)"}, "\\a(0)\\b(1)\\c(0)", true},
      {{"\\a(0)\\b(1)\\c(0)"}, "\\a(0)\\b(2)\\c(0)", false},
      {{"\\a(0)\\b(1)\\c(0)"}, "\\a(0)\\b(1)", false},
      {{"\\a(0)\\b(1)\\c(0)"}, "\\a(0)\\b(1)\\c(0)\\d(0)", false},
      {{"\\a(2000000000)\\b(0)"}, "\\a(2000000000)\\b(0)", true},
      {{"\\a(2000000000)\\b(0)"}, "\\a(0)\\b(0)", false},
      // A wild leaf takes every index; a wild inner segment is stored but never followed.
      {{"\\a(0)\\b(-1)"}, "\\a(0)\\b(7)", true},
      {{"\\a(-1)\\b(0)"}, "\\a(0)\\b(0)", false},
      // A shorter path inserted later becomes a mid-leaf; inserted first, it hides the longer.
      {{"\\a(0)\\b(-1)", "\\a(0)"}, "\\a(0)", true},
      {{"\\a(0)\\b(-1)", "\\a(0)"}, "\\a(0)\\b(3)", true},
      {{"\\a(0)", "\\a(0)\\b(-1)"}, "\\a(0)\\b(0)", false},
      {{"\\a(0)\\b(0)", "\\a(0)", "\\a(2)"}, "\\a(0)", false},  // the latest mid-leaf wins
      {{"\\a(0)\\b(0)", "\\a(0)", "\\a(2)"}, "\\a(2)", true},
      {{"\\a(0)\\b(0)", "\\a(0)", "\\a(2)"}, "\\a(0)\\b(0)", true},
      // A later wild insertion widens a fixed leaf; a later fixed one adds nothing.
      {{"\\a(0)\\b(0)", "\\a(0)\\b(-1)"}, "\\a(0)\\b(5)", true},
      {{"\\a(0)\\b(0)", "\\a(0)\\b(1)"}, "\\a(0)\\b(1)", false},
      // Names ignore case; the index text reads like a signed decimal.
      {{"\\NITF(0)"}, "\\nitf(0)", true},
      {{"\\a( +3x)"}, "\\a(3)", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.props.back()) + " ? " + c.path);
    WCXMLSearchLevel root;
    for (const char* prop : c.props) ASSERT_TRUE(root.InsertProperty(prop));
    std::unique_ptr<WCXMLParsePath> path(root.CreateParsePath(c.path));
    EXPECT_EQ(c.match, root.MatchParsePath(*path));
  }
}

TEST(SearchLevelTest, SyntaxErrorsAreLoggedAndEarlierSegmentsStayInnerNodes) {
  const struct {
    const char* prop;
    const char* line;  // empty: refused without a word
    size_t kept;       // nodes left at the root
  } cases[] = {
      {"\\nitf(0", "WCXMLSearchLevel::InsertProperty malformed input no end ), \\nitf(0", 0},
      {"\\nitf0)", "WCXMLSearchLevel::InsertProperty malformed input no beginning (, \\nitf0)", 0},
      {"\\a(-2)", "WCXMLSearchLevel::InsertProperty malformed input bad index, \\a(-2)", 0},
      {"\\a(0)x\\b(0)", "WCXMLSearchLevel::InsertProperty beginning '\\' not found, x\\b(0)", 1},
      {"", "", 0},
      {nullptr, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.prop == nullptr ? "null" : c.prop);
    LogCapture log;
    WCXMLSearchLevel root;
    EXPECT_FALSE(root.InsertProperty(c.prop));
    EXPECT_EQ(*c.line == '\0' ? 0u : 1u, log.Lines().size());
    EXPECT_EQ(*c.line == '\0' ? -1 : 0, log.SeverityOf(c.line));
    ASSERT_EQ(c.kept, root.GetCount());
    EXPECT_FALSE(c.kept > 0 && root.FindNode("a")->IsLeaf());
  }
}

TEST(SearchLevelTest, DumpWalksWildThenFixedLevelsInIndexOrderAndMarksLeavesAndMidLeaves) {
  LogCapture log;
  WCXMLSearchLevel root;
  root.Dump();
  EXPECT_TRUE(log.Lines().empty());  // an empty level logs nothing
  for (const char* prop :
       {"\\a(-1)\\b(2)", "\\a(4)\\e(1)", "\\a(0)\\c(-1)", "\\a(3)", "\\d(5)", "\\d(-1)"}) {
    ASSERT_TRUE(root.InsertProperty(prop)) << prop;
  }
  root.FindNode("d")->EnsureFixedLevel(7);  // empty: no lines
  root.FindNode("d")->EnsureWildLevel();    // empty, but it exists
  root.Dump();
  const std::string a = "SearchTag = a, Index = -1, IsLeaf = 0, NodeLevel = 1.";
  const std::string d = "SearchTag = d, Index = -1, IsLeaf = 1, NodeLevel = 1.";
  const std::vector<std::string> expected = {
      "Dumping a Level List.",
      "Starting Dump of Wild " + a + " MidLeaf 1, MidIndex 3",
      "Dumping a Level List.",
      "Dump LEAF SearchTag = b, Index = 2, IsLeaf = 1, NodeLevel = 2.MidLeaf 0, MidIndex 0",
      "End Dumping Level list",
      "Ending Dump of Wild " + a + "MidLeaf 1, MidIndex 3",
      "Starting Dump of Fixed 0 " + a + "MidLeaf 1, MidIndex 3",
      "Dumping a Level List.",
      "Dump LEAF SearchTag = c, Index = -1, IsLeaf = 1, NodeLevel = 2.MidLeaf 0, MidIndex 0",
      "End Dumping Level list",
      "Ending Dump of Fixed 0 " + a + "MidLeaf 1, MidIndex 3",
      "Starting Dump of Fixed 4 " + a + "MidLeaf 1, MidIndex 3",
      "Dumping a Level List.",
      "Dump LEAF SearchTag = e, Index = 1, IsLeaf = 1, NodeLevel = 2.MidLeaf 0, MidIndex 0",
      "End Dumping Level list",
      "Ending Dump of Fixed 4 " + a + "MidLeaf 1, MidIndex 3",
      "Dump MIDLEAF " + a + "MidLeaf 1, MidIndex 3",
      "Starting Dump of Wild " + d + " MidLeaf 1, MidIndex -1",
      "Ending Dump of Wild " + d + "MidLeaf 1, MidIndex -1",
      "Dump LEAF " + d + "MidLeaf 1, MidIndex -1",  // a leaf that later paths also end at
      "End Dumping Level list",
  };
  std::vector<std::string> dumped;
  for (const LogCapture::Line& line : log.Lines()) {
    dumped.push_back(line.text);
    EXPECT_EQ(2, line.severity) << line.text;
  }
  EXPECT_EQ(expected, dumped);
}

}  // namespace
}  // namespace owc_test
