// SPDX-License-Identifier: MIT
// Running out of memory in the story document and its property index: each allocation
// with an outcome of its own is refused through the allocation hook, one at a time;
// a plain allocation failing inside a parser callback must stop the parse, never unwind
// through expat.
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "doc/search_level.h"
#include "doc/xml_doc.h"
#include "runtime/alloc_hook.h"
#include "support/failing_new.h"
#include "support/log_capture.h"

namespace owc_test {
namespace {

using owc::WCXMLDoc;
using owc::WCXMLSearchLevel;

// The hook refuses the checked allocation with this number (counted from 1) only.
int sLeft = 0;
bool RefuseOne(size_t) { return --sLeft != 0; }

// The failure lines logged while fn ran with its checked allocation number `refused`
// refused.
template <class Fn>
std::vector<std::string> FailuresRefusing(int refused, Fn fn) {
  LogCapture log;
  sLeft = refused;
  owc::SetAllocHook(RefuseOne);
  fn();
  owc::SetAllocHook(nullptr);
  std::vector<std::string> lines;
  for (const auto& line : log.Lines()) lines.push_back(line.text);
  return lines;
}

using Lines = std::vector<std::string>;

TEST(DocOutOfMemoryTest, PropertyIndexEndsTheInsertionWithFalseAtEachRefusal) {
  const std::string nodeFailed = "WCXMLSearchLevel::InsertProperty new XMLSearchNode failed, ";
  const std::string levelFailed = "WCXMLSearchLevel::InsertProperty ThisLevel not found for a";
  // Per segment: the node, its list cell; between segments: the child level, its slot
  // (fixed) or the level alone (wild).
  const struct {
    const char* path;
    int refused;
    Lines lines;
  } cases[] = {
      {"\\a(0)\\b(1)", 1, {nodeFailed + "\\a(0)\\b(1)"}},
      {"\\a(0)\\b(1)", 2, {nodeFailed + "\\a(0)\\b(1)"}},
      {"\\a(0)\\b(1)", 3, {levelFailed}},
      {"\\a(0)\\b(1)", 4, {levelFailed}},
      {"\\a(0)\\b(1)", 5, {nodeFailed + "\\a(0)\\b(1)"}},
      {"\\a(0)\\b(1)", 6, {nodeFailed + "\\a(0)\\b(1)"}},
      {"\\a(0)\\b(1)", 7, {}},
      {"\\a(-1)\\b(0)", 3, {levelFailed}},
      {"\\a(-1)\\b(0)", 4, {nodeFailed + "\\a(-1)\\b(0)"}},
      {"\\a(-1)\\b(0)", 6, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " refused " + std::to_string(c.refused));
    WCXMLSearchLevel root;
    bool inserted = false;
    EXPECT_EQ(c.lines,
              FailuresRefusing(c.refused, [&] { inserted = root.InsertProperty(c.path); }));
    EXPECT_EQ(c.lines.empty(), inserted);
    // What was refused can be inserted later, and then it matches.
    ASSERT_TRUE(root.InsertProperty(c.path));
    std::unique_ptr<owc::WCXMLParsePath> parsed(root.CreateParsePath(c.path));
    const bool wildInner = std::string(c.path).find("(-1)\\") != std::string::npos;
    EXPECT_EQ(!wildInner, root.MatchParsePath(*parsed));
  }
}

// The element a(0) under root(0) is captured: the steps of root, a and b, a's frame, path,
// attribute, place on the stack and text buffer are the allocations refused in turn. A
// refused capture leaves the element out and the parse goes on; a refused step lets the
// element and its content pass.
TEST(DocOutOfMemoryTest, ParseLogsTheRefusedAllocationAndLeavesTheElementOut) {
  const std::string story = "<root><a x=\"1\">t&amp;u</a><b/></root>";
  const std::string start = "WCXMLDoc::ParseCBStartEltHandler ";
  const struct {
    int refused;
    Lines lines;
    const char* captured;  // the text of a(0), null when not captured
  } cases[] = {
      {1, {start + "node allocation failed for root"}, nullptr},
      {2, {start + "node allocation failed for a"}, nullptr},
      {3, {start + "[XML Unknown] new WCXMLDocTagFrame failed"}, nullptr},
      {4, {start + "[XML Unknown] tagFrame->SetPath failed"}, nullptr},
      {5, {start + "[XML Unknown] tagFrame->AddAttribute failed"}, nullptr},
      {6, {start + "[XML Unknown] mParseTagStack.Push failed"}, nullptr},
      // expat hands the text over in three pieces: "t", "&", "u"; the first is lost.
      {7, {"WCXMLDoc::ParseCBCharDataHandler could not add Converted data to tag stack"}, "&amp;u"},
      {8, {start + "node allocation failed for b"}, "t&amp;u"},
      {9, {}, "t&amp;u"},
  };
  WCXMLSearchLevel index;
  ASSERT_TRUE(index.InsertProperty("\\root(0)\\a(0)"));
  for (const auto& c : cases) {
    SCOPED_TRACE("refused " + std::to_string(c.refused));
    WCXMLDoc doc;
    ASSERT_TRUE(doc.Init(false, story.data(), static_cast<uint32_t>(story.size()), nullptr, false,
                         nullptr, 0, nullptr));
    bool parsed = false;
    EXPECT_EQ(c.lines, FailuresRefusing(c.refused, [&] { parsed = doc.Parse(index, nullptr); }));
    EXPECT_TRUE(parsed);
    std::string text;
    doc.GetProperty("", "\\root(0)\\a(0)", true, &text, false);
    EXPECT_EQ(c.captured != nullptr ? c.captured : "", text);
    const owc::WCXMLDocTagFrame* frame = doc.FindCapture("", "\\root(0)\\a(0)");
    EXPECT_EQ(c.captured != nullptr, frame != nullptr);
  }
}

TEST(DocOutOfMemoryTest, ConversionBufferThatCannotBeAllocatedIsLogged) {
  WCXMLDoc doc;
  const char* out = nullptr;
  uint32_t outLen = 0;
  bool converted = true;
  EXPECT_EQ(Lines{"WCXMLDoc::EntitiesConverted unable to allocate memory size 22"},
            FailuresRefusing(
                1, [&] { converted = doc.EntitiesConverted("a&b", 3, &out, &outLen, false); }));
  EXPECT_FALSE(converted);
  ASSERT_TRUE(doc.EntitiesConverted("a&b", 3, &out, &outLen, false));
  EXPECT_EQ("a&amp;b", std::string(out, outLen));
}

// An element name of 100 bytes makes the path text grow to 101 characters: a plain
// allocation of 102 bytes inside the start-element callback.
TEST(DocOutOfMemoryTest, PlainFailureInACallbackFailsTheParseAsAnAbortedOne) {
  const std::string name(100, 'n');
  const std::string story = "<" + name + "><a/></" + name + ">";
  WCXMLSearchLevel index;
  ASSERT_TRUE(index.InsertProperty(("\\" + name + "(0)").c_str()));
  WCXMLDoc doc;
  ASSERT_TRUE(doc.Init(false, story.data(), static_cast<uint32_t>(story.size()), nullptr, false,
                       nullptr, 0, nullptr));
  LogCapture log;
  FailNextPlainAllocation(102);
  EXPECT_FALSE(doc.Parse(index, nullptr));
  EXPECT_FALSE(PlainFailurePending());
  std::vector<std::string> lines;
  for (const auto& line : log.Lines()) lines.push_back(line.text);
  EXPECT_EQ(Lines{"WCXMLDoc::Parse XML parse error: [parsing aborted] at line 1 for [XML Unknown]"},
            lines);
  // The document is whole again for the next parse.
  EXPECT_TRUE(doc.Parse(index, nullptr));
  EXPECT_NE(nullptr, doc.FindCapture("", "\\" + name + "(0)"));
}

}  // namespace
}  // namespace owc_test
