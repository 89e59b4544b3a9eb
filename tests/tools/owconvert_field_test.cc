// owconvert's field form: single fields and captured properties of the example stories.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/owconvert_runner.h"

namespace owc_test {
namespace {

struct FieldCase {
  const char* story;
  std::vector<std::string> args;
  std::string expected;  // standard output
};

class OwconvertFieldTest : public ::testing::Test {
 protected:
  RunResult Field(const std::string& story, std::vector<std::string> args) {
    args.push_back(ExampleStory(story));
    return RunOwconvert(args, dir_.Path());
  }
  void ExpectAll(const std::vector<FieldCase>& cases) {
    for (const FieldCase& c : cases) {
      RunResult r = Field(c.story, c.args);
      EXPECT_EQ(r.status, 0) << c.story << " " << c.args[1] << ": " << r.err;
      EXPECT_EQ(r.out, c.expected) << c.story << " " << c.args[1];
    }
  }

  TempDir dir_;
};

TEST_F(OwconvertFieldTest, StandardFieldsReadTheirElementsWithInnerMarkup) {
  ExpectAll({
      {"harbour-bridge",
       {"--field", "headline"},
       "Sønderhavn harbour bridge reopens after two-year rebuild\n"},
      {"harbour-bridge",
       {"--field", "subheadline:1"},
       "Ferry timetable returns to its winter pattern\n"},
      {"harbour-bridge",
       {"--field", "subheadline"},
       "Lifting span carries traffic again from Thursday morning\n"
       "Ferry timetable returns to its winter pattern\n"},
      {"harbour-bridge",
       {"--field", "byline:0"},
       "By <person>Amara Lindqvist</person>, <byttl>Transport Correspondent</byttl>\n"},
      {"harbour-bridge",
       {"--field", "byline:1"},
       "With reporting by <person>José Ibáñez</person>\n"},
      {"harbour-bridge", {"--field", "distributor"}, "Kestrel Press Agency\n"},
      {"harbour-bridge", {"--field", "dateline"}, "12 March 2025\n"},
      {"harbour-bridge", {"--field", "series.name"}, "Rebuilding the Coast\n"},
      {"harbour-bridge", {"--field", "series.part"}, "2\n"},
      {"harbour-bridge", {"--field", "series.totalpart"}, "3\n"},
      {"council-budget",
       {"--field", "byline:2"},
       "Additional reporting by <person>Léa Moreau</person>\n"},
  });
}

TEST_F(OwconvertFieldTest, TextKeepsMarkupCharactersEscapedAndNonAsciiAsUtf8) {
  ExpectAll({
      {"council-budget",
       {"--field", "headline"},
       "Council passes budget after all-night session on libraries &amp; roads\n"},
      {"council-budget",
       {"--field", "subheadline:0"},
       "Spending rises by 3.2\u00a0% to \u20ac48.6 million\n"},  // from &#160; and &#8364;
      {"council-budget",
       {"--field", "subheadline:1"},
       "Opposition calls the road plan &quot;wishful thinking&quot;\n"},
      {"council-budget", {"--field", "byline:0"}, "By <person>Hannah O'Connell</person>\n"},
      {"chess-final",
       {"--field", "subheadline"},
       "Ελένη Καραγιάννη, 16, wins with the black pieces\n"},
      {"river-ice", {"--field", "subheadline:0"}, "Ледоход на реке начался только 2 мая\n"},
      {"tea-harvest",
       {"--field", "byline"},
       "By <person>Mei Arakawa</person> in 霧島 (Kirishima)\n"},
      {"robot-marathon",
       {"--field", "subheadline:1"},
       "Organisers consider a separate class for machines next year 🤖\n"},
  });
}

TEST_F(OwconvertFieldTest, BodyIsTheSameAsItsCompletePathAndTagsAddTheElementItself) {
  RunResult body = Field("weather-brief", {"--field", "body"});
  const std::string path = "\\nitf(0)\\body(0)\\body.content(0)";
  RunResult by_path = Field("weather-brief", {"--property", path, "--ns", ""});
  RunResult tagged = Field("weather-brief", {"--property", path, "--ns", "", "--tags"});
  ASSERT_EQ(body.status, 0) << body.err;
  EXPECT_NE(body.out.find("<p>The weather service warned of gusts"), std::string::npos);
  EXPECT_EQ(body.out.find("body.content"), std::string::npos);
  EXPECT_EQ(by_path.out, body.out);
  EXPECT_EQ(tagged.out,
            "<body.content>" + body.out.substr(0, body.out.size() - 1) + "</body.content>\n");
}

TEST_F(OwconvertFieldTest, MetadataPropertiesComeFromTheDefaultNamespace) {
  ExpectAll({
      {"harbour-bridge", {"--property", "keyword"}, "infrastructure\ntransport\nSønderhavn\n"},
      {"harbour-bridge", {"--property", "keyword(1)"}, "transport\n"},
      {"harbour-bridge", {"--property", "headline(0)"}, "Harbour bridge reopens\n"},
      {"council-budget", {"--property", "keyword(2)"}, "roads &amp; libraries\n"},
      {"harbour-bridge",
       {"--property", "storyid", "--ns", "http://www.veltrane.com/namespaces/meta#"},
       "KPA-2025-0312-0041\n"},
  });
  RunResult other_ns = Field("harbour-bridge", {"--property", "headline(0)", "--ns", "urn:x"});
  EXPECT_EQ(other_ns.status, 1);
  EXPECT_EQ(other_ns.out, "");
}

TEST_F(OwconvertFieldTest, AttributesAreReadByExactName) {
  const std::string series = "\\nitf(0)\\body(0)\\body.head(0)\\series(0)";
  ExpectAll({
      {"harbour-bridge", {"--property", series, "--ns", "", "--attr", "series.part"}, "2\n"},
      {"tea-harvest",
       {"--property", series, "--ns", "", "--attr", "series.name"},
       "Fields of the Year\n"},
  });
  RunResult wrong_case =
      Field("harbour-bridge", {"--property", series, "--ns", "", "--attr", "Series.Part"});
  EXPECT_EQ(wrong_case.status, 1);
}

TEST_F(OwconvertFieldTest, AFieldWithoutValueEndsWithStatusOne) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"--field", "byline"}, {"--field", "series.name"}, {"--field", "subheadline:0"}}) {
    RunResult r = Field("weather-brief", args);
    EXPECT_EQ(r.status, 1) << args[1];
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("no value for --field " + args[1]), std::string::npos) << r.err;
  }
  RunResult past_end = Field("harbour-bridge", {"--field", "byline:2"});
  EXPECT_EQ(past_end.status, 1);
}

TEST_F(OwconvertFieldTest, ATemplateMayBeGivenAndItsReferencesAreCapturedToo) {
  RunResult with_template = Field("river-ice", {"-t", ExampleTemplate(), "--field", "headline"});
  EXPECT_EQ(with_template.status, 0) << with_template.err;
  EXPECT_EQ(with_template.out,
            "Research station records the latest river ice break-up in forty years\n");
  // The template names the dateline's location; the field form reads it back.
  RunResult location = Field(
      "river-ice", {"-t", ExampleTemplate(), "--property",
                    "\\nitf(0)\\body(0)\\body.head(0)\\dateline(0)\\location(0)", "--ns", ""});
  EXPECT_EQ(location.out, "ЗАРЕЧЬЕ\n");
  RunResult missing = Field("river-ice", {"--field", "headline", "-t", dir_.File("none")});
  EXPECT_EQ(missing.status, 2);
}

}  // namespace
}  // namespace owc_test
