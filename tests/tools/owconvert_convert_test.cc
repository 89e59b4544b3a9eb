// owconvert's conversion forms, run as a program over the shipped examples.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"
#include "tools/owconvert_runner.h"

namespace owc_test {
namespace {

const std::vector<std::string> kStories = {"chess-final",  "council-budget", "harbour-bridge",
                                           "river-ice",    "robot-marathon", "tea-harvest",
                                           "weather-brief"};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The headline as written in the story file, read without the library.
std::string SourceHeadline(const std::string& story) {
  const std::string xml = TempDir::Read(ExampleStory(story));
  const size_t start = xml.find("<hl1>");
  const size_t end = xml.find("</hl1>");
  if (start == std::string::npos || end == std::string::npos || end < start) return "";
  return xml.substr(start + 5, end - start - 5);
}

class OwconvertConvertTest : public ::testing::Test {
 protected:
  RunResult Run(const std::vector<std::string>& args) { return RunOwconvert(args, dir_.Path()); }
  std::vector<std::string> Convert(std::vector<std::string> args) {
    std::vector<std::string> all = {"-t", ExampleTemplate(), "-x", ExampleTable()};
    all.insert(all.end(), args.begin(), args.end());
    return all;
  }
  std::string Copy(const std::string& story, const std::string& to_dir) {
    std::filesystem::create_directories(to_dir);
    const std::string to = to_dir + "/" + story + ".xml";
    std::filesystem::copy_file(ExampleStory(story), to);
    return to;
  }

  TempDir dir_;
};

TEST_F(OwconvertConvertTest, SingleStoryWritesTheSamePageToStandardOutputAndToAFile) {
  const std::string file = dir_.File("page.html");
  RunResult to_file = Run(Convert({ExampleStory("harbour-bridge"), "-o", file}));
  RunResult to_stdout = Run(Convert({ExampleStory("harbour-bridge")}));
  ASSERT_EQ(to_file.status, 0) << to_file.err;
  ASSERT_EQ(to_stdout.status, 0) << to_stdout.err;
  EXPECT_EQ(to_file.out, "");
  EXPECT_EQ(to_stdout.err, "");
  const std::string page = TempDir::Read(file);
  EXPECT_EQ(page, to_stdout.out);
  EXPECT_EQ(page.rfind("<!DOCTYPE html>\n", 0), 0u);
  EXPECT_EQ(page.substr(page.size() - 8), "</html>\n") << "no NUL byte may trail the page";
  EXPECT_TRUE(Contains(page, "<h1>Sønderhavn harbour bridge reopens after two-year rebuild</h1>"));
  EXPECT_TRUE(Contains(page, "<li>infrastructure</li>")) << "metadata of harbour-bridge.rdf";
}

TEST_F(OwconvertConvertTest, MetadataComesFromTheNamedOrElseTheNeighbouringRdf) {
  const std::string alone = Copy("harbour-bridge", dir_.File("alone"));
  RunResult without = Run(Convert({alone}));
  RunResult named =
      Run(Convert({ExampleStory("harbour-bridge"), ExamplePath("stories/chess-final.rdf")}));
  ASSERT_EQ(without.status, 0) << without.err;
  ASSERT_EQ(named.status, 0) << named.err;
  EXPECT_TRUE(Contains(without.out, "<h1>Sønderhavn harbour bridge"));
  EXPECT_TRUE(Contains(without.out, "data-story-id=\"\""));
  EXPECT_FALSE(Contains(without.out, "infrastructure"));
  EXPECT_TRUE(Contains(named.out, "<li>chess</li>"));
  EXPECT_FALSE(Contains(named.out, "infrastructure"));
}

TEST_F(OwconvertConvertTest, BatchWithOneAndTwoWorkersWritesPagesIdenticalToSingleRuns) {
  const std::string one = dir_.File("one");
  const std::string two = dir_.File("nested/two");  // created with its parent
  RunResult r1 = Run(Convert({"--batch", "-d", one, "-j", "1", ExamplePath("stories")}));
  RunResult r2 = Run(Convert({"--batch", "-d", two, "-j", "2", ExamplePath("stories")}));
  ASSERT_EQ(r1.status, 0) << r1.err;
  ASSERT_EQ(r2.status, 0) << r2.err;
  EXPECT_TRUE(Contains(r1.out, "converted 7, failed 0, skipped 1 in ")) << r1.out;
  EXPECT_TRUE(Contains(r2.out, "(2 threads)")) << r2.out;
  std::vector<std::string> pages;
  for (const std::string& s : kStories) pages.push_back(s + ".htm");
  ASSERT_EQ(FilesIn(one), pages) << "one page per story, nothing for notice.txt";
  ASSERT_EQ(FilesIn(two), pages);
  for (const std::string& story : kStories) {
    const std::string page = TempDir::Read(one + "/" + story + ".htm");
    EXPECT_EQ(page, TempDir::Read(two + "/" + story + ".htm")) << story;
    EXPECT_EQ(page, Run(Convert({ExampleStory(story)})).out) << story;
  }
}

TEST_F(OwconvertConvertTest, EveryExampleStoryRendersWithoutAFailureLineAndShowsItsHeadline) {
  const std::string out = dir_.File("out");
  RunResult r = Run(Convert({"--batch", "-d", out, ExamplePath("stories")}));
  ASSERT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "") << "no failure line from owconvert or the library";
  for (const std::string& story : kStories) {
    const std::string page = TempDir::Read(out + "/" + story + ".htm");
    const std::string headline = SourceHeadline(story);
    ASSERT_FALSE(headline.empty()) << story;
    EXPECT_TRUE(Contains(page, "<title>" + headline + "</title>")) << story;
    EXPECT_TRUE(Contains(page, "<h1>" + headline + "</h1>")) << story;
    EXPECT_FALSE(Contains(page, "<?Kavio")) << story;
    EXPECT_FALSE(Contains(page, "Editors:")) << story << ": notes to editors are dropped";
    EXPECT_FALSE(Contains(page, "<person>")) << story << ": NITF markup is translated";
  }
}

TEST_F(OwconvertConvertTest, MissingStoryFileFailsWithItsNameAndReason) {
  const std::string missing = dir_.File("missing.xml");
  RunResult r = Run(Convert({missing, "-o", dir_.File("page.html")}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.err, missing + ": No such file or directory")) << r.err;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("page.html")));
}

