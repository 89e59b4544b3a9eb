// SPDX-License-Identifier: MIT
// Stories read through the conversion interface with each reading option and without it, text
// escaped in each entity-reference mode, and stories written to hurt the reader.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <regex>
#include <string>

#include "owclient/owclient.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace owc_test {
namespace {

void Append(const uint8_t* data, uint32_t len, uintptr_t out, uintptr_t) {
  if (data != nullptr)
    reinterpret_cast<std::string*>(out)->append(reinterpret_cast<const char*>(data), len);
}

std::string Example(const std::string& file) { return TempDir::Read(OWC_EXAMPLES_DIR "/" + file); }

// What one conversion gave: the template's result, its page and the standard fields.
struct Result {
  uint32_t rc = 0;
  std::string html, headline, subheadline, byline, body, seriesName;
};

const char kHl1[] = "\\nitf(0)\\body(0)\\body.head(0)\\hedline(0)\\hl1(0)";

class ReadOptionsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    OBConvertSetReadOptions(0);
    OBConvertSetEntityRefOutput(1);
    OBConvertSetLevelSeparator('\\');
    Free();
  }
  void Free() {
    if (mEnv != nullptr) OBConvertFreeEnv(mEnv);
    if (mObj != nullptr) OBConvertFreeObj(mObj);
    mEnv = nullptr;
    mObj = nullptr;
  }

  // The example template and table, or (example false) a template of the headline only.
  Result Convert(const std::string& xml, uint32_t options, bool example = false,
                 const std::string& rdf = "") {
    OBConvertSetReadOptions(options);
    Free();
    const std::string tmpl =
        example ? Example("templates/story.tmpl") : "<?Kavio insert headline?>";
    const std::string table = example ? Example("templates/story.xlate") : "";
    EXPECT_EQ(0u, OBConvertNewEnv(tmpl.data(), static_cast<uint32_t>(tmpl.size()), table.data(),
                                  static_cast<uint32_t>(table.size()), &mEnv));
    EXPECT_EQ(0u, OBConvertNewObj(0, xml.data(), static_cast<uint32_t>(xml.size()), 0, rdf.data(),
                                  static_cast<uint32_t>(rdf.size()), &mObj));
    Result r;
    r.rc = OBConvertApplyTemplate(mEnv, mObj, &Append, reinterpret_cast<uintptr_t>(&r.html), 0);
    if (!r.html.empty() && r.html.back() == '\0') r.html.pop_back();
    OBConvertGetHeadline(mObj, &Append, reinterpret_cast<uintptr_t>(&r.headline), 0);
    OBConvertGetSubheadline(mObj, &Append, reinterpret_cast<uintptr_t>(&r.subheadline), 0, 0);
    OBConvertGetByline(mObj, &Append, reinterpret_cast<uintptr_t>(&r.byline), 0, 0);
    OBConvertGetBody(mObj, &Append, reinterpret_cast<uintptr_t>(&r.body), 0);
    OBConvertGetSeriesName(mObj, &Append, reinterpret_cast<uintptr_t>(&r.seriesName), 0);
    return r;
  }
  Result ConvertExample(const std::string& story, uint32_t options) {
    return Convert(Example("stories/" + story + ".xml"), options, true,
                   Example("stories/" + story + ".rdf"));
  }
  std::string Attribute(const char* prop, const char* attr) {
    std::string out;
    EXPECT_EQ(0u, OBConvertGetPropertyAttribute(mObj, &Append, reinterpret_cast<uintptr_t>(&out), 0,
                                                "", prop, attr));
    return out;
  }
  std::string Property(const std::string& prop, uint8_t valueOnly) {
    std::string out;
    EXPECT_EQ(0u, OBConvertGetProperty(mObj, &Append, reinterpret_cast<uintptr_t>(&out), 0, "",
                                       prop.c_str(), valueOnly));
    return out;
  }

  LogCapture mLog;
  OBConvertEnv mEnv = nullptr;
  OBConvertObj mObj = nullptr;
};

// Stories written to hurt the reader, converted with the example template.
class HostileStoryTest : public ReadOptionsTest {
 protected:
  static constexpr char kMarker[] = "TOP-SECRET-9431";

  // A non-empty error is the parse error that must refuse the story.
  Result Convert(const std::string& xml, const std::string& error = "", uint32_t options = 0) {
    mLog.Clear();
    Result r = ReadOptionsTest::Convert(xml, options, true);
    EXPECT_EQ(error.empty() ? 0u : 1u, r.rc);
    EXPECT_EQ(error.empty(), !mLog.HasPart("WCXMLDoc::Parse XML parse error: [" + error)) << error;
    EXPECT_FALSE(mLog.HasPart(kMarker));
    for (const std::string* text : {&r.html, &r.headline, &r.body})
      EXPECT_EQ(std::string::npos, text->find(kMarker));
    return r;
  }
};

