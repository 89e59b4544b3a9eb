#include "doc/xml_doc.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "doc/doc_settings.h"
#include "doc/search_level.h"
#include "doc/story_paths.h"
#include "doc/story_samples.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using owc::WCXMLDoc;
using owc::WCXMLSearchLevel;
using owc_test::kStoryRdf;
using owc_test::kStoryXml;
using owc_test::LogCapture;
using owc_test::MetaKey;
using owc_test::TempDir;

const char kHl2All[] = "\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl2(-1)";
const char kContent[] = "\\nitf(0)\\body(0)\\body.content(0)";

// A document loaded from memory and parsed with the given parse properties.
class ParsedDoc {
 public:
  ParsedDoc(std::initializer_list<const char*> props, const std::string& xml,
            const std::string& rdf = "") {
    for (const char* prop : props) mIndex.InsertProperty(prop);
    mDoc.Init(false, xml.data(), static_cast<uint32_t>(xml.size()), nullptr, false,
              rdf.empty() ? nullptr : rdf.data(), static_cast<uint32_t>(rdf.size()), nullptr);
    mDoc.SetSearchLevel(&mIndex);
    mParsed = mDoc.Parse();
  }
  bool Parsed() const { return mParsed; }
  WCXMLDoc& Doc() { return mDoc; }
  std::string Get(const std::string& prop, bool valueOnly = true, const char* ns = nullptr) {
    std::string out;
    EXPECT_TRUE(mDoc.GetProperty(ns, prop.c_str(), valueOnly, &out, false));
    return out;
  }

 private:
  WCXMLSearchLevel mIndex;
  WCXMLDoc mDoc;
  bool mParsed = false;
};

class EntityMode {
 public:
  explicit EntityMode(uint32_t mode) { owc::SetEntityRefOutput(mode); }
  ~EntityMode() { owc::SetEntityRefOutput(owc::kEntityRefEscape); }
};

TEST(XMLDoc, SiblingIndicesCountOnlyElementsOfTheSameName) {
  ParsedDoc d({kHl2All, "\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl1(-1)"}, kStoryXml);
  ASSERT_TRUE(d.Parsed());
  std::string out;
  d.Doc().GetSubheadline(0, &out, false);
  EXPECT_EQ("First sub", out);
  d.Doc().GetSubheadline(1, &out, false);
  EXPECT_EQ("Second sub", out);
  EXPECT_EQ("Second hl1", d.Get("\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl1(1)"));
}

TEST(XMLDoc, BodyContentKeepsNestedMarkupButNotItsOwnTags) {
  const std::string xml = "<nitf><body><body.content><p>A &amp; B</p></body.content></body></nitf>";
  {
    ParsedDoc escaped({kContent}, xml);
    std::string body;
    escaped.Doc().GetBody(&body, false);
    EXPECT_EQ("<p>A &amp; B</p>", body);
    EXPECT_EQ("<body.content><p>A &amp; B</p></body.content>", escaped.Get(kContent, false));
  }
  EntityMode raw(0);
  ParsedDoc plain({kContent}, xml);
  std::string body;
  plain.Doc().GetBody(&body, false);
  EXPECT_EQ("<p>A & B</p>", body);
}

TEST(XMLDoc, ApostropheEscapedOnlyInModeTwo) {
  const std::string xml = "<a>it's &lt;x&gt;</a>";
  EXPECT_EQ("it's &lt;x&gt;", ParsedDoc({"\\a(0)"}, xml).Get("\\a(0)"));
  EntityMode apos(2);
  EXPECT_EQ("it&apos;s &lt;x&gt;", ParsedDoc({"\\a(0)"}, xml).Get("\\a(0)"));
}