TEST_F(OwconvertConvertTest, TemplateThatCannotBeReadOrLoadedStopsWithStatusTwo) {
  RunResult unreadable =
      Run({"-t", dir_.File("none.tmpl"), ExampleStory("weather-brief"), "-o", dir_.File("p")});
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_TRUE(Contains(unreadable.err, dir_.File("none.tmpl"))) << unreadable.err;

  const std::string bad = dir_.File("bad.tmpl");
  TempDir::Write(bad, "<?Kavio version 3?><h1><?Kavio insert headline?></h1>");
  RunResult batch = Run({"-t", bad, "--batch", "-d", dir_.File("out"), ExamplePath("stories")});
  EXPECT_EQ(batch.status, 2);
  EXPECT_TRUE(Contains(batch.err, bad + ": the template does not load")) << batch.err;
  EXPECT_TRUE(Contains(batch.err, "unsupported version on line 1")) << "the library's reason";
  EXPECT_TRUE(FilesIn(dir_.File("out")).empty());
}

TEST_F(OwconvertConvertTest, BadTranslationTableIsNamedAndVerboseShowsTheDetail) {
  const std::string table = dir_.File("bad.xlate");
  TempDir::Write(table, "\"p\" \"p\" \"p\" 0 0\n\"em\" \"em\" \"em\" 1 x\n");
  const std::vector<std::string> args = {"-t", ExampleTemplate(), "-x", table,
                                         ExampleStory("weather-brief")};
  RunResult quiet = Run(args);
  std::vector<std::string> verbose_args = args;
  verbose_args.push_back("-v");
  RunResult verbose = Run(verbose_args);
  EXPECT_EQ(quiet.status, 2);
  EXPECT_EQ(quiet.out, "");
  EXPECT_TRUE(Contains(quiet.err, table + ": the translation table does not load")) << quiet.err;
  EXPECT_TRUE(Contains(quiet.err, "SetXlateTable parse error")) << "failures are always shown";
  EXPECT_FALSE(Contains(quiet.err, "sscanf != 2")) << "progress-level lines only with -v";
  EXPECT_EQ(verbose.status, 2);
  EXPECT_TRUE(Contains(verbose.err, "sscanf != 2")) << verbose.err;
}

