// SPDX-License-Identifier: MIT
// A plain allocation failing inside a parser callback must stop the parse, never unwind
// through expat.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "doc/search_level.h"
#include "doc/xml_doc.h"
#include "support/failing_new.h"
#include "support/refused_allocations.h"

namespace owc_test {
namespace {

using owc::WCXMLDoc;
using owc::WCXMLSearchLevel;

TEST(DocOutOfMemoryTest, PropertyIndexEndsTheInsertionWithFalseAtEachRefusal) {
  const std::string node = "WCXMLSearchLevel::InsertProperty new XMLSearchNode failed, ";
  const std::string level = "WCXMLSearchLevel::InsertProperty ThisLevel not found for a";
  const std::string fixed = "\\a(0)\\b(1)";
  // A letter per checked allocation refused in turn (N node line, L level line, . none left):
  // per segment the node and its cell; between them the level and its slot (fixed) or not.
  const std::pair<std::string, std::string> paths[] = {{fixed, "NNLLNN."},
                                                       {"\\a(-1)\\b(0)", "NNLNN."}};
  for (const auto& [path, outcomes] : paths) {
    for (size_t i = 0; i < outcomes.size(); ++i) {
      SCOPED_TRACE(path + " refused " + std::to_string(i + 1));
      const Lines lines = outcomes[i] == 'N'   ? Lines{node + path}
                          : outcomes[i] == 'L' ? Lines{level}
                                               : Lines{};
      WCXMLSearchLevel root;
      ExpectRefusal(static_cast<int>(i + 1), false, lines, lines.empty(),
                    [&] { return root.InsertProperty(path.c_str()); });
      // What was refused and inserted later matches; a wild inner segment never does.
      std::unique_ptr<owc::WCXMLParsePath> parsed(root.CreateParsePath(path.c_str()));
      EXPECT_EQ(path == fixed, root.MatchParsePath(*parsed));
    }
  }
}

// The element a(0) under root(0) is captured: the steps of root, a and b, a's frame, path,
// attribute, place on the stack and text buffer are the allocations refused in turn.
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
    EXPECT_EQ(c.lines, Refusing(c.refused, false, [&] { parsed = doc.Parse(index, nullptr); }));
    EXPECT_TRUE(parsed);
    std::string text;
    doc.GetProperty("", "\\root(0)\\a(0)", true, &text, false);
    EXPECT_EQ(c.captured != nullptr ? c.captured : "", text);
    EXPECT_EQ(c.captured != nullptr, doc.FindCapture("", "\\root(0)\\a(0)") != nullptr);
  }
}

// A nested tag whose text cannot grow the capture leaves nothing of itself there: the text
// before it and the content after it stay.
TEST(DocOutOfMemoryTest, ATagTextThatCannotGrowTheCaptureIsLeftOutWhole) {
  const std::string text(300, 't');
  const std::string story =
      "<root><a>" + text + "<i k=\"" + std::string(400, 'v') + "\">x</i></a></root>";
  WCXMLSearchLevel index;
  ASSERT_TRUE(index.InsertProperty("\\root(0)\\a(0)"));
  WCXMLDoc doc;
  ASSERT_TRUE(doc.Init(false, story.data(), static_cast<uint32_t>(story.size()), nullptr, false,
                       nullptr, 0, nullptr));
  bool parsed = false;
  // The steps of root and a, a's frame, path, place on the stack and text; then the tag.
  EXPECT_EQ(Lines{"WCXMLDoc::ParseCBStartEltHandler [XML Unknown] could not add start tag "
                  "text to stack"},
            Refusing(7, false, [&] { parsed = doc.Parse(index, nullptr); }));
  EXPECT_TRUE(parsed);
  std::string captured;
  doc.GetProperty("", "\\root(0)\\a(0)", true, &captured, false);
  EXPECT_EQ(text + "x</i>", captured);
}

TEST(DocOutOfMemoryTest, ConversionBufferThatCannotBeAllocatedIsLogged) {
  WCXMLDoc doc;
  const char* out = nullptr;
  uint32_t outLen = 0;
  ExpectRefusal(1, false, {"WCXMLDoc::EntitiesConverted unable to allocate memory size 22"}, false,
                [&] { return doc.EntitiesConverted("a&b", 3, &out, &outLen, false); });
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
  EXPECT_EQ(Lines{"WCXMLDoc::Parse XML parse error: [parsing aborted] at line 1 for [XML Unknown]"},
            Texts(log));
  // The document is whole again for the next parse.
  EXPECT_TRUE(doc.Parse(index, nullptr));
  EXPECT_NE(nullptr, doc.FindCapture("", "\\" + name + "(0)"));
}

}  // namespace
}  // namespace owc_test