TEST(XMLDoc, AttributesAreRenderedInDocumentOrderAndEmptyElementsKeepBothTags) {
  ParsedDoc d({"\\r(0)\\e(-1)"}, "<r><e b=\"2\" a=\"1 &amp; 2\"/><e></e></r>");
  EXPECT_EQ("<e b=\"2\" a=\"1 & 2\"></e>", d.Get("\\r(0)\\e(0)", false));
  EXPECT_EQ("<e></e>", d.Get("\\r(0)\\e(1)", false));
  std::string value;
  d.Doc().GetPropertyAttribute(nullptr, "\\r(0)\\e(0)", "a", &value, false);
  EXPECT_EQ("1 & 2", value);
}

TEST(XMLDoc, NestedCapturesEachReceiveTheirInnerContent) {
  // The longer path first: inserted after the shorter one it would sit below a leaf.
  ParsedDoc d({"\\nitf(0)\\body(0)\\body.content(0)\\p(-1)", kContent}, kStoryXml);
  EXPECT_EQ("It's up &lt;5%", d.Get("\\nitf(0)\\body(0)\\body.content(0)\\p(0)"));
  EXPECT_EQ("Second", d.Get("\\nitf(0)\\body(0)\\body.content(0)\\p(1)"));
  EXPECT_EQ(
      "<p class=\"lead\">It's up &lt;5%</p><media id=\"m1\"><caption>c</caption></media>"
      "<p>Second</p>",
      d.Get(kContent));
}

TEST(XMLDoc, MissingPropertyGivesAnEmptyTextOrJustTheTerminator) {
  ParsedDoc d({kContent}, kStoryXml);
  std::string out = "stale";
  EXPECT_TRUE(d.Doc().GetHeadline(&out, false));
  EXPECT_EQ("", out);
  EXPECT_TRUE(d.Doc().GetHeadline(&out, true));
  EXPECT_EQ(std::string(1, '\0'), out);
}

TEST(XMLDoc, CaptureIsStoredUnderTheNameAsTheDocumentWritesIt) {
  ParsedDoc d({"\\NITF(0)\\BODY(0)\\Body.Content(0)"}, kStoryXml);
  EXPECT_NE("", d.Get(kContent));
  EXPECT_EQ("", d.Get("\\NITF(0)\\BODY(0)\\Body.Content(0)"));
}

TEST(XMLDoc, StandardFieldsAndCaseSensitiveAttributes) {
  ParsedDoc d({"\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl1(0)",
               "\\nitf(0)\\body(0)\\body.head(0)\\byline(-1)",
               "\\nitf(0)\\body(0)\\body.head(0)\\distributor(0)",
               "\\nitf(0)\\body(0)\\body.head(0)\\dateline(0)\\story.date(0)",
               "\\nitf(0)\\body(0)\\body.head(0)\\series(0)"},
              kStoryXml);
  std::string out;
  d.Doc().GetHeadline(&out, false);
  EXPECT_EQ("Rates &amp; Markets", out);
  d.Doc().GetByline(1, &out, false);
  EXPECT_EQ("By Bob", out);
  d.Doc().GetDistributor(&out, false);
  EXPECT_EQ("Wire Co", out);
  d.Doc().GetDateline(&out, false);
  EXPECT_EQ("2024-05-01", out);
  d.Doc().GetSeriesName(&out, false);
  EXPECT_EQ("Economy", out);
  d.Doc().GetSeriesPart(&out, false);
  EXPECT_EQ("2", out);
  d.Doc().GetSeriesTotalPart(&out, false);
  EXPECT_EQ("5", out);
  d.Doc().GetPropertyAttribute(nullptr, owc::SeriesPath().c_str(), "Series.Part", &out, true);
  EXPECT_EQ(std::string(1, '\0'), out);
}

TEST(XMLDoc, NamespacedMetadataIsFoundOnlyWithItsIndex) {
  ParsedDoc d({MetaKey("headline(-1)").c_str()}, kStoryXml, kStoryRdf);
  ASSERT_TRUE(d.Parsed());
  EXPECT_EQ("Meta headline", d.Get("headline(0)", true, owc_test::kMetaNs));
  EXPECT_EQ("", d.Get("headline", true, owc_test::kMetaNs));
  EXPECT_EQ("Meta headline", d.Get(MetaKey("headline(0)"), true, ""));
}