TEST_F(OwconvertConvertTest, MalformedStoryInABatchFailsAloneWhileTheOthersConvert) {
  const std::string in = dir_.File("in");
  Copy("chess-final", in);
  Copy("weather-brief", in);
  TempDir::Write(in + "/broken.xml", "<nitf><body><body.head></body></nitf>\n");
  const std::string out = dir_.File("out");
  RunResult r = Run(Convert({"--batch", "-j", "2", "-d", out, in}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "converted 2, failed 1, skipped 0")) << r.out;
  EXPECT_TRUE(Contains(r.err, "failed: " + in + "/broken.xml")) << r.err;
  EXPECT_TRUE(Contains(r.err, "XML parse error")) << "the library's reason is shown";
  EXPECT_EQ(FilesIn(out), (std::vector<std::string>{"chess-final.htm", "weather-brief.htm"}));
}

TEST_F(OwconvertConvertTest, BatchTakesAStoryOnceAndCountsMissingInputsAndClashesAsFailures) {
  const std::string copy = Copy("weather-brief", dir_.File("elsewhere"));
  const std::string missing = dir_.File("missing.xml");
  const std::string out = dir_.File("out");
  RunResult r = Run(Convert({"--batch", "-d", out, ExampleStory("weather-brief"),
                             ExamplePath("stories/../stories/weather-brief.xml"), copy, missing,
                             ExamplePath("stories/notice.txt")}));
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "converted 1, failed 2, skipped 1")) << r.out;
  EXPECT_TRUE(Contains(r.err, "weather-brief.htm is already written for")) << r.err;
  EXPECT_TRUE(Contains(r.err, missing + ": No such file or directory")) << r.err;
  EXPECT_EQ(FilesIn(out), std::vector<std::string>{"weather-brief.htm"});
}

TEST_F(OwconvertConvertTest, CommandLineMistakesEndWithUsageStatus) {
  const std::string story = ExampleStory("weather-brief");
  const std::vector<std::vector<std::string>> mistakes = {
      {story},                                      // no template
      {"-t", ExampleTemplate(), "--batch", story},  // batch without -d
      {"-t", ExampleTemplate(), "--frobnicate", story},
      {"-t", ExampleTemplate(), "--batch", "-d", dir_.File("o"), "-j", "two", story},
      {"-t", ExampleTemplate(), "-j", "2", story},     // -j without --batch
      {"-t", ExampleTemplate(), story, story, story},  // three inputs
      {"-t", ExampleTemplate(), "--batch", "-d", dir_.File("o"), "-o", "x", story},
      {"--field", "nosuch", story},
      {"--field", "headline:1", story},  // a single field takes no index
      {"--field", "byline", "--property", "keyword", story},
      {"--attr", "x", story},  // --attr needs --property
      {"-t"},
  };
  for (const auto& args : mistakes) {
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << args.back() << " / " << args.size() << " args";
    EXPECT_EQ(r.err.rfind("owconvert: ", 0), 0u) << r.err;
  }
  RunResult help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* option : {"--template", "--xlate", "--output", "--batch", "--outdir", "--jobs",
                             "--field", "--property", "--ns", "--attr", "--verbose", "--version"}) {
    EXPECT_TRUE(Contains(help.out, option)) << option;
  }
  RunResult version = Run({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("owconvert ", 0), 0u) << version.out;
}

}  // namespace
}  // namespace owc_test
