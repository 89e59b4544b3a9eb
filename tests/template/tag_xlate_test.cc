#include "template/tag_xlate.h"

#include <gtest/gtest.h>

#include <string>

#include "support/log_capture.h"

namespace {

using owc::WCHTMLTemplateXlateMap;
using owc_test::LogCapture;

class Table {
 public:
  explicit Table(const std::string& text) {
    mLoaded = mMap.Load(text.data(), static_cast<uint32_t>(text.size()));
  }
  bool Loaded() const { return mLoaded; }
  WCHTMLTemplateXlateMap& Map() { return mMap; }
  std::string Translate(const std::string& raw) {
    std::string out;
    mMap.TranslateTags(raw, &out);
    return out;
  }

 private:
  WCHTMLTemplateXlateMap mMap;
  bool mLoaded;
};

TEST(XlateTable, ReadsEntriesAcrossCommentsLineBreaksAndAFinalLineWithoutFeed) {
  Table t(
      "# comment line without quotes\n"
      "\"hl1\" \"h1\" \"h1\" 0 0   trailing text is ignored\n"
      "\"media\"\n\"div class=m\"\n\"div\"\n 1\n 1\n"
      "\"br/\" \"br\" \"\" 7 -3");
  ASSERT_TRUE(t.Loaded());
  ASSERT_EQ(3u, t.Map().GetCount());
  const owc::WCHTMLTemplateXlate* media = t.Map().FindXlate("MEDIA");
  ASSERT_NE(nullptr, media);
  EXPECT_EQ("div class=m", media->htmlStart);
  EXPECT_EQ(1, media->dropContent);
  EXPECT_EQ(1, media->dropAttributes);
  const owc::WCHTMLTemplateXlate* br = t.Map().FindXlate("br/");
  ASSERT_NE(nullptr, br);
  EXPECT_EQ("", br->htmlEnd);
  EXPECT_EQ(1, br->dropContent);
}

TEST(XlateTable, SyntaxErrorsLogTheirLinesAndKeepEarlierEntries) {
  struct Case {
    const char* text;
    const char* message;
  };
  const Case cases[] = {
      {"\"p\" \"P\" \"P\" 0 0\n\"hl1",
       "WCHTMLTemplate::XlateTableParseLine NoQuoteTail for QuoteHead"},
      {"\"p\" \"P\" \"P\" 0 0\n\"hl1\" ",
       "WCHTMLTemplate::XlateTableParseLine QuoteHead NULL for HTML Start Tag"},
      {"\"p\" \"P\" \"P\" 0 0\n\"hl1\" \"h1",
       "WCHTMLTemplate::XlateTableParseLine QuoteTail NULL for HTML Start Tag"},
      {"\"p\" \"P\" \"P\" 0 0\n\"hl1\" \"h1\" ",
       "WCHTMLTemplate::XlateTableParseLine QuoteHead NULL for HTML End Tag"},
      {"\"p\" \"P\" \"P\" 0 0\n\"hl1\" \"h1\" \"h1",
       "WCHTMLTemplate::XlateTableParseLine QuoteTail NULL for HTML End Tag"},
      {"\"p\" \"P\" \"P\" 0 0\n\"hl1\" \"h1\" \"h1\" 1 x and more text than thirty bytes\n",
       "WCHTMLTemplate::XlateTableParseLine sscanf != 2, Input =  1 x and more text than thirty"},
  };
  for (const Case& c : cases) {
    LogCapture log;
    Table t(c.text);
    EXPECT_FALSE(t.Loaded()) << c.text;
    EXPECT_EQ(2, log.SeverityOf(c.message)) << c.text;
    EXPECT_EQ(0, log.SeverityOf("WCHTMLTemplate::SetXlateTable parse error in translation buffer"));
    EXPECT_EQ(1u, t.Map().GetCount());
    EXPECT_EQ("<P>x</P>", t.Translate("<p>x</p>"));
  }
}

TEST(XlateTable, EmptyOrAbsentTableRemovesAllMarkup) {
  Table t("");
  EXPECT_TRUE(t.Loaded());
  EXPECT_EQ("One two", t.Translate("<p>One <b>two</b></p>"));
  WCHTMLTemplateXlateMap map;
  EXPECT_TRUE(map.Load(nullptr, 5));
}

TEST(TranslateTags, RenamesTagsWithoutRegardToCaseAndKeepsAttributeSpacing) {
  Table t("\"hl1\" \"h1\" \"h1\" 0 0\n\"p\" \"P\" \"P\" 0 0\n\"q\" \"p class=story\" \"p\" 0 1\n");
  EXPECT_EQ("<h1>Big</h1>", t.Translate("<hl1>Big</hl1>"));
  EXPECT_EQ("<h1>Big</h1>", t.Translate("<HL1>Big</HL1>"));
  EXPECT_EQ("<P  class=x>a</P>", t.Translate("<p class=x>a</p>"));
  EXPECT_EQ("<p class=story>a</p>", t.Translate("<q align=left>a</q>"));
}

TEST(TranslateTags, DropContentKeepsOnlyTheTranslatedTags) {
  Table dropAll("\"media\" \"\" \"\" 1 0");
  EXPECT_EQ("ad", dropAll.Translate("a<media><x>b</x>c</media>d"));
  Table keepTags("\"media\" \"div\" \"div\" 1 1");
  EXPECT_EQ("a<div></div>d", keepTags.Translate("a<media id=1>b</media>d"));
  EXPECT_EQ("a<div></div>d", keepTags.Translate("a<media><media>x</media>y</media>d"));
}

TEST(TranslateTags, UnfinishedAndEmptyTags) {
  Table t("\"br/\" \"br\" \"\" 0 0");
  EXPECT_EQ("x < y", t.Translate("x < y"));
  EXPECT_EQ("a", t.Translate("a<>b"));
  EXPECT_EQ("a", t.Translate("a< p>b"));
  EXPECT_EQ("1<br>2", t.Translate("1<br/>2"));
  EXPECT_EQ("12", t.Translate("1<br />2"));
}

TEST(TranslateTags, UnclosedDropContentCarriesItsDepthUntilReset) {
  Table t("\"media\" \"div\" \"div\" 1 0");
  EXPECT_EQ("a<div>", t.Translate("a<media>b"));
  EXPECT_EQ(1, t.Map().FindXlate("media")->depth);
  EXPECT_EQ("x<div>", t.Translate("x<media>y</media>z"));
  t.Map().ResetDepths();
  EXPECT_EQ("x<div></div>z", t.Translate("x<media>y</media>z"));
}

}  // namespace
