// SPDX-License-Identifier: MIT
#include "doc/xml_doc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <set>
#include <string>
#include <utility>

#include "doc/declared_encoding.h"
#include "doc/doc_settings.h"
#include "doc/entity_references.h"
#include "doc/html_entities.h"
#include "doc/search_level.h"
#include "support/log_capture.h"
#include "support/story_samples.h"
#include "support/temp_dir.h"

namespace owc_test {
namespace {

const std::string kHead = "\\nitf(0)\\body(0)\\body.head(0)";
const std::string kContent = "\\nitf(0)\\body(0)\\body.content(0)";

// A story parsed for a list of property paths; xml and rdf are texts, or file names when
// fromFiles.
struct ParsedDoc {
  ParsedDoc(std::initializer_list<std::string> props, const std::string& xml,
            const std::string& rdf = "", bool fromFiles = false) {
    for (const std::string& prop : props) index.InsertProperty(prop.c_str());
    doc.Init(fromFiles, xml.c_str(), static_cast<uint32_t>(xml.size()), nullptr, fromFiles,
             rdf.empty() ? nullptr : rdf.c_str(), static_cast<uint32_t>(rdf.size()), nullptr);
    parsed = doc.Parse(index);
  }
  std::string Get(const std::string& prop, const char* ns = nullptr) {
    std::string out = "stale";  // a missing property must still clear it
    EXPECT_TRUE(doc.GetProperty(ns, prop.c_str(), true, &out, false));
    return out;
  }

