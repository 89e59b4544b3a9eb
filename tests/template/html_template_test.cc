#include "template/html_template.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "doc/doc_settings.h"
#include "doc/story_samples.h"
#include "doc/xml_doc.h"
#include "support/log_capture.h"

namespace {

using owc::WCHTMLTemplate;
using owc::WCXMLDoc;
using owc_test::kStoryRdf;
using owc_test::kStoryXml;
using owc_test::LogCapture;

const std::string kNs = std::string("<?Kavio namespace m = \"") + owc_test::kMetaNs + "\"?>";

struct Output {
  bool ok;
  std::string text;  // without the terminating NUL, which is checked
};

Output Generate(WCHTMLTemplate& t, const std::string& xml = kStoryXml,
                const std::string& rdf = kStoryRdf) {
  WCXMLDoc doc;
  doc.Init(false, xml.data(), static_cast<uint32_t>(xml.size()), nullptr, false, rdf.data(),
           static_cast<uint32_t>(rdf.size()), nullptr);
  Output out{t.Generate(&doc), ""};
  if (t.GetOutputSize() > 0) {
    const char* data = reinterpret_cast<const char*>(t.GetOutputData());
    EXPECT_EQ('\0', data[t.GetOutputSize() - 1]);
    out.text.assign(data, static_cast<size_t>(t.GetOutputSize() - 1));
  } else {
    EXPECT_EQ(nullptr, t.GetOutputData());
  }
  return out;
}

// Loads the template (and table) and generates it against the sample story.
Output Expand(const std::string& tmpl, const std::string& table = "") {
  WCHTMLTemplate t;
  t.SetTemplate(tmpl.data(), static_cast<uint32_t>(tmpl.size()));
  t.SetXlateTable(table.data(), static_cast<uint32_t>(table.size()));
  return Generate(t);
}

std::vector<std::string> Texts(const LogCapture& log) {
  std::vector<std::string> texts;
  for (const auto& line : log.Lines()) texts.push_back(line.text);
  return texts;
}

TEST(HTMLTemplate, TextWithoutCommandsIsCopiedWithATerminator) {
  WCHTMLTemplate t;
  const std::string text = "<html>plain\n</html>";
  ASSERT_TRUE(t.SetTemplate(text.data(), static_cast<uint32_t>(text.size())));
  Output out = Generate(t);
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(text, out.text);
  EXPECT_EQ(static_cast<int32_t>(text.size() + 1), t.GetOutputSize());
}

TEST(HTMLTemplate, AbsentTemplateProducesNothingButStillParses) {
  WCHTMLTemplate t;
  ASSERT_TRUE(t.SetTemplate(nullptr, 0));
  Output out = Generate(t);
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(0, t.GetOutputSize());
  EXPECT_FALSE(Generate(t, "<broken").ok);
}

TEST(HTMLTemplate, InsertsShortNamesAndCopiesSingleBytesBetweenCommands) {
  Output out = Expand(
      "[<?Kavio insert headline?>]<?Kavio insert distributor?>\n"
      "<?Kavio insert dateline?>|<?Kavio insert series.part?>/"
      "<?Kavio insert series.totalpart?>");
  EXPECT_TRUE(out.ok);
  EXPECT_EQ("[Rates &amp; Markets]Wire Co\n2024-05-01|2/5", out.text);
}

TEST(HTMLTemplate, TrailingBlankMakesAShortNameABadProperty) {
  LogCapture log;
  WCHTMLTemplate t;
  const std::string text = "<?Kavio insert headline ?>";
  EXPECT_FALSE(t.SetTemplate(text.data(), static_cast<uint32_t>(text.size())));
  std::vector<std::string> expected = {
      "WCHTMLTemplate::TmplValNormalize found bad property [headline ] at 1",
      "WCHTMLTemplate::ParsePreprocess found bad property"};
  EXPECT_EQ(expected, Texts(log));
}

TEST(HTMLTemplate, VersionIsCheckedWithItsLine) {
  struct Case {
    const char* text;
    bool ok;
    uint32_t version;
    const char* message;
  };
  const Case cases[] = {
      {"<?Kavio version 1?>", true, 1, nullptr},
      {"<?Kavio version 3?>", false, 2,
       "WCHTMLTemplate::ParsePreprocess unsupported version on line 1, defaulting to version 2"},
      {"\n<?Kavio version -1?>", false, 2,
       "WCHTMLTemplate::ParsePreprocess unsupported version on line 2, defaulting to version 2"},
      {"\n\n<?Kavio version abc?>", false, 2,
       "WCHTMLTemplate::ParsePreprocess bad version on line 3, defaulting to version 2"},
  };
  for (const Case& c : cases) {
    LogCapture log;
    WCHTMLTemplate t;
    EXPECT_EQ(c.ok, t.SetTemplate(c.text, static_cast<uint32_t>(strlen(c.text)))) << c.text;
    EXPECT_EQ(c.version, t.GetVersion()) << c.text;
    if (c.message == nullptr) {
      EXPECT_TRUE(log.Lines().empty()) << c.text;
    } else {
      EXPECT_EQ(0, log.SeverityOf(c.message)) << c.text;
    }
  }
}

TEST(HTMLTemplate, NamespaceErrorsAndUndeclaredPrefixes) {
  LogCapture log;
  WCHTMLTemplate t;
  std::string text = "<?Kavio namespace m?><?Kavio namespace  = u?><?Kavio insert q:x?>";
  EXPECT_FALSE(t.SetTemplate(text.data(), static_cast<uint32_t>(text.size())));
  EXPECT_TRUE(log.Has("WCHTMLTemplate::TmplCmdAddNameSpace found bad name space [m] at 1"));
  EXPECT_TRUE(log.Has("WCHTMLTemplate::TmplCmdAddNameSpace found bad name space [= u] at 2"));
  EXPECT_TRUE(log.Has("WCHTMLTemplate::TmplValNormalize could not find property map for [q]"));
}

TEST(HTMLTemplate, PrefixDeclaredAfterItsUseReadsTheMetadata) {
  Output out = Expand("<?Kavio insert m : headline?>" + kNs);
  EXPECT_TRUE(out.ok);
  EXPECT_EQ("Meta headline", out.text);
}

TEST(HTMLTemplate, PrefixBoundToAnEmptyUriReadsAPlainPath) {
  Output out = Expand(
      "<?Kavio namespace p = \"\"?><?Kavio insert p:\\nitf(0)\\body(0)\\body.head(0)\\byline?>");
  EXPECT_EQ("By AnnBy Bob", out.text);
}

TEST(HTMLTemplate, IfTakesTheBranchThatMatchesTheValue) {
  EXPECT_EQ("yes!", Expand("<?Kavio if headline?>yes<?Kavio else?>no<?Kavio end?>!").text);
  EXPECT_EQ("no!", Expand(kNs + "<?Kavio if m:missing?>yes<?Kavio else?>no<?Kavio end?>!").text);
  EXPECT_EQ("!", Expand(kNs + "<?Kavio if m:missing?>yes<?Kavio end?>!").text);
}

TEST(HTMLTemplate, IfOnAnEmptyElementDependsOnItsTagPassingTheTable) {
  const std::string tmpl = kNs + "<?Kavio if m:empty?>yes<?Kavio else?>no<?Kavio end?>";
  EXPECT_EQ("no", Expand(tmpl).text);
  std::string table = std::string("\"") + owc_test::kMetaNs + ":empty\" \"span\" \"span\" 0 0";
  EXPECT_EQ("yes", Expand(tmpl, table).text);
}

TEST(HTMLTemplate, ForeachBindsEachOccurrenceAndInsertOutsideTakesAll) {
  EXPECT_EQ(
      "[First sub][Second sub]",
      Expand("<?Kavio foreach subheadline?>[<?Kavio insert subheadline?>]<?Kavio end?>").text);
  EXPECT_EQ("First subSecond sub", Expand("<?Kavio insert subheadline?>").text);
  EXPECT_EQ("<Rates &amp; Markets>",
            Expand("<?Kavio foreach headline?><<?Kavio insert headline?>><?Kavio end?>").text);
}

TEST(HTMLTemplate, NestedLoopsFindTheInnermostBindingOfEachReference) {
  Output out = Expand(kNs +
                      "<?Kavio foreach byline?><?Kavio foreach m:keyword?>"
                      "(<?Kavio insert byline?>:<?Kavio insert m:keyword?>)"
                      "<?Kavio end?><?Kavio end?>");
  EXPECT_TRUE(out.ok);
  EXPECT_EQ("(By Ann:alpha)(By Ann:beta)(By Ann:gamma)(By Bob:alpha)(By Bob:beta)(By Bob:gamma)",
            out.text);
}

TEST(HTMLTemplate, LoopCountsOccurrencesWhateverIndexTheReferenceWrites) {
  Output out = Expand(kNs +
                      "<?Kavio foreach m:keyword(3)?>[<?Kavio insert m:keyword(3)?>]<?Kavio end?>"
                      "<?Kavio if m:keyword?><?Kavio end?>");
  EXPECT_EQ("[alpha][beta][gamma]", out.text);
}

TEST(HTMLTemplate, MisplacedEndOrElseStopsTheLevelWithItsLine) {
  LogCapture log;
  Output end = Expand("a<?Kavio end?>b");
  EXPECT_FALSE(end.ok);
  EXPECT_EQ("a", end.text);
  EXPECT_TRUE(log.Has("WCHTMLTemplate::ParseTemplate 'end' unexpected on line 1"));
  Output inLoop = Expand("<?Kavio foreach headline?>\nx<?Kavio else?>\n<?Kavio end?>");
  EXPECT_FALSE(inLoop.ok);
  EXPECT_TRUE(log.Has("WCHTMLTemplate::ParseTemplate 'else' unexpected on line 2"));
}

TEST(HTMLTemplate, UnknownCommandIsSkippedButFailsGeneration) {
  LogCapture log;
  WCHTMLTemplate t;
  const std::string text = "a\n<?Kavio frob x?>b";
  EXPECT_TRUE(t.SetTemplate(text.data(), static_cast<uint32_t>(text.size())));
  EXPECT_TRUE(log.Lines().empty());
  Output out = Generate(t);
  EXPECT_FALSE(out.ok);
  EXPECT_EQ("a\nb", out.text);
  EXPECT_EQ(0, log.SeverityOf("WCHTMLTemplate::ParseTemplate unknown command frob on line 2"));
}

TEST(HTMLTemplate, OpenBlocksAndUnfinishedCommandsEndTheTemplateQuietly) {
  LogCapture log;
  Output open = Expand("<?Kavio if headline?>x<?Kavio foreach byline?>y");
  EXPECT_TRUE(open.ok);
  EXPECT_EQ("xyy", open.text);  // the loop runs once per byline
  EXPECT_EQ("a", Expand("a<?Kavio insert headline").text);
  EXPECT_EQ("a", Expand("a<?Kavio ?>b<?Kavio end?>").text);
  EXPECT_TRUE(log.Lines().empty());
}

TEST(HTMLTemplate, UnresolvedReferenceContributesNothing) {
  LogCapture log;
  Output out = Expand("<?Kavio foreach q:x?>body<?Kavio end?><?Kavio insert q:y?>after");
  EXPECT_FALSE(out.ok);
  EXPECT_EQ("after", out.text);
  EXPECT_TRUE(log.Has("WCHTMLTemplate::TmplValNormalize could not find property map for [q]"));
}

TEST(HTMLTemplate, TranslationDepthCarriesAcrossValuesButNotAcrossGenerations) {
  owc::SetEntityRefOutput(0);  // lets escaped text reach the table as markup
  const std::string xml =
      "<nitf><a>1&lt;media&gt;2</a><b>3&lt;media&gt;5&lt;/media&gt;6</b></nitf>";
  const std::string table = "\"media\" \"div\" \"div\" 1 0";
  const std::string p = "<?Kavio namespace p=\"\"?>";
  WCHTMLTemplate carry;
  std::string text = p + "<?Kavio insert p:\\nitf(0)\\a?>|<?Kavio insert p:\\nitf(0)\\b?>";
  carry.SetTemplate(text.data(), static_cast<uint32_t>(text.size()));
  carry.SetXlateTable(table.data(), static_cast<uint32_t>(table.size()));
  std::string carried = Generate(carry, xml, "").text;
  WCHTMLTemplate again;
  text = p + "<?Kavio insert p:\\nitf(0)\\b?>|<?Kavio insert p:\\nitf(0)\\a?>";
  again.SetTemplate(text.data(), static_cast<uint32_t>(text.size()));
  again.SetXlateTable(table.data(), static_cast<uint32_t>(table.size()));
  std::string first = Generate(again, xml, "").text;
  std::string second = Generate(again, xml, "").text;
  owc::SetEntityRefOutput(owc::kEntityRefEscape);
  EXPECT_EQ("1<div>|3<div>", carried);
  EXPECT_EQ("3<div></div>6|1<div>", first);
  EXPECT_EQ(first, second);
}

TEST(HTMLTemplate, ExtractPropertiesAreListedOnceAndIndexedWithTheirNamespace) {
  WCHTMLTemplate t;
  EXPECT_TRUE(t.AddExtractProp("", "\\nitf(0)\\body(0)"));
  EXPECT_TRUE(t.AddExtractProp("u", "keyword"));
  EXPECT_TRUE(t.AddExtractProp("u", "keyword"));
  EXPECT_FALSE(t.AddExtractProp("u", ""));
  EXPECT_FALSE(t.AddExtractProp(nullptr, "x"));
  EXPECT_EQ(2u, t.GetExtractPropList().GetCount());
  EXPECT_TRUE(t.GetExtractPropList().Find("", "\\nitf(0)\\body(0)"));
  EXPECT_TRUE(t.GetExtractPropList().Find("u", "keyword(-1)"));
  std::unique_ptr<owc::WCXMLParsePath> path(
      t.GetSearchLevel().CreateParsePath("\\u:Resource(0)\\u:keyword(7)"));
  EXPECT_TRUE(t.GetSearchLevel().MatchParsePath(*path));

  const std::string text = "<?Kavio insert headline?>";
  t.SetTemplate(text.data(), static_cast<uint32_t>(text.size()));
  EXPECT_EQ(1u, t.GetExtractPropList().GetCount());  // preprocessing starts a new list
}

TEST(HTMLTemplate, HostileNestingEndsTheExpansionWithoutCrashing) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "<?Kavio if headline?>";
  text += "deep";
  LogCapture log;
  Output out = Expand(text);
  EXPECT_FALSE(out.ok);
  EXPECT_TRUE(log.HasPart("WCHTMLTemplate::ParseTemplate nesting deeper than 256"));
}