std::string Story(const std::string& prolog, const std::string& headline,
                  const std::string& body = "<p>x</p>", const std::string& hl1Attributes = "") {
  return prolog + "<nitf><body><body.head><hedline><hl1" + hl1Attributes + ">" + headline +
         "</hl1></hedline></body.head><body.content>" + body + "</body.content></body></nitf>";
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

TEST_F(ReadOptionsTest, AreOffByDefaultAndKeepOnlyTheBitsTheyDefine) {
  EXPECT_EQ(0u, OBConvertGetReadOptions());
  OBConvertSetReadOptions(0xFFFFFFFFu);
  EXPECT_EQ(OBCONVERT_READ_REAL_FEEDS, OBConvertGetReadOptions());
  OBConvertSetReadOptions(OBCONVERT_READ_HTML_ENTITIES | 0x100u);
  EXPECT_EQ(OBCONVERT_READ_HTML_ENTITIES, OBConvertGetReadOptions());
}

// Each story needs only its own option; without it the story reads as described: empty
// fields for a namespace, the parse error for Latin-1 bytes, dropped entities.
TEST_F(ReadOptionsTest, EachExampleFeedStoryReadsWithItsOptionAndAsDescribedWithout) {
  const struct {
    const char* story;
    uint32_t option;
    const char* subheadline;  // with the option
    const char* bodyPart;     // with the option
    const char* without;      // the subheadline without it; null: the parse fails
  } cases[] = {
      {"ferry-timetable", OBCONVERT_READ_PLAIN_NITF,
       "Late boat leaves the mainland pier at 23:40 from 20 June", "<em>forty minutes</em>", ""},
      {"alpine-choir", OBCONVERT_READ_DECLARED_ENCODING, "Chor aus Grünwald überrascht die Jury",
       "<person>Jörg Brühl</person>", nullptr},
      {"market-prices", OBCONVERT_READ_DECLARED_ENCODING, "",
       "“We wanted to keep the small growers,” said the board’s chair – a cheesemaker", nullptr},
      {"opera-premiere", OBCONVERT_READ_HTML_ENTITIES, "Café scene draws the longest applause",
       "harbour theatre\u00a0— tickets cost up to €85", "Caf scene draws the longest applause"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.story);
    Result with = ConvertExample(c.story, c.option);
    EXPECT_EQ(0u, with.rc);
    EXPECT_EQ(c.subheadline, with.subheadline);
    EXPECT_TRUE(Has(with.body, c.bodyPart)) << with.body;
    EXPECT_TRUE(Has(with.html, "<h1>" + with.headline + "</h1>"));
    EXPECT_FALSE(with.headline.empty());
    mLog.Clear();
    Result without = ConvertExample(c.story, OBCONVERT_READ_REAL_FEEDS & ~c.option);
    EXPECT_EQ(c.without == nullptr ? 1u : 0u, without.rc);
    EXPECT_EQ(c.without == nullptr ? "" : c.without, without.subheadline);
    EXPECT_EQ(c.without == nullptr,
              mLog.HasPart("XML parse error: [not well-formed (invalid token)]"));
    EXPECT_EQ(c.without == nullptr, without.html.empty()) << "a page only when it parses";
  }
  // NITF 3.3 in its namespace: without the option, the metadata headline titles the page.
  Result glacier = ConvertExample("glacier-survey", OBCONVERT_READ_PLAIN_NITF);
  EXPECT_EQ("Survey team finds the valley glacier thinner by eleven metres", glacier.headline);
  EXPECT_EQ("Mountains in change", glacier.seriesName);
  EXPECT_EQ("By <person>Hanna Lövgren</person>", glacier.byline);
  Result plain = ConvertExample("glacier-survey", 0);
  EXPECT_EQ(0u, plain.rc);
  EXPECT_EQ("", plain.headline + plain.byline + plain.body + plain.seriesName);
  EXPECT_TRUE(Has(plain.html, "<h1>Glacier survey</h1>"));
  // UTF-8 labelled as Latin-1 reads the same with the option and without it.
  const std::string museum = "Harbour museum reopens with a hall for the Møller whaler";
  EXPECT_EQ(museum, ConvertExample("museum-reopening", 0).headline);
  EXPECT_EQ(museum, ConvertExample("museum-reopening", OBCONVERT_READ_REAL_FEEDS).headline);
}

// Names in a NITF namespace lose it, elements and prefixed attributes alike; others keep it.
TEST_F(ReadOptionsTest, PlainNitfRenamesOnlyNitfNamespacesOfElementsAndAttributes) {
  const std::string xml =
      "<n:nitf xmlns:n='http://iptc.org/std/NITF/2006-10-18/' xmlns:x='http://example.org/x#'>"
      "<n:body><n:body.head><n:hedline><n:hl1>Head</n:hl1></n:hedline>"
      "<n:series n:series.name='S' x:series.part='7'/></n:body.head>"
      "<n:body.content><n:p n:class='lead' x:id='1'>t<x:geo>g</x:geo>"
      "<y:p xmlns:y='http://iptc.org/std/NITFX/'>u</y:p></n:p></n:body.content></n:body></n:nitf>";
  Result r = Convert(xml, OBCONVERT_READ_PLAIN_NITF);
  EXPECT_EQ("Head", r.headline);
  EXPECT_EQ("S", r.seriesName);
  const char kSeries[] = "\\nitf(0)\\body(0)\\body.head(0)\\series(0)";
  EXPECT_EQ("", Attribute(kSeries, "series.part"));
  EXPECT_EQ("7", Attribute(kSeries, "http://example.org/x#:series.part"));
  EXPECT_EQ(
      "<p class=\"lead\" http://example.org/x#:id=\"1\">t<http://example.org/x#:geo>g"
      "</http://example.org/x#:geo><http://iptc.org/std/NITFX/:p>u</http://iptc.org/std/NITFX/:p>"
      "</p>",
      r.body);
  Result strict = Convert(xml, 0);
  EXPECT_EQ("", strict.headline + strict.seriesName + strict.body);
}

TEST_F(ReadOptionsTest, DeclaredEncodingReadsItsSingleByteEncodingsAndNamesAnyOther) {
  const struct {
    std::string declaration;
    std::string bytes;
    const char* headline;
    const char* named;  // non-empty: the story fails, naming the declared encoding
  } cases[] = {
      {" encoding='latin1'", "Caf\xE9 \xAB\xBB", "Café «»", ""},
      {" encoding=\"ISO_8859-1\"", "\x80\x93", "\xC2\x80\xC2\x93", ""},  // C1 controls in Latin-1
      {" encoding = 'CP1252'", "\x80\x93\x94\x81", "€“”\xC2\x81", ""},
      {" encoding='US-ASCII'", "\x93quoted\x94", "“quoted”", ""},  // the code page meant
      {" encoding='ISO-8859-1'", "Caf\xC3\xA9", "Café", ""},       // valid UTF-8 stays UTF-8
      {" encoding='Shift_JIS'", "\x82\xA0", "", "[Shift_JIS]"},
      {"", "Caf\xE9", "", "[none]"},
  };
  const std::string refused = "WCXMLDoc::Parse XML [XML Unknown] declares the encoding ";
  const std::string readable =
      " and its bytes are not UTF-8: only UTF-8, ISO-8859-1, windows-1252 and US-ASCII are read";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.declaration);
    mLog.Clear();
    Result r = Convert(Story("<?xml version='1.0'" + c.declaration + "?>", c.bytes),
                       OBCONVERT_READ_DECLARED_ENCODING);
    EXPECT_EQ(*c.named == '\0' ? 0u : 1u, r.rc);
    EXPECT_EQ(c.headline, r.headline);
    EXPECT_EQ(*c.named == '\0' ? -1 : 0, mLog.SeverityOf(refused + c.named + readable));
  }
}

