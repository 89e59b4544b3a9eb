#include "template/template_command.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using owc::kNoCommandPos;

struct Read {
  size_t next;
  std::string word;
  std::string args;
  std::string literal;
  uint32_t line;
};

Read ReadFrom(const std::string& text, size_t start = 0) {
  Read r{0, "x", "x", "", 1};
  r.next =
      owc::TmplCmdGetNext(text.data(), text.size(), start, &r.line, &r.word, &r.args, &r.literal);
  return r;
}

TEST(TmplCmdGetNext, SplitsWordAndArgumentsKeepingTrailingBlanks) {
  std::string text = "<p><?Kavio insert  m:keyword(3) ?>tail";
  Read r = ReadFrom(text);
  EXPECT_EQ("<p>", r.literal);
  EXPECT_EQ("insert", r.word);
  EXPECT_EQ("m:keyword(3) ", r.args);
  EXPECT_EQ(text.find("tail"), r.next);
}

TEST(TmplCmdGetNext, WordEndsAtTheCloseAndGluedTextBelongsToTheTarget) {
  Read end = ReadFrom("<?Kavio end?>");
  EXPECT_EQ("end", end.word);
  EXPECT_EQ("", end.args);
  Read glued = ReadFrom("<?Kaviox\tif headline?>");
  EXPECT_EQ("if", glued.word);
  EXPECT_EQ("headline", glued.args);
}

TEST(TmplCmdGetNext, InterruptedTargetIsLiteralText) {
  Read r = ReadFrom("a<?Kavio b<?Kavio end?>c");
  EXPECT_EQ("a<?Kavio b", r.literal);
  EXPECT_EQ("end", r.word);
}

TEST(TmplCmdGetNext, TargetWithoutCloseEndsTheTemplateAfterItsLiteral) {
  Read r = ReadFrom("before<?Kavio insert headline and no close");
  EXPECT_EQ(kNoCommandPos, r.next);
  EXPECT_EQ("before", r.literal);
  EXPECT_EQ("", r.word);
}

TEST(TmplCmdGetNext, EmptyWordEndsTheTemplate) {
  Read r = ReadFrom("x<?Kavio ?>y<?Kavio end?>");
  EXPECT_EQ(kNoCommandPos, r.next);
  EXPECT_EQ("x", r.literal);
  EXPECT_EQ("", r.word);
}

TEST(TmplCmdGetNext, CountsLineFeedsThroughTheClose) {
  Read r = ReadFrom("a\nb\n<?Kavio insert\nheadline?>\nrest");
  EXPECT_EQ(4u, r.line);
  Read none = ReadFrom("no command\n\n");
  EXPECT_EQ("no command\n\n", none.literal);
  EXPECT_EQ(kNoCommandPos, ReadFrom("abc", 3).next);
}

}  // namespace
