// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "support/log_capture.h"
#include "template/tag_xlate.h"

namespace owc_test {
namespace {

struct Table {
  explicit Table(const std::string& text)
      : loaded(map.Load(text.data(), static_cast<uint32_t>(text.size()))) {}
  std::string Translate(const std::string& raw) {
    std::string out;
    map.TranslateTags(raw, &out);
    return out;
  }
  owc::WCHTMLTemplateXlateMap map;
  bool loaded;
};

TEST(TagXlateTest, ReadsEntriesAcrossCommentsLineBreaksAndAFinalLineWithoutFeed) {
  Table t(
      "# comment line without quotes\n"
      "\"hl1\" \"h1\" \"h1\" 0 0   trailing text is ignored\n"
      "\"media\"\n\"div class=m\"\n\"div\"\n 1\n 1\n"
      "\"br/\" \"br\" \"\" 7 -3");
  ASSERT_TRUE(t.loaded);
  EXPECT_EQ(3u, t.map.GetCount());
  // "7" drops the content like "1": nothing after the unclosed <br/> is kept.
  EXPECT_EQ("<h1>x</h1><div class=m></div>1<br>",
            t.Translate("<hl1>x</hl1><media a=1>y</media>1<br/>2"));
}

TEST(TagXlateTest, SyntaxErrorsLogTheirLinesAndKeepEarlierEntries) {
  const std::pair<const char*, const char*> cases[] = {
      {"\"hl1", "NoQuoteTail for QuoteHead"},
      {"\"hl1\" ", "QuoteHead NULL for HTML Start Tag"},
      {"\"hl1\" \"h1", "QuoteTail NULL for HTML Start Tag"},
      {"\"hl1\" \"h1\" ", "QuoteHead NULL for HTML End Tag"},
      {"\"hl1\" \"h1\" \"h1", "QuoteTail NULL for HTML End Tag"},
      {"\"hl1\" \"h1\" \"h1\" 1 x and more text than thirty bytes\n",
       "sscanf != 2, Input =  1 x and more text than thirty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.first);
    LogCapture log;
    Table t(std::string("\"p\" \"P\" \"P\" 0 0\n") + c.first);
    EXPECT_FALSE(t.loaded);
    EXPECT_EQ(2, log.SeverityOf(std::string("WCHTMLTemplate::XlateTableParseLine ") + c.second));
    EXPECT_EQ(0, log.SeverityOf("WCHTMLTemplate::SetXlateTable parse error in translation buffer"));
    EXPECT_EQ("<P>x</P>", t.Translate("<p>x</p>"));
  }
}

TEST(TagXlateTest, RenamesDropsAndStripsTags) {
  const char* const cases[][3] = {
      // table, markup, translation; without a table all markup goes.
      {"", "<p>One <b>two</b></p>", "One two"},
      {"\"hl1\" \"h1\" \"h1\" 0 0", "<HL1>Big</hl1>", "<h1>Big</h1>"},
      {"\"p\" \"P\" \"P\" 0 0", "<p class=x>a</p>", "<P  class=x>a</P>"},
      {"\"q\" \"p class=story\" \"p\" 0 1", "<q align=left>a</q>", "<p class=story>a</p>"},
      // Dropped content keeps only the translated tags, however deep.
      {"\"media\" \"\" \"\" 1 0", "a<media><x>b</x>c</media>d", "ad"},
      {"\"media\" \"div\" \"div\" 1 1", "a<media id=1>b</media>d", "a<div></div>d"},
      {"\"media\" \"div\" \"div\" 1 1", "a<media><media>x</media>y</media>d", "a<div></div>d"},
      {"\"media\" \"div\" \"div\" 1 1", "a<MEDIA>x</media>y", "a<div>"},  // ended byte for byte
      // Output far longer than the markup: the written part survives each growth.
      {"\"b\" \"strong class=long\" \"strong\" 0 1", "<b>1</b><b>2</b><b>3</b><b>4</b>",
       "<strong class=long>1</strong><strong class=long>2</strong>"
       "<strong class=long>3</strong><strong class=long>4</strong>"},
      // Unfinished and empty tags.
      {"\"br/\" \"br\" \"\" 0 0", "1<br/>2<br />3 < 4", "1<br>23 < 4"},
      {"\"br/\" \"br\" \"\" 0 0", "a<>b", "a"},
      {"\"b\" \"strong\" \"strong\" 0 1", "x<b>y</b", "x<strong>y</b"},
      // Values that translate to nothing: "if" takes them for empty.
      {"", "<a><b></b></a>", ""},
      {"\"media\" \"\" \"\" 1 0", "<media>x<p>y</p></media>", ""},
      {"\"br/\" \"br\" \"\" 0 0", "<>b", ""},
  };
  // What a value leaves open changes how the next one is translated.
  const std::string next = "<media>p</media>q<p>r</p>";
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c[0]) + " " + c[1]);
    Table written(c[0]), tested(c[0]);
    EXPECT_EQ(c[2], written.Translate(c[1]));
    EXPECT_EQ(*c[2] != '\0', tested.map.TranslatesToText(c[1]));
    EXPECT_EQ(written.Translate(next), tested.Translate(next));
  }
}

// "keep" names the attributes that pass; a script or data URL never does, however it is
// spelled; the markup is read as a browser reads it, whatever the quotes.
TEST(TagXlateTest, KeepListPassesOnlyNamedAttributesAndNoScriptUrls) {
  Table t("\"a\" \"a\" \"a\" 0 0 keep href TITLE\n\"td\" \"td\" \"td\" 0 1 keep colspan\n");
  ASSERT_TRUE(t.loaded);
  const char* const cases[][2] = {
      {"<a href=\"/x\" title='t' onclick=\"f()\" style=\"s\">l</a>",
       "<a href=\"/x\" title='t'>l</a>"},
      {"<a HREF=/y Title=\"u v\" data-x>l</a>", "<a HREF=/y Title=\"u v\">l</a>"},
      {"<a href=\"x\" onmouseover=\"alert(1)\">l</a>", "<a href=\"x\">l</a>"},
      {"<a title=\"x\"/ onclick=y>l</a>", "<a title=\"x\">l</a>"},
      {"<a href=\"javascript:alert(1)\">l</a>", "<a>l</a>"},
      {"<a href=\" \x01 JaVa\tScRiPt:alert(1)\">l</a>", "<a>l</a>"},
      {"<a href=\"&#106;avascript&colon;x\">l</a>", "<a>l</a>"},
      {"<a href=\"&#x6A;ava&Tab;script:x\">l</a>", "<a>l</a>"},
      {"<a href=vbscript:x>l</a>", "<a>l</a>"},
      {"<a href='data:text/html,x'>l</a>", "<a>l</a>"},
      {"<a href=\"javascrip\" title=\"DATA\">l</a>", "<a href=\"javascrip\" title=\"DATA\">l</a>"},
      {"<a href=\"https://e.org/javascript:x\">l</a>",
       "<a href=\"https://e.org/javascript:x\">l</a>"},
      {"<a href=\"&amp;#106;avascript:x\">l</a>", "<a href=\"&amp;#106;avascript:x\">l</a>"},
      {"<td colspan=\"2\">c</td>", "<td>c</td>"},  // the drop flag wins over keep
  };
  for (const auto& c : cases) EXPECT_EQ(c[1], t.Translate(c[0])) << c[0];
}

}  // namespace
}  // namespace owc_test