TEST(XMLDoc, ParsingAgainKeepsTheFirstCaptureAndLogsDuplicates) {
  WCXMLSearchLevel index;
  index.InsertProperty("\\a(0)");
  WCXMLDoc doc;
  doc.Init(false, "<a>one</a>", 10, nullptr, false, nullptr, 0, nullptr);
  doc.SetSearchLevel(&index);
  ASSERT_TRUE(doc.Parse());
  doc.Init(false, "<a>two</a>", 10, nullptr, false, nullptr, 0, nullptr);
  doc.SetSearchLevel(&index);
  ASSERT_TRUE(doc.Parse());
  LogCapture log;
  doc.SetSearchLevel(&index);
  ASSERT_TRUE(doc.Parse());
  const char kDup[] =
      "WCXMLDoc::ParseCBEndEltHandler [XML Unknown] detected duplicate element [\\a(0)]";
  EXPECT_EQ(2, log.SeverityOf(kDup));
  std::string out;
  doc.GetProperty(nullptr, "\\a(0)", true, &out, false);
  EXPECT_EQ("two", out);  // Init dropped "one"; the re-parse did not replace "two"
}

TEST(XMLDoc, DocumentStartingWithNulIsSkipped) {
  ParsedDoc d({"\\a(0)"}, std::string("\0<a>x</a>", 9));
  EXPECT_TRUE(d.Parsed());
  EXPECT_EQ("", d.Get("\\a(0)"));
}

TEST(XMLDoc, MalformedXmlLogsItsLineAndKeepsEarlierCaptures) {
  LogCapture log;
  ParsedDoc d({"\\r(0)\\a(0)"}, "<r>\n<a>kept</a>\n<b></c>\n</r>");
  EXPECT_FALSE(d.Parsed());
  EXPECT_TRUE(
      log.Has("WCXMLDoc::Parse XML parse error: [mismatched tag] at line 3 for [XML Unknown]"));
  EXPECT_EQ("kept", d.Get("\\r(0)\\a(0)"));
}

TEST(XMLDoc, MalformedRdfLeavesTheXmlUnparsed) {
  LogCapture log;
  ParsedDoc d({"\\a(0)"}, "<a>x</a>", "<m:Resource xmlns:m='u'>");
  EXPECT_FALSE(d.Parsed());
  EXPECT_TRUE(log.HasPart(
      "WCXMLDoc::Parse RDF parse error: [no element found] at line 1 for [RDF Unknown]"));
  EXPECT_EQ("", d.Get("\\a(0)"));
}

TEST(XMLDoc, EntityExpansionAttackIsRefused) {
  std::string bomb = "<!DOCTYPE r [<!ENTITY a \"aaaaaaaaaa\">";
  std::string prev = "a";
  for (int i = 0; i < 9; ++i) {
    std::string name(1, static_cast<char>('b' + i));
    bomb += "<!ENTITY " + name + " \"";
    for (int k = 0; k < 10; ++k) bomb += "&" + prev + ";";
    bomb += "\">";
    prev = name;
  }
  bomb += "]><r>&" + prev + ";</r>";
  LogCapture log;
  ParsedDoc d({"\\r(0)"}, bomb);
  EXPECT_FALSE(d.Parsed());
  EXPECT_TRUE(log.HasPart("WCXMLDoc::Parse XML parse error: [limit on input amplification"));
}

TEST(XMLDoc, ExternalEntityIsNeverRead) {
  TempDir dir;
  TempDir::Write(dir.File("secret.txt"), "SECRET");
  std::string xml =
      "<!DOCTYPE r [<!ENTITY x SYSTEM \"file://" + dir.File("secret.txt") + "\">]><r>[&x;]</r>";
  ParsedDoc d({"\\r(0)"}, xml);
  EXPECT_EQ(std::string::npos, d.Get("\\r(0)").find("SECRET"));
}