  owc::WCXMLSearchLevel index;
  owc::WCXMLDoc doc;
  bool parsed = false;
};

// Siblings are counted per name; nested captures each get their inner content; namespaced
// metadata is found under its namespace or under the full key.
TEST(XMLDocTest, GettersReadTheCapturesOfAStoryFileAndAMissingOneIsReportedByName) {
  TempDir dir;
  const std::string xml = dir.File("s.xml"), rdf = dir.File("s.rdf");
  TempDir::Write(xml, kStoryXml);
  TempDir::Write(rdf, kStoryRdf);
  ParsedDoc d(
      {kHead + "\\hedline(0)\\hl1(-1)", kHead + "\\hedline(0)\\hl2(-1)", kHead + "\\series(0)",
       kContent + "\\p(-1)", kContent, MetaKey("headline(-1)"), kHead + "\\distributor(0)"},
      xml, rdf, true);
  ASSERT_TRUE(d.parsed);
  const std::string body =
      "<p class=\"lead\">It's up &lt;5%</p><media id=\"m1\"><caption>c</caption></media>"
      "<p>Second</p>";
  std::string out;
  EXPECT_TRUE(d.doc.GetHeadline(&out, true));
  EXPECT_EQ(std::string("Rates &amp; Markets") + '\0', out);
  d.doc.GetPropertyAttribute(nullptr, (kHead + "\\series(0)").c_str(), "Series.Part", &out, true);
  EXPECT_EQ(std::string(1, '\0'), out);  // attribute names keep their case
  d.doc.GetBody(&out, false);
  EXPECT_EQ(body, out);
  EXPECT_EQ("Second hl1", d.Get(kHead + "\\hedline(0)\\hl1(1)"));
  EXPECT_EQ("Second", d.Get(kContent + "\\p(1)"));
  EXPECT_EQ("", d.Get("\\nitf(0)\\x(0)"));
  EXPECT_EQ("Wire Co", d.Get(kHead + "\\distributor(0)"));
  EXPECT_EQ("Meta headline", d.Get("headline(0)", kMetaNs));
  EXPECT_EQ("Meta headline", d.Get(MetaKey("headline(0)"), ""));
  // Matching ignores case, but the capture is stored under the name the document writes.
  ParsedDoc upper({"\\NITF(0)\\BODY(0)\\Body.Content(0)"}, owc_test::kStoryXml);
  EXPECT_EQ(body, upper.Get(kContent));
  EXPECT_EQ("", upper.Get("\\NITF(0)\\BODY(0)\\Body.Content(0)"));
  LogCapture log;
  const std::string missing = dir.File("none.xml");
  EXPECT_FALSE(
      d.doc.Init(true, missing.c_str(), 0, missing.c_str(), true, rdf.c_str(), 0, rdf.c_str()));
  EXPECT_TRUE(log.Has("WCXMLDoc::Init InitFromFile failed for XML document [" + missing + "]"));
  EXPECT_FALSE(d.doc.Init(true, xml.c_str(), 0, nullptr, true, dir.Path().c_str(), 0, nullptr));
  EXPECT_TRUE(log.Has("WCXMLDoc::Init InitFromFile failed for RDF document [RDF Unknown]"));
}

// A parse error keeps what was captured before it; a bad RDF leaves the XML unparsed; a
// document starting with NUL is empty.
TEST(XMLDocTest, ParseFailuresLogTheirLineAndKeepEarlierCaptures) {
  LogCapture log;
  ParsedDoc xml({"\\r(0)\\a(0)"}, "<r>\n<a>kept</a>\n<b></c>\n</r>");
  EXPECT_FALSE(xml.parsed);
  EXPECT_EQ(0, log.SeverityOf("WCXMLDoc::Parse XML parse error: [mismatched tag] at line 3 for "
                              "[XML Unknown]"));
  EXPECT_EQ("kept", xml.Get("\\r(0)\\a(0)"));
  ParsedDoc rdf({"\\r(0)\\a(0)"}, "<r><a>x</a></r>", "<m:Resource xmlns:m='u'>");
  EXPECT_FALSE(rdf.parsed);
  EXPECT_EQ(0, log.SeverityOf("WCXMLDoc::Parse RDF parse error: [no element found] at line 1 for "
                              "[RDF Unknown]"));
  EXPECT_EQ("", rdf.Get("\\r(0)\\a(0)"));
  ParsedDoc nul({"\\r(0)\\a(0)"}, std::string("\0<r><a>x</a></r>", 16));
  EXPECT_TRUE(nul.parsed);
  EXPECT_EQ("", nul.Get("\\r(0)\\a(0)"));
}

// The first capture of a path wins, across the two documents and when parsed again.
TEST(XMLDocTest, DuplicateCapturesAreLoggedAndTheFirstWins) {
  LogCapture log;
  ParsedDoc d({"\\r(0)"}, "<r>xml</r>", "<r>rdf</r>");
  ASSERT_TRUE(d.doc.Parse(d.index));
  for (const char* name : {"XML", "RDF"}) {
    EXPECT_EQ(2, log.SeverityOf(std::string("WCXMLDoc::ParseCBEndEltHandler [") + name +
                                " Unknown] detected duplicate element [\\r(0)]"));
  }
  EXPECT_EQ("rdf", d.Get("\\r(0)"));
}

TEST(XMLDocTest, PathsFollowTheConfiguredSeparator) {
  owc::SetLevelSeparator('/');
  ParsedDoc d({"/nitf(0)/body(0)/body.content(0)", "\\x(0)"},
              "<nitf><body><body.content>x</body.content></body></nitf>");
  std::string body;
  d.doc.GetBody(&body, false);
  owc::SetLevelSeparator('\\');
  EXPECT_EQ("x", body);
  EXPECT_EQ(1u, d.index.GetCount());  // the backslash path was refused
}

// Each parent counts its own children by name, and the counts of a closed element go with it.
TEST(XMLDocTest, SiblingIndexesCountTheChildrenOfEachParentAlone) {
  ParsedDoc d(
      {"\\r(0)\\a(0)\\b(1)", "\\r(0)\\b(1)", "\\r(0)\\a(1)\\b(0)", "\\r(0)\\a(1)\\a(0)\\b(2)"},
      "<r><a><b>x</b><b>a0b1</b></a><b>b0</b><a><b>a1b0</b><a><b/><b/><b>deep</b>"
      "</a></a><b>b1</b><a>a2</a></r>");
  ASSERT_TRUE(d.parsed);
  EXPECT_EQ("a0b1", d.Get("\\r(0)\\a(0)\\b(1)"));
  EXPECT_EQ("b1", d.Get("\\r(0)\\b(1)"));
  EXPECT_EQ("a1b0", d.Get("\\r(0)\\a(1)\\b(0)"));
  EXPECT_EQ("deep", d.Get("\\r(0)\\a(1)\\a(0)\\b(2)"));
}

// Names that begin one another, an empty value, and more attribute text than a capture sets
// aside with its path: each attribute is found by its whole name.
TEST(XMLDocTest, AttributesAreFoundByTheirWholeNameAmongMany) {
  std::string many;
  for (char c = 'a'; c < 'm'; ++c)
    many += std::string(" d") + c + "=\"" + std::string(20, c) + "\"";
  const std::string series = kHead + "\\series(0)";
  const std::string element = "<series idx=\"2\" id=\"\" i=\"1\"" + many + ">s</series>";
  ParsedDoc d({series, kHead}, "<nitf><body><body.head>" + element + "</body.head></body></nitf>");
  const owc::WCXMLDocTagFrame* frame = d.doc.FindCapture("", series);
  ASSERT_NE(nullptr, frame);
  EXPECT_STREQ("1", frame->FindAttribute("i"));
  EXPECT_STREQ("", frame->FindAttribute("id"));
  EXPECT_STREQ("2", frame->FindAttribute("idx"));
  EXPECT_STREQ(std::string(20, 'l').c_str(), frame->FindAttribute("dl"));
  EXPECT_EQ(nullptr, frame->FindAttribute("d"));
  std::string got;
  ASSERT_TRUE(d.doc.GetProperty("", series.c_str(), false, &got, false));
  EXPECT_EQ(element, got);
  EXPECT_EQ(element, d.Get(kHead));  // the enclosing capture writes the tag the same way
}

// Every reference of the table resolves through the parser to its own character: the
// declarations handed to expat are complete and well formed.
TEST(HtmlEntitiesTest, EveryHtmlEntityOfTheTableResolvesToItsCodePoint) {
  std::string headline, expected;
  std::set<std::string> names;
  for (const owc::HtmlEntity* e = owc::HtmlEntitiesBegin(); e != owc::HtmlEntitiesEnd(); ++e) {
    names.insert(e->name);
    headline += std::string("&") + e->name + ";";
    const uint32_t cp = e->codePoint;
    if (cp < 0x80) {
      expected += static_cast<char>(cp);
    } else if (cp < 0x800) {
      expected += static_cast<char>(0xC0 | (cp >> 6));
      expected += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      expected += static_cast<char>(0xE0 | (cp >> 12));
      expected += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      expected += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  EXPECT_EQ(252, owc::HtmlEntitiesEnd() - owc::HtmlEntitiesBegin());
  EXPECT_EQ(252u, names.size());
  const std::string xml = "<nitf><body><body.head><hedline><hl1>" + headline +
                          "</hl1></hedline></body.head></body></nitf>";
  owc::SetReadOptions(owc::kReadHtmlEntities);
  owc::SetEntityRefOutput(0);
  ParsedDoc d({kHead + "\\hedline(0)\\hl1(0)"}, xml);
  owc::SetReadOptions(0);
  owc::SetEntityRefOutput(owc::kEntityRefEscape);
  ASSERT_TRUE(d.parsed);
  EXPECT_EQ(expected, d.Get(kHead + "\\hedline(0)\\hl1(0)"));
}

TEST(DeclaredEncodingTest, Utf8CheckRefusesOverlongSurrogateTooLargeAndCutSequences) {
  const std::pair<const char*, bool> cases[] = {
      {"plain", true},         {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8C\x8A", true},
      {"\xC0\xAF", false},     {"\xE0\x80\xAF", false},      // overlong '/'
      {"\xED\xA0\x80", false}, {"\xF4\x90\x80\x80", false},  // surrogate, above U+10FFFF
      {"caf\xC3", false},      {"\xE2\x82", false},
      {"\x80", false},         {"\xFF", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, owc::IsValidUtf8(c.first)) << c.first;
  EXPECT_EQ("ISO-8859-1", owc::DeclaredEncoding("\xEF\xBB\xBF<?xml version='1.0' encoding = "
                                                "\"ISO-8859-1\" ?><a/>"));
  EXPECT_EQ("", owc::DeclaredEncoding("<?xml version='1.0'?><a encoding='latin1'/>"));
  EXPECT_EQ("", owc::DeclaredEncoding("<a/><?xml version='1.0' encoding='latin1'?>"));
}

// A byte needs 2 free bytes, a reference of k characters k + 2; the result is the number
// of source bytes left over, and the source pointer stops at the first of them.
TEST(EntityReferencesTest, EscapesWhatFitsAndReturnsTheBytesLeft) {
  const std::string quotes(10, '"');
  const std::string quoted = "&quot;&quot;&quot;&quot;&quot;&quot;&quot;&quot;&quot;&quot;";
  const struct {
    std::string in;
    uint32_t room;
    bool apos;
    std::string out;
    uint32_t count;
    int32_t left;
  } cases[] = {
      {"a<b & c>d \"q\" it's", 64, false, "a&lt;b &amp; c&gt;d &quot;q&quot; it's", 5, 0},
      {"AT&amp;T &quot;&apos;&lt;&gt;", 64, false, "AT&amp;T &quot;&apos;&lt;&gt;", 0, 0},
      {"&#38; &eacute; &Amp; &amp", 64, false, "&amp;#38; &amp;eacute; &amp;Amp; &amp;amp", 4, 0},
      {"it's", 64, true, "it&apos;s", 1, 0},
      {"", 1, false, "", 0, 0},
      {"caf\xc3\xa9 <\xff", 64, false, "caf\xc3\xa9 &lt;\xff", 1, 0},
      // Shorter than one scan: the special byte in the first half, the second, or neither.
      {"ab<def", 64, false, "ab&lt;def", 1, 0},
      {"abcde<g", 64, false, "abcde&lt;g", 1, 0},
      {"0123456789>b", 64, false, "0123456789&gt;b", 1, 0},
      {"01234567 9ab\"de", 64, false, "01234567 9ab&quot;de", 1, 0},
      {"0123456789abcd", 64, false, "0123456789abcd", 0, 0},
      // Longer than one 16-byte scan, with references across the block boundaries.
      {"0123456789abcde&amp;0123456789abcdef<0123456789abcdef&quot", 128, false,
       "0123456789abcde&amp;0123456789abcdef&lt;0123456789abcdef&amp;quot", 2, 0},
      {quotes, 16, false, quoted.substr(0, 12), 2, 8},
      {quotes, 61, false, quoted.substr(0, 54), 9, 1},
      {quotes, 62, false, quoted, 10, 0},
      {"abc", 3, false, "ab", 0, 1},
      {"abc", 4, false, "abc", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in + " in " + std::to_string(c.room));
    std::string dest(c.room + 1, '\x7f');  // one guard byte past the destination
    const char* source = c.in.data();
    uint32_t count = 99;
    EXPECT_EQ(c.left, owc::FixEntityReferences(&source, static_cast<uint32_t>(c.in.size()),
                                               &dest[0], c.room, &count, c.apos));
    EXPECT_EQ('\x7f', dest[c.room]);
    EXPECT_EQ(c.out, dest.c_str());
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(c.in.size() - c.left, static_cast<size_t>(source - c.in.data()));
  }
}

}  // namespace
}  // namespace owc_test