TEST_F(ReadOptionsTest, HtmlEntitiesResolveWithAnyDoctypeAndTheDocumentsOwnDefinitionWins) {
  const std::string refs =
      "&Aacute;&yuml;&fnof;&Omega;&piv;&hArr;&sdot;&diams;&OElig;&euro;"
      "&rsaquo;&nbsp;&amp;&lt;";
  const std::string expected = "ÁÿƒΩϖ⇔⋅♦Œ€›\u00a0&amp;&lt;";
  for (const std::string& prolog :
       {std::string(), std::string("<!DOCTYPE nitf SYSTEM 'nitf.dtd'>"),
        std::string("<!DOCTYPE nitf PUBLIC '-//IPTC//DTD NITF 3.2//EN' 'http://x/nitf.dtd'>"),
        std::string("<!DOCTYPE nitf [<!ENTITY own 'o'>]>")}) {
    SCOPED_TRACE(prolog);
    Result r = Convert(Story(prolog, refs), OBCONVERT_READ_HTML_ENTITIES);
    EXPECT_EQ(0u, r.rc);
    EXPECT_EQ(expected, r.headline);
  }
  // Without the option: no DOCTYPE is an error, an external one drops the references.
  mLog.Clear();
  EXPECT_EQ(1u, Convert(Story("", "Caf&eacute;"), 0).rc);
  EXPECT_TRUE(mLog.HasPart("XML parse error: [undefined entity]"));
  EXPECT_EQ("Caf", Convert(Story("<!DOCTYPE nitf SYSTEM 'n.dtd'>", "Caf&eacute;"), 0).headline);
  const std::string own = "<!DOCTYPE nitf SYSTEM 'n.dtd' [<!ENTITY eacute 'E'><!ENTITY x 'y'>]>";
  EXPECT_EQ("CafE y €",
            Convert(Story(own, "Caf&eacute; &x; &euro;"), OBCONVERT_READ_HTML_ENTITIES).headline);
}