TEST(HTMLTemplate, MultiplyingLoopsEndOnceTheExpansionGrowsTooLarge) {
  // Thirty loops over the sample's two bylines would run 2^30 bodies.
  std::string text;
  for (int i = 0; i < 30; ++i) text += "<?Kavio foreach byline?>";
  text += "<?Kavio insert body?>";
  for (int i = 0; i < 30; ++i) text += "<?Kavio end?>";
  LogCapture log;
  Output out = Expand(text);
  EXPECT_FALSE(out.ok);
  EXPECT_TRUE(log.HasPart("WCHTMLTemplate::ParseTemplate expansion too large"));
  EXPECT_LE(out.text.size(), size_t{32} << 20);

  // Three loops stay well inside the bound and expand completely.
  text = "<?Kavio foreach byline?><?Kavio foreach byline?><?Kavio foreach byline?>x"
         "<?Kavio end?><?Kavio end?><?Kavio end?>";
  out = Expand(text);
  EXPECT_TRUE(out.ok);
  EXPECT_EQ(std::string(8, 'x'), out.text);
}

TEST(HTMLTemplate, DocumentThatFailsToParseGivesNoOutput) {
  WCHTMLTemplate t;
  const std::string text = "never";
  t.SetTemplate(text.data(), static_cast<uint32_t>(text.size()));
  Output out = Generate(t, "<nitf><unclosed></nitf>");
  EXPECT_FALSE(out.ok);
  EXPECT_EQ(0, t.GetOutputSize());
  EXPECT_FALSE(t.Generate(nullptr));
}

}  // namespace
