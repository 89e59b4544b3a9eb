// SPDX-License-Identifier: MIT
#include "template/html_template.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "doc/doc_settings.h"
#include "doc/xml_doc.h"
#include "support/log_capture.h"
#include "support/story_samples.h"

namespace owc_test {
namespace {

using owc::WCHTMLTemplate;

const std::string kNs = std::string("<?Kavio namespace m = \"") + owc_test::kMetaNs + "\"?>";

struct Output {
  bool ok;
  std::string text;  // without the terminating NUL, which is checked
};

Output Generate(WCHTMLTemplate& t, const std::string& xml = owc_test::kStoryXml,
                const std::string& rdf = owc_test::kStoryRdf) {
  owc::WCXMLDoc doc;
  doc.Init(false, xml.data(), static_cast<uint32_t>(xml.size()), nullptr, false, rdf.data(),
           static_cast<uint32_t>(rdf.size()), nullptr);
  const bool ok = t.Generate(&doc);
  const size_t size = static_cast<size_t>(t.GetOutputSize());
  const char* data = reinterpret_cast<const char*>(t.GetOutputData());
  EXPECT_EQ(size == 0, data == nullptr);
  EXPECT_TRUE(size == 0 || data[size - 1] == '\0');  // the size counts a final NUL
  return {ok, size == 0 ? "" : std::string(data, size - 1)};
}

bool Load(WCHTMLTemplate& t, const std::string& text, const std::string& table = "") {
  t.SetXlateTable(table.data(), static_cast<uint32_t>(table.size()));
  return t.SetTemplate(text.data(), static_cast<uint32_t>(text.size()));
}

Output Expand(const std::string& text, const std::string& table = "") {
  WCHTMLTemplate t;
  Load(t, text, table);
  return Generate(t);
}

// A failing template logs its line at the failure level; a passing one logs nothing.
TEST(HTMLTemplateTest, CommandsExpandAgainstTheSampleStory) {
  const std::string ifEmpty = kNs + "<?Kavio if m:empty?>yes<?Kavio else?>no<?Kavio end?>";
  const struct {
    std::string text;
    std::string out;
    const char* line;  // empty: succeeds quietly
  } cases[] = {
      {"[<?Kavio insert headline?>]<?Kavio insert distributor?>\n<?Kavio insert dateline?>|"
       "<?Kavio insert series.part?>/<?Kavio insert series.totalpart?>",
       "[Rates &amp; Markets]Wire Co\n2024-05-01|2/5", ""},
      // A prefix may be declared after its use; one bound to "" reads a plain path.
      {"<?Kavio insert m : headline?>" + kNs, "Meta headline", ""},
      {"<?Kavio namespace p = \"\"?><?Kavio insert p:\\nitf(0)\\body(0)\\body.head(0)\\byline?>",
       "By AnnBy Bob", ""},
      {"<?Kavio if headline?>yes<?Kavio else?>no<?Kavio end?>!", "yes!", ""},
      {kNs + "<?Kavio if m:missing?>yes<?Kavio else?>no<?Kavio end?>!", "no!", ""},
      {kNs + "<?Kavio if m:missing?>yes<?Kavio end?>!", "!", ""},
      // An empty element is true only when its tag passes the table (below).
      {ifEmpty, "no", ""},
      // A loop binds each occurrence, and a reference finds its innermost binding.
      {"<?Kavio foreach subheadline?>[<?Kavio insert subheadline?>]<?Kavio end?>",
       "[First sub][Second sub]", ""},
      {kNs + "<?Kavio foreach byline?><?Kavio foreach m:keyword?>(<?Kavio insert byline?>:"
             "<?Kavio insert m:keyword?>)<?Kavio end?><?Kavio end?>",
       "(By Ann:alpha)(By Ann:beta)(By Ann:gamma)(By Bob:alpha)(By Bob:beta)(By Bob:gamma)", ""},
      // A loop counts occurrences whatever index its reference writes.
      {kNs + "<?Kavio foreach m:keyword(3)?>[<?Kavio insert m:keyword(3)?>]<?Kavio end?>"
             "<?Kavio if m:keyword?><?Kavio end?>",
       "[alpha][beta][gamma]", ""},
      // Open blocks and unfinished commands end the template quietly.
      {"<?Kavio if headline?>x<?Kavio foreach byline?>y", "xyy", ""},
      {"a<?Kavio insert headline", "a", ""},
      {"a<?Kavio ?>b<?Kavio end?>", "a", ""},
      {"<?Kaviox\tif headline?>yes<?Kavio end?>", "yes", ""},
      // Misplaced and unknown commands, reported with the line they end on.
      {"a<?Kavio end?>b", "a", "WCHTMLTemplate::ParseTemplate 'end' unexpected on line 1"},
      {"<?Kavio foreach headline?>\nx<?Kavio else?>\n<?Kavio end?>", "\nx",
       "WCHTMLTemplate::ParseTemplate 'else' unexpected on line 2"},
      {"a<?Kavio b<?Kavio end?>c", "a<?Kavio b",
       "WCHTMLTemplate::ParseTemplate 'end' unexpected on line 1"},
      {"a\n<?Kavio frob\nx?>b", "a\nb",
       "WCHTMLTemplate::ParseTemplate unknown command frob on line 3"},
      {"<?Kavio foreach q:x?>body<?Kavio end?><?Kavio insert q:y?>after", "after",
       "WCHTMLTemplate::TmplValNormalize could not find property map for [q]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    LogCapture log;
    Output out = Expand(c.text);
    EXPECT_EQ(c.out, out.text);
    EXPECT_EQ(*c.line == '\0', out.ok);
    EXPECT_EQ(*c.line == '\0', log.Lines().empty());
    EXPECT_EQ(*c.line == '\0' ? -1 : 0, log.SeverityOf(c.line));
  }
  const std::string table =
      "\"" + std::string(owc_test::kMetaNs) + ":empty\" \"span\" \"span\" 0 0";
  EXPECT_EQ("yes", Expand(ifEmpty, table).text);
}

// Loading fails exactly when it logs, always at the failure level.
TEST(HTMLTemplateTest, LoadingChecksVersionNamespacesAndPropertiesWithTheirLines) {
  const std::string p = "WCHTMLTemplate::ParsePreprocess ";
  const std::string v = "WCHTMLTemplate::TmplValNormalize ";
  const struct {
    std::string text;
    std::vector<std::string> lines;
  } cases[] = {
      {"<?Kavio version 1?>", {}},
      {"<?Kavio version 3?>", {p + "unsupported version on line 1, defaulting to version 2"}},
      {"\n\n<?Kavio version abc?>", {p + "bad version on line 3, defaulting to version 2"}},
      // A trailing blank makes a short name a bad property.
      {"<?Kavio insert headline ?>",
       {v + "found bad property [headline ] at 1", p + "found bad property"}},
      {"<?Kavio insert :x?>", {v + "found bad property [:x] at 2", p + "found bad property"}},
      {"<?Kavio namespace m?><?Kavio namespace  = u?><?Kavio insert q:x?>",
       {"WCHTMLTemplate::TmplCmdAddNameSpace found bad name space [m] at 1",
        "WCHTMLTemplate::TmplCmdAddNameSpace found bad name space [= u] at 2",
        v + "could not find property map for [q]", p + "found bad property"}},
      {"a\n<?Kavio frob x?>b", {}},  // unknown commands fail only when generated
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    LogCapture log;
    WCHTMLTemplate t;
    EXPECT_EQ(c.lines.empty(), Load(t, c.text));
    std::vector<std::string> texts;
    for (const auto& line : log.Lines()) {
      texts.push_back(line.text);
      EXPECT_EQ(0, line.severity) << line.text;
    }
    EXPECT_EQ(c.lines, texts);
  }
}

TEST(HTMLTemplateTest, TranslationDepthCarriesAcrossValuesButNotAcrossGenerations) {
  owc::SetEntityRefOutput(0);  // lets escaped text reach the table as markup
  const std::string xml =
      "<nitf><a>1&lt;media&gt;2</a><b>3&lt;media&gt;5&lt;/media&gt;6</b></nitf>";
  const std::string a = "<?Kavio insert p:\\nitf(0)\\a?>", b = "<?Kavio insert p:\\nitf(0)\\b?>";
  WCHTMLTemplate carry, again;
  Load(carry, "<?Kavio namespace p=\"\"?>" + a + "|" + b, "\"media\" \"div\" \"div\" 1 0");
  Load(again, "<?Kavio namespace p=\"\"?>" + b + "|" + a, "\"media\" \"div\" \"div\" 1 0");
  EXPECT_EQ("1<div>|3<div>", Generate(carry, xml, "").text);
  const std::string first = Generate(again, xml, "").text;
  EXPECT_EQ("3<div></div>6|1<div>", first);
  EXPECT_EQ(first, Generate(again, xml, "").text);
  // An if test sees the element as written: a '>' in an attribute cuts its start tag short
  // and leaves text; a lone '<' in the content takes the end tag for its own.
  WCHTMLTemplate tests;
  Load(tests,
       "<?Kavio namespace p=\"\"?><?Kavio if p:\\nitf(0)\\c?>c<?Kavio end?>"
       "<?Kavio if p:\\nitf(0)\\d?>d<?Kavio end?>");
  EXPECT_EQ("c", Generate(tests, "<nitf><c k=\"&gt;\"/><d>&lt;</d></nitf>", "").text);
  owc::SetEntityRefOutput(owc::kEntityRefEscape);
}

TEST(HTMLTemplateTest, ExtractPropertiesAreListedOnceAndIndexedWithTheirNamespace) {
  WCHTMLTemplate t;
  EXPECT_TRUE(t.AddExtractProp("", "\\nitf(0)\\body(0)"));
  EXPECT_TRUE(t.AddExtractProp("u", "keyword") && t.AddExtractProp("u", "keyword"));
  EXPECT_FALSE(t.AddExtractProp("u", ""));
  EXPECT_FALSE(t.AddExtractProp(nullptr, "x"));
  EXPECT_EQ(2u, t.GetExtractPropList().GetCount());
  EXPECT_TRUE(t.GetExtractPropList().Find("u", "keyword(-1)"));
  std::unique_ptr<owc::WCXMLParsePath> path(
      t.GetSearchLevel().CreateParsePath("\\u:Resource(0)\\u:keyword(7)"));
  EXPECT_TRUE(t.GetSearchLevel().MatchParsePath(*path));
  Load(t, "<?Kavio insert headline?>");
  EXPECT_EQ(1u, t.GetExtractPropList().GetCount());  // preprocessing starts a new list
}

// A 17 MB story passes a loop over every paragraph and its whole body; nested loops and ifs
// end on the limit (output, commands run, depth) that their message names.
TEST(HTMLTemplateTest, ExpansionBudgetGrowsWithTheStoryAndStillEndsHostileTemplates) {
  const std::string filler(520, 'w');
  std::string xml = "<nitf><body><body.head><hedline><hl1>Big</hl1></hedline></body.head>";
  xml += "<body.content>";
  for (int i = 0; i < 33000; ++i) xml += "<p>" + std::to_string(i) + filler + "</p>\n";
  xml += "</body.content></body></nitf>";
  ASSERT_GT(xml.size(), size_t{16} << 20);
  const std::string ns = "<?Kavio namespace doc = \"\"?>",
                    p = "doc:\\nitf(0)\\body(0)\\body.content(0)\\p";
  const std::string loop = "<?Kavio foreach " + p + "?>[<?Kavio if headline?><?Kavio insert " + p +
                           "?><?Kavio end?>]<?Kavio end?>";
  LogCapture log;
  WCHTMLTemplate big;
  Load(big, ns + loop + "<?Kavio insert body?>", "\"p\" \"p\" \"p\" 0 0\n");
  Output out = Generate(big, xml, "");
  EXPECT_TRUE(out.ok);
  EXPECT_GT(out.text.size(), size_t{2 * 33000 * 520}) << "every paragraph, looped and in the body";
  EXPECT_NE(std::string::npos, out.text.find("[32999" + filler + "]<p>0" + filler + "</p>"));
  EXPECT_FALSE(log.HasPart("expansion too large"));
  std::string deep, loops = "<?Kavio insert body?>", fives = loops;
  for (int i = 0; i < 5000; ++i) deep += "<?Kavio if headline?>";
  for (int i = 0; i < 30; ++i) loops = "<?Kavio foreach byline?>" + loops + "<?Kavio end?>";
  for (int i = 0; i < 5; ++i) fives = "<?Kavio foreach byline?>" + fives + "<?Kavio end?>";
  std::string bigBody = owc_test::kStoryXml;
  bigBody.replace(bigBody.find("<p>Second</p>"), 13, "<p>" + std::string(1 << 20, 'x') + "</p>");
  const std::string tooLarge = "expansion too large on line 1: more than ";
  const struct {
    std::string text;
    std::string story;
    std::string message;  // after "WCHTMLTemplate::ParseTemplate "
    const char* limit;
  } explosions[] = {
      {deep + "deep", owc_test::kStoryXml, "nesting deeper than 256", ""},
      {loops, owc_test::kStoryXml, tooLarge + "6", "commands run for this story"},
      {ns + "<?Kavio foreach " + p + "?>" + loop + "<?Kavio end?>", xml, tooLarge,
       "bytes of output for this story"},
      {fives, bigBody, tooLarge, "bytes of output for this story"},
  };
  for (const auto& e : explosions) {
    SCOPED_TRACE(e.message + e.limit);
    log.Clear();
    WCHTMLTemplate t;
    Load(t, e.text);
    out = Generate(t, e.story, e.story == owc_test::kStoryXml ? owc_test::kStoryRdf : "");
    EXPECT_FALSE(out.ok);
    EXPECT_TRUE(log.HasPart("WCHTMLTemplate::ParseTemplate " + e.message));
    EXPECT_TRUE(log.HasPart(e.limit));
    EXPECT_EQ(*e.limit == 'c', log.HasPart("commands run for this story"));
    EXPECT_LE(out.text.size(), (size_t{16} << 20) + 6 * e.story.size());
  }
}

}  // namespace
}  // namespace owc_test