// Attributes keep document order and an empty element both tags; the separator set names the
// captured paths. An attribute read alone is always the value as parsed.
TEST_F(ReadOptionsTest, TextAndAttributeValuesAreEscapedInModesOneAndTwo) {
  const std::string xml = Story("", "H",
                                "'&lt;&amp;<b z=\"2\" c=\"1 &amp; 2\"/><p title=\"a&quot;b "
                                "&lt;c&gt; &amp; d'e\" onclick=\"x&quot; y=&quot;1\">t</p>");
  const std::string b = "<b z=\"2\" c=\"1 &amp; 2\"></b>";
  const std::string raw =
      "'<&<b z=\"2\" c=\"1 & 2\"></b><p title=\"a\"b <c> & d'e\" onclick=\"x\" "
      "y=\"1\">t</p>";
  const struct {
    uint32_t mode;
    char separator;
    std::string body;
  } cases[] = {
      {1, '\\',
       "'&lt;&amp;" + b +
           "<p title=\"a&quot;b &lt;c&gt; &amp; d'e\" onclick=\"x&quot; y=&quot;1\">t</p>"},
      {2, '/',
       "&apos;&lt;&amp;" + b +
           "<p title=\"a&quot;b &lt;c&gt; &amp; d&apos;e\" onclick=\"x&quot; y=&quot;1\">t</p>"},
      {0, '\\', raw},
      {3, '\\', raw},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    OBConvertSetEntityRefOutput(c.mode);
    OBConvertSetLevelSeparator(c.separator);
    EXPECT_EQ(c.body, Convert(xml, 0).body);
    std::string hl1 = kHl1;
    std::replace(hl1.begin(), hl1.end(), '\\', c.separator);
    EXPECT_EQ("H", Property(hl1, 1));
  }
  OBConvertSetLevelSeparator('\\');
  OBConvertSetEntityRefOutput(1);
  Convert(Story("", "<em class='&quot;&gt;'>H</em>", "", " class='x&quot;y'"), 0);
  EXPECT_EQ("<em class=\"&quot;&gt;\">H</em>", Property(kHl1, 1));
  EXPECT_EQ("<hl1 class=\"x&quot;y\"><em class=\"&quot;&gt;\">H</em></hl1>", Property(kHl1, 0));
  EXPECT_EQ("x\"y", Attribute(kHl1, "class"));
}

// Every tag and attribute of the page is read as a browser reads it, whatever the quotes.
TEST_F(HostileStoryTest, TheForgedLinksExampleRendersWithoutHandlersScriptsOrScriptLinks) {
  static const std::regex tag(R"re(<([A-Za-z][^\s/>]*)((?:[^>"']|"[^"]*"|'[^']*')*)>)re");
  static const std::regex attr(R"re(([^\s=/>]+)(?:=(?:"([^"]*)"|'([^']*)'|([^\s>]*)))?)re");
  for (uint32_t mode : {1u, 2u, 0u}) {
    for (uint32_t options : {0u, OBCONVERT_READ_REAL_FEEDS}) {
      SCOPED_TRACE(std::to_string(mode) + "/" + std::to_string(options));
      OBConvertSetEntityRefOutput(mode);
      Result r = ConvertExample("forged-links", options);
      ASSERT_EQ(0u, r.rc);
      size_t links = 0;
      for (std::sregex_iterator t(r.html.begin(), r.html.end(), tag), end; t != end; ++t) {
        EXPECT_NE("script", Lower((*t)[1]));
        const std::string rest = (*t)[2];
        for (std::sregex_iterator a(rest.begin(), rest.end(), attr); a != end; ++a) {
          const std::string name = Lower((*a)[1]);
          const std::string value = (*a)[2].str() + (*a)[3].str() + (*a)[4].str();
          EXPECT_NE("on", name.substr(0, 2)) << name << "=" << value;
          EXPECT_NE("style", name);
          std::string bare;  // in lower case, without blanks
          for (char c : Lower(value))
            if (!std::isspace(static_cast<unsigned char>(c))) bare += c;
          for (const char* scheme : {"javascript:", "vbscript:", "data:", "&#"})
            EXPECT_NE(0u, bare.find(scheme)) << name << "=" << value;
          links += name == "href";
        }
      }
      EXPECT_EQ(2u, links) << "only the two links that are not scripts";
      EXPECT_TRUE(Has(r.html, "<a href=\"https://www.example.com/notice\" title=\""));
      EXPECT_FALSE(Has(r.html, "alert('element')")) << "script content is dropped";
      EXPECT_FALSE(Has(r.html, "summary")) << "the table's summary stays out";
      EXPECT_TRUE(Has(r.html, "<th scope=\"col\">Trick</th>"));
      EXPECT_TRUE(Has(r.html, "<td colspan=\"1\">handlers on cells</td>"));
    }
  }
}

