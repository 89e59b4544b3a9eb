#include "doc/search_level.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "doc/doc_settings.h"
#include "support/log_capture.h"

namespace {

using owc::WCXMLParsePath;
using owc::WCXMLSearchLevel;
using owc::XMLPropNode;
using owc_test::LogCapture;

using Steps = std::vector<std::pair<std::string, int>>;

bool Matches(const WCXMLSearchLevel& root, const Steps& steps) {
  WCXMLParsePath path;
  for (const auto& step : steps) path.AddTail(new XMLPropNode(step.first, step.second));
  return root.MatchParsePath(path);
}

const Steps kContent = {{"nitf", 0}, {"body", 0}, {"body.content", 0}};

Steps Hl2(int index) {
  return {{"nitf", 0}, {"body", 0}, {"body.head", 0}, {"hedline", 0}, {"hl2", index}};
}

TEST(PropertyIndex, FixedPathMatchesOnlyItselfAndALeafEndsTheMatch) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\nitf(0)\\body(0)\\body.content(0)"));
  EXPECT_TRUE(Matches(root, kContent));
  EXPECT_FALSE(Matches(root, {{"nitf", 0}, {"body", 1}, {"body.content", 0}}));
  EXPECT_FALSE(Matches(root, {{"nitf", 0}, {"body", 0}}));
  EXPECT_FALSE(Matches(root, {{"nitf", 0}, {"body", 0}, {"body.content", 0}, {"p", 0}}));
  EXPECT_FALSE(Matches(root, {}));
}

TEST(PropertyIndex, WildLeafMatchesEveryIndexAndFixedLeafOnlyItsOwn) {
  WCXMLSearchLevel wild;
  ASSERT_TRUE(wild.InsertProperty("\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl2(-1)"));
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(Matches(wild, Hl2(i))) << i;

  WCXMLSearchLevel fixed;
  ASSERT_TRUE(fixed.InsertProperty("\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl2(1)"));
  EXPECT_FALSE(Matches(fixed, Hl2(0)));
  EXPECT_TRUE(Matches(fixed, Hl2(1)));
  EXPECT_FALSE(Matches(fixed, Hl2(2)));
}

TEST(PropertyIndex, ShorterPathInsertedLaterMatchesThroughMidLeaf) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\nitf(0)\\body(0)\\body.content(0)\\p(-1)"));
  ASSERT_TRUE(root.InsertProperty("\\nitf(0)\\body(0)\\body.content(0)"));
  EXPECT_TRUE(Matches(root, kContent));
  EXPECT_TRUE(Matches(root, {{"nitf", 0}, {"body", 0}, {"body.content", 0}, {"p", 3}}));
}

TEST(PropertyIndex, LongerPathBelowAnExistingLeafNeverMatches) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\nitf(0)\\body(0)\\body.content(0)"));
  ASSERT_TRUE(root.InsertProperty("\\nitf(0)\\body(0)\\body.content(0)\\p(-1)"));
  EXPECT_TRUE(Matches(root, kContent));
  EXPECT_FALSE(Matches(root, {{"nitf", 0}, {"body", 0}, {"body.content", 0}, {"p", 0}}));
}

TEST(PropertyIndex, LaterWildInsertionWidensAFixedLeaf) {
  WCXMLSearchLevel widened;
  ASSERT_TRUE(widened.InsertProperty("\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl2(0)"));
  ASSERT_TRUE(widened.InsertProperty("\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl2(-1)"));
  EXPECT_TRUE(Matches(widened, Hl2(0)));
  EXPECT_TRUE(Matches(widened, Hl2(5)));

  WCXMLSearchLevel kept;
  ASSERT_TRUE(kept.InsertProperty("\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl2(0)"));
  ASSERT_TRUE(kept.InsertProperty("\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl2(1)"));
  EXPECT_TRUE(Matches(kept, Hl2(0)));
  EXPECT_FALSE(Matches(kept, Hl2(1)));
}

TEST(PropertyIndex, LatestMidLeafIndexWins) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\a(0)\\b(0)"));
  ASSERT_TRUE(root.InsertProperty("\\a(0)"));
  EXPECT_TRUE(Matches(root, {{"a", 0}}));
  ASSERT_TRUE(root.InsertProperty("\\a(2)"));
  EXPECT_FALSE(Matches(root, {{"a", 0}}));
  EXPECT_TRUE(Matches(root, {{"a", 2}}));
  EXPECT_TRUE(Matches(root, {{"a", 0}, {"b", 0}}));
}

TEST(PropertyIndex, NamesMatchWithoutRegardToCaseAndDuplicatesAreNotAdded) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\NITF(0)"));
  ASSERT_TRUE(root.InsertProperty("\\nitf(0)"));
  EXPECT_TRUE(Matches(root, {{"nitf", 0}}));
  EXPECT_EQ(1u, root.GetCount());
  EXPECT_EQ(root.FindNode("Nitf"), root.FindNode("NITF"));
}

TEST(PropertyIndex, WildIndexOnAnInnerSegmentIsStoredButNeverFollowed) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\a(-1)\\b(0)"));
  EXPECT_NE(nullptr, root.FindNode("a")->GetWildLevel());
  EXPECT_FALSE(Matches(root, {{"a", 0}, {"b", 0}}));
}

TEST(PropertyIndex, LargeIndexNeedsNoArrayOfThatSize) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\a(2000000000)\\b(0)"));
  EXPECT_TRUE(Matches(root, {{"a", 2000000000}, {"b", 0}}));
  EXPECT_FALSE(Matches(root, {{"a", 0}, {"b", 0}}));
}