TEST(XMLDoc, FilesAreReadAndAMissingOneIsReportedByName) {
  TempDir dir;
  TempDir::Write(dir.File("s.xml"), kStoryXml);
  TempDir::Write(dir.File("s.rdf"), kStoryRdf);
  WCXMLDoc doc;
  std::string xml = dir.File("s.xml");
  std::string rdf = dir.File("s.rdf");
  EXPECT_TRUE(doc.Init(true, xml.c_str(), 0, xml.c_str(), true, rdf.c_str(), 0, rdf.c_str()));
  WCXMLSearchLevel index;
  index.InsertProperty(MetaKey("headline(0)").c_str());
  index.InsertProperty("\\nitf(0)\\body(0)\\body.head(0)\\distributor(0)");
  doc.SetSearchLevel(&index);
  ASSERT_TRUE(doc.Parse());
  std::string out;
  doc.GetDistributor(&out, false);
  EXPECT_EQ("Wire Co", out);
  doc.GetProperty(owc_test::kMetaNs, "headline(0)", true, &out, false);
  EXPECT_EQ("Meta headline", out);

  LogCapture log;
  std::string missing = dir.File("missing.xml");
  EXPECT_FALSE(
      doc.Init(true, missing.c_str(), 0, missing.c_str(), true, rdf.c_str(), 0, rdf.c_str()));
  EXPECT_TRUE(log.Has("WCXMLDoc::Init InitFromFile failed for XML document [" + missing + "]"));
  EXPECT_FALSE(doc.Init(true, xml.c_str(), 0, nullptr, true, dir.Path().c_str(), 0, nullptr));
  EXPECT_TRUE(log.Has("WCXMLDoc::Init InitFromFile failed for RDF document [RDF Unknown]"));
}

TEST(XMLDoc, DeepNestingAndManySiblingsParseWithoutTrouble) {
  std::string xml;
  for (int i = 0; i < 5000; ++i) xml += "<d>";
  for (int i = 0; i < 5000; ++i) xml += "</d>";
  std::string wide = "<r>";
  for (int i = 0; i < 3000; ++i) wide += "<p>" + std::to_string(i) + "</p>";
  wide += "</r>";
  EXPECT_TRUE(ParsedDoc({"\\d(0)\\d(0)"}, xml).Parsed());
  ParsedDoc w({"\\r(0)\\p(2999)"}, wide);
  EXPECT_EQ("2999", w.Get("\\r(0)\\p(2999)"));
}

TEST(XMLDoc, ConversionBufferGrowsUntilTheWholeTextFits) {
  WCXMLDoc doc;
  const char* out = nullptr;
  uint32_t len = 0;
  EXPECT_FALSE(doc.EntitiesConverted("plain", 5, &out, &len, true));  // nothing to escape
  EXPECT_FALSE(doc.EntitiesConverted(nullptr, 5, &out, &len, true));
  std::string quotes(100, '"');
  ASSERT_TRUE(doc.EntitiesConverted(quotes.data(), 100, &out, &len, false));
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "&quot;";
  EXPECT_EQ(expected, std::string(out, len));
  ASSERT_TRUE(doc.EntitiesConverted("a'b", 3, &out, &len, true));
  EXPECT_EQ("a&apos;b", std::string(out, len));
}

TEST(XMLDoc, PathsFollowTheConfiguredSeparator) {
  owc::SetLevelSeparator('/');
  std::string body;
  {
    ParsedDoc d({"/nitf(0)/body(0)/body.content(0)"},
                "<nitf><body><body.content>x</body.content></body></nitf>");
    d.Doc().GetBody(&body, false);
  }
  owc::SetLevelSeparator('\\');
  EXPECT_EQ("x", body);
}

}  // namespace