// An external DTD subset or parameter entity is never read: with HTML entities the library's
// definitions stand, and a name that stays unknown is logged once per document.
TEST_F(HostileStoryTest, EntitiesNeitherExpandPastTheLimitNorReadALocalFile) {
  std::string laughs = "<!DOCTYPE nitf [<!ENTITY e0 \"lol\">";  // e10: 10^10 copies
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&e" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]>";
  Convert(Story(laughs, "&e10;", "x"), "limit on input amplification");
  Convert(Story(laughs, "h", "<p class=\"&e10;\">x</p>"), "limit on input amplification");
  TempDir dir;
  const std::string txt = dir.File("secret.txt"), dtd = dir.File("secret.dtd");
  TempDir::Write(txt, kMarker);
  TempDir::Write(dtd, std::string("<!ENTITY leak '") + kMarker + "'><!ENTITY eacute '" + kMarker +
                          "'><!ENTITY nosuch '" + kMarker + "'>");
  const std::string entity = "<!DOCTYPE nitf [<!ENTITY x SYSTEM \"file://" + txt + "\">]>";
  for (uint32_t options : {0u, OBCONVERT_READ_REAL_FEEDS}) {
    Convert(Story(entity, "&x;"), "error in processing external entity reference", options);
    Convert(Story(entity, "h", "<p class=\"&x;\">x</p>"),
            "reference to external entity in attribute", options);
  }
  for (const std::string& prolog :
       {"<!DOCTYPE nitf SYSTEM \"" + dtd + "\">",
        "<!DOCTYPE nitf [<!ENTITY % ext SYSTEM \"" + dtd + "\"> %ext;]>"}) {
    SCOPED_TRACE(prolog);
    EXPECT_EQ("AB", Convert(Story(prolog, "A&leak;B", "<p>kept</p>")).headline);
    Result r =
        Convert(Story(prolog, "&eacute;&nosuch;&nosuch;&other;"), "", OBCONVERT_READ_HTML_ENTITIES);
    EXPECT_EQ("é", r.headline);
    EXPECT_EQ(1u, mLog.Count("WCXMLDoc::Parse [XML Unknown] has no definition of the entity "
                             "&nosuch; (dropped)"));
    EXPECT_TRUE(mLog.HasPart("has no definition of the entity &other;"));
  }
}

// Capture, tag translation and output walk deep nesting without recursion.
TEST_F(HostileStoryTest, DeepNestingAndTensOfThousandsOfAttributesRenderOrFailCleanly) {
  std::string open, close, attributes;
  for (int i = 0; i < 200000; ++i) {
    open += "<em>";
    close += "</em>";
  }
  Result r = Convert(Story("", "Deep", open + "core" + close));
  EXPECT_EQ(open + "core" + close, r.body);
  EXPECT_TRUE(Has(r.html, "core"));
  Convert(Story("", "Cut", open + "core"), "mismatched tag");
  for (int i = 0; i < 50000; ++i)
    attributes += " a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
  r = Convert(Story("", "H", "<p" + attributes + ">text</p>", attributes));
  EXPECT_EQ("H", r.headline);
  EXPECT_TRUE(Has(r.body, " a49999=\"v49999\">text</p>"));
  EXPECT_TRUE(Has(r.html, "text"));
  Convert(Story("", "H", "<p" + attributes + " a7=\"again\">x</p>"), "duplicate attribute");
}

}  // namespace
}  // namespace owc_test