TEST(PropertyIndex, SyntaxErrorsAreLoggedAndEarlierSegmentsStay) {
  LogCapture log;
  WCXMLSearchLevel root;
  EXPECT_FALSE(root.InsertProperty("nitf(0)"));
  EXPECT_TRUE(log.Has("WCXMLSearchLevel::InsertProperty beginning '\\' not found, nitf(0)"));
  EXPECT_FALSE(root.InsertProperty("\\nitf(0"));
  EXPECT_TRUE(log.Has("WCXMLSearchLevel::InsertProperty malformed input no end ), \\nitf(0"));
  EXPECT_FALSE(root.InsertProperty("\\nitf0)"));
  EXPECT_TRUE(log.Has("WCXMLSearchLevel::InsertProperty malformed input no beginning (, \\nitf0)"));
  EXPECT_EQ(0,
            log.SeverityOf("WCXMLSearchLevel::InsertProperty malformed input no end ), \\nitf(0"));
  EXPECT_TRUE(root.IsEmpty());

  EXPECT_FALSE(root.InsertProperty("\\a(0)x\\b(0)"));
  EXPECT_TRUE(log.Has("WCXMLSearchLevel::InsertProperty beginning '\\' not found, x\\b(0)"));
  ASSERT_NE(nullptr, root.FindNode("a"));
  EXPECT_FALSE(root.FindNode("a")->IsLeaf());
  EXPECT_EQ(1u, root.GetCount());
}

TEST(PropertyIndex, EmptyNullAndBelowWildIndexAreRejected) {
  LogCapture log;
  WCXMLSearchLevel root;
  EXPECT_FALSE(root.InsertProperty(nullptr));
  EXPECT_FALSE(root.InsertProperty(""));
  EXPECT_TRUE(log.Lines().empty());
  EXPECT_FALSE(root.InsertProperty("\\a(-2)"));
  EXPECT_FALSE(Matches(root, {{"a", -2}}));
}

TEST(PropertyIndex, IndexTextReadsLikeASignedDecimal) {
  WCXMLSearchLevel root;
  ASSERT_TRUE(root.InsertProperty("\\a( +3x)"));
  ASSERT_TRUE(root.InsertProperty("\\b(abc)"));
  EXPECT_TRUE(Matches(root, {{"a", 3}}));
  EXPECT_TRUE(Matches(root, {{"b", 0}}));
}

TEST(PropertyIndex, FollowsTheConfiguredLevelSeparator) {
  owc::SetLevelSeparator('/');
  WCXMLSearchLevel root;
  bool slash = root.InsertProperty("/nitf(0)/body(0)");
  bool backslash = root.InsertProperty("\\x(0)");
  owc::SetLevelSeparator('\\');
  EXPECT_TRUE(slash);
  EXPECT_FALSE(backslash);
  EXPECT_TRUE(Matches(root, {{"nitf", 0}, {"body", 0}}));
}

TEST(PropertyIndex, CreateParsePathReturnsTheStepsReadBeforeAnError) {
  LogCapture log;
  WCXMLSearchLevel root;
  std::unique_ptr<WCXMLParsePath> path(root.CreateParsePath("\\nitf(0)\\hl2(-1)\\p(0"));
  ASSERT_NE(nullptr, path);
  ASSERT_EQ(2u, path->GetCount());
  auto pos = path->GetHeadPosition();
  EXPECT_EQ("nitf", path->GetNext(pos)->GetName());
  EXPECT_EQ(-1, path->GetNext(pos)->GetIndex());
  EXPECT_TRUE(log.Has(
      "WCXMLSearchLevel::CreateParsePath malformed input no end ), \\nitf(0)\\hl2(-1)\\p(0"));
  EXPECT_EQ(nullptr, root.CreateParsePath(""));
}

TEST(PropertyIndex, DumpWritesTheTreeWithEveryNodeKind) {
  WCXMLSearchLevel root;
  root.InsertProperty("\\a(0)\\b(-1)\\c(1)");
  root.InsertProperty("\\a(0)\\b(0)");
  LogCapture log;
  root.Dump();
  std::vector<std::string> expected = {
      "Dumping a Level List.",
      "Starting Dump of Fixed 0 SearchTag = a, Index = 0, IsLeaf = 0, NodeLevel = 1.MidLeaf 0, "
      "MidIndex 0",
      "Dumping a Level List.",
      "Starting Dump of Wild SearchTag = b, Index = -1, IsLeaf = 0, NodeLevel = 2. MidLeaf 1, "
      "MidIndex 0",
      "Dumping a Level List.",
      "Dump LEAF SearchTag = c, Index = 1, IsLeaf = 1, NodeLevel = 3.MidLeaf 0, MidIndex 0",
      "End Dumping Level list",
      "Ending Dump of Wild SearchTag = b, Index = -1, IsLeaf = 0, NodeLevel = 2.MidLeaf 1, "
      "MidIndex 0",
      "Dump MIDLEAF SearchTag = b, Index = -1, IsLeaf = 0, NodeLevel = 2.MidLeaf 1, MidIndex 0",
      "End Dumping Level list",
      "Ending Dump of Fixed 0 SearchTag = a, Index = 0, IsLeaf = 0, NodeLevel = 1.MidLeaf 0, "
      "MidIndex 0",
      "End Dumping Level list",
  };
  std::vector<std::string> got;
  for (const auto& line : log.Lines()) {
    got.push_back(line.text);
    EXPECT_EQ(2, line.severity);
  }
  EXPECT_EQ(expected, got);
}

}  // namespace
