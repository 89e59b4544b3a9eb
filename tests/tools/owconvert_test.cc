// owconvert, the built program, over the shipped examples: it links no part of the library,
// so it sees the tool exactly as a user does.
#include <gtest/gtest.h>

#include "tools/tool_runner.h"

namespace owc_test {
namespace {

const std::string kSeries = "\\nitf(0)\\body(0)\\body.head(0)\\series(0)";

class OwconvertTest : public ::testing::Test {
 protected:
  RunResult Run(const std::vector<std::string>& args) {
    return RunTool(OWCONVERT_BIN, args, dir_.Path());
  }
  RunResult Convert(std::vector<std::string> args) {  // with the example template and table
    args.insert(args.begin(), {"-t", kTemplate, "-x", kTable});
    return Run(args);
  }
  std::string Copy(const std::string& story, const std::string& to_dir) {
    std::filesystem::create_directories(to_dir);
    std::filesystem::copy_file(ExampleStory(story), to_dir + "/" + story + ".xml");
    return to_dir + "/" + story + ".xml";
  }

  TempDir dir_;
};

TEST_F(OwconvertTest, SingleStoryGoesToStdoutOrAFileWithTheRdfBesideItOrTheOneNamed) {
  const std::string file = dir_.File("page.html");
  RunResult to_file = Convert({ExampleStory("harbour-bridge"), "-o", file});
  RunResult to_stdout = Convert({ExampleStory("harbour-bridge")});
  ASSERT_EQ(to_file.status, 0) << to_file.err;
  EXPECT_EQ(to_file.out + to_stdout.err, "");
  const std::string page = TempDir::Read(file);
  EXPECT_EQ(page, to_stdout.out);
  EXPECT_EQ(page.substr(page.size() - 8), "</html>\n") << "no NUL byte may trail the page";
  EXPECT_TRUE(Contains(page, "<h1>Sønderhavn harbour bridge reopens after two-year rebuild</h1>"));
  EXPECT_TRUE(Contains(page, "<li>infrastructure</li>")) << "metadata of harbour-bridge.rdf";

  RunResult alone = Convert({Copy("harbour-bridge", dir_.File("alone"))});
  EXPECT_EQ(alone.status, 0) << alone.err;
  EXPECT_TRUE(Contains(alone.out, "data-story-id=\"\""));
  RunResult named =
      Convert({ExampleStory("harbour-bridge"), ExamplePath("stories/chess-final.rdf")});
  EXPECT_TRUE(Contains(named.out, "<li>chess</li>"));
  EXPECT_FALSE(Contains(named.out + alone.out, "infrastructure"));
}

TEST_F(OwconvertTest, BatchWithOneAndTwoWorkersWritesThePagesOfSingleRuns) {
  const std::string one = dir_.File("one"), two = dir_.File("nested/two");  // parent created
  RunResult r1 = Convert({"--batch", "-d", one, "-j", "1", ExamplePath("stories")});
  RunResult r2 = Convert({"--batch", "-d", two, "-j", "2", ExamplePath("stories")});
  ASSERT_EQ(r1.status + r2.status, 0) << r1.err << r2.err;
  EXPECT_EQ(r1.err + r2.err, "") << "no failure line from owconvert or the library";
  EXPECT_TRUE(Contains(r1.out, "converted 14, failed 0, skipped 1 in ")) << r1.out;
  EXPECT_TRUE(Contains(r2.out, "(2 threads)")) << r2.out;
  std::vector<std::string> pages;
  for (const std::string& s : kStories) pages.push_back(s + ".htm");
  ASSERT_EQ(EntriesIn(one), pages) << "one page per story, nothing for notice.txt";
  ASSERT_EQ(EntriesIn(two), pages);
  for (const std::string& story : kStories) {
    SCOPED_TRACE(story);
    const std::string page = TempDir::Read(one + "/" + story + ".htm");
    EXPECT_EQ(page, TempDir::Read(two + "/" + story + ".htm"));
    EXPECT_EQ(page, Convert({ExampleStory(story)}).out);
    EXPECT_TRUE(Contains(page, "<h1>" + SourceHeadline(story) + "</h1>"));
    EXPECT_FALSE(Contains(page, "<person>")) << "NITF markup is translated";
    for (const char* hostile : {" onclick=", " onload=", " style=", "<script", "javascript:",
                                "vbscript:", "data:text"}) {
      EXPECT_FALSE(Contains(page, hostile)) << hostile;
    }
  }
}

TEST_F(OwconvertTest, StoryThatCannotBeReadOrParsedFailsAloneWithItsReason) {
  const std::string missing = dir_.File("missing.xml");
  RunResult single = Convert({missing, "-o", dir_.File("page.html")});
  EXPECT_EQ(single.status, 1);
  EXPECT_TRUE(Contains(single.err, missing + ": No such file or directory")) << single.err;
  EXPECT_FALSE(std::filesystem::exists(dir_.File("page.html")));

  // A story is taken once however it is named; a second story for the same page is a clash.
  const std::string in = dir_.File("in");
  Copy("chess-final", in);
  Copy("weather-brief", in);
  TempDir::Write(in + "/broken.xml", "<nitf><body><body.head></body></nitf>\n");
  RunResult r =
      Convert({"--batch", "-j", "2", "-d", dir_.File("out"), in, in + "/../in/chess-final.xml",
               ExampleStory("weather-brief"), missing, ExamplePath("stories/notice.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "converted 2, failed 3, skipped 1")) << r.out;
  EXPECT_TRUE(Contains(r.err, "failed: " + in + "/broken.xml")) << r.err;
  EXPECT_TRUE(Contains(r.err, "XML parse error")) << "the library's reason is shown";
  EXPECT_TRUE(Contains(r.err, "weather-brief.htm is already written for " + in)) << r.err;
  EXPECT_TRUE(Contains(r.err, missing + ": No such file or directory")) << r.err;
  EXPECT_EQ(EntriesIn(dir_.File("out")),
            (std::vector<std::string>{"chess-final.htm", "weather-brief.htm"}));
}

TEST_F(OwconvertTest, UsageMistakesAndTemplatesOrTablesThatDoNotLoadStopWithStatusTwo) {
  const std::string story = ExampleStory("river-ice"), none = dir_.File("none");
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {story},                                       // no template
           {"-t", kTemplate, "--batch", story},           // batch without -d
           {"-t", kTemplate, "-j", "2", story},           // -j without --batch
           {"--field", "headline:1", story},              // one value, no index
           {"--attr", "x", story},                        // --attr needs --property
           {"-t", none, story, "-o", dir_.File("p")}}) {  // cannot be read
    RunResult r = Run(args);
    EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
    EXPECT_EQ(r.err.rfind("owconvert: ", 0), 0u) << r.err;
  }

  const std::string bad = dir_.File("bad.tmpl");
  TempDir::Write(bad, "<?Kavio version 3?><h1><?Kavio insert headline?></h1>");
  RunResult batch = Run({"-t", bad, "--batch", "-d", dir_.File("out"), ExamplePath("stories")});
  EXPECT_EQ(batch.status, 2);
  EXPECT_TRUE(Contains(batch.err, bad + ": the template does not load")) << batch.err;
  EXPECT_TRUE(Contains(batch.err, "unsupported version on line 1")) << "the library's reason";
  EXPECT_TRUE(EntriesIn(dir_.File("out")).empty());

  const std::string table = dir_.File("bad.xlate");
  TempDir::Write(table, "\"p\" \"p\" \"p\" 0 0\n\"em\" \"em\" \"em\" 1 x\n");
  RunResult quiet = Run({"-t", kTemplate, "-x", table, story});
  EXPECT_EQ(quiet.status, 2);
  EXPECT_TRUE(Contains(quiet.err, table + ": the translation table does not load")) << quiet.err;
  EXPECT_TRUE(Contains(quiet.err, "SetXlateTable parse error")) << "failures are always shown";
  EXPECT_FALSE(Contains(quiet.err, "sscanf != 2")) << "progress-level lines only with -v";
  EXPECT_TRUE(Contains(Run({"-t", kTemplate, "-x", table, story, "-v"}).err, "sscanf != 2"));
}

// --strict reads the stories as described: the namespaced ones convert to pages without a
// field and are warned of, the Latin-1 and windows-1252 ones fail on their bytes.
TEST_F(OwconvertTest, StrictReadsStoriesAsDescribedAndWarnsOfThoseThatComeOutEmpty) {
  RunResult r = Convert({"--strict", "--batch", "-d", dir_.File("out"), ExamplePath("stories")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "converted 12, failed 2, skipped 1 in ")) << r.out;
  EXPECT_TRUE(Contains(r.out, "(1 thread), 2 with warnings\n")) << r.out;
  for (const char* story : {"ferry-timetable", "glacier-survey"}) {
    EXPECT_TRUE(Contains(r.err, "owconvert: warning: " + ExampleStory(story) +
                                    ": its root element is in the namespace http://iptc.org/std/"))
        << r.err;
    EXPECT_TRUE(Contains(TempDir::Read(dir_.File("out/") + story + ".htm"), "<h1>"))
        << "the page is written all the same";
  }
  EXPECT_TRUE(Contains(r.err, "which is not read as NITF: no field is found (try without --strict)"));
  for (const char* story : {"alpine-choir", "market-prices"}) {
    EXPECT_TRUE(Contains(r.err, "owconvert: failed: " + ExampleStory(story))) << r.err;
  }
  EXPECT_TRUE(Contains(r.err, "XML parse error: [not well-formed (invalid token)] at line 10"));
  EXPECT_EQ(Convert({"--strict", ExampleStory("opera-premiere")}).status, 0);
  EXPECT_TRUE(Contains(Convert({"--strict", ExampleStory("opera-premiere")}).out,
                       "<p class=\"subhead\">Caf scene draws the longest applause</p>"));
  EXPECT_TRUE(Contains(Convert({ExampleStory("opera-premiere")}).out,
                       "<p class=\"subhead\">Café scene draws the longest applause</p>"));
}

// A story in a namespace that is not NITF's, and a document that is not NITF at all, each
// give their page, a warning and status 1; the reading options do not matter.
TEST_F(OwconvertTest, StoriesWithoutAnyStandardFieldAreWarnedOfAndEndWithStatusOne) {
  const std::string foreign = dir_.File("foreign.xml"), rss = dir_.File("rss.xml");
  TempDir::Write(foreign, "<nitf xmlns='urn:example:news'><body><body.head><hedline><hl1>H</hl1>"
                          "</hedline></body.head></body></nitf>");
  TempDir::Write(rss, "<rss><channel><title>Feed</title></channel></rss>");
  for (const char* strict : {"", "--strict"}) {
    std::vector<std::string> args = {foreign, "-o", dir_.File("f.html")};
    if (*strict != '\0') args.push_back(strict);
    RunResult f = Convert(args);
    EXPECT_EQ(f.status, 1);
    EXPECT_TRUE(Contains(f.err, "owconvert: warning: " + foreign +
                                    ": its root element is in the namespace urn:example:news, "
                                    "which is not read as NITF"))
        << f.err;
    EXPECT_TRUE(Contains(TempDir::Read(dir_.File("f.html")), "<h1>Untitled story</h1>"));
    args[0] = rss;
    RunResult n = Convert(args);
    EXPECT_EQ(n.status, 1);
    EXPECT_TRUE(Contains(n.err, "owconvert: warning: " + rss +
                                    ": no standard field (headline, byline, dateline, body, ...) "
                                    "was found"))
        << n.err;
  }
  RunResult good = Convert({ExampleStory("weather-brief")});
  EXPECT_EQ(good.status, 0);
  EXPECT_EQ(good.err, "");
}

// One value a line, inner markup kept, characters as the story has them; 1 when none.
TEST_F(OwconvertTest, FieldAndPropertyPrintEveryValueOrEndWithStatusOne) {
  const std::string location = "\\nitf(0)\\body(0)\\body.head(0)\\dateline(0)\\location(0)";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--field", "subheadline", "harbour-bridge"},
       "Lifting span carries traffic again from Thursday morning\n"
       "Ferry timetable returns to its winter pattern\n"},
      {{"--field", "byline:0", "harbour-bridge"},
       "By <person>Amara Lindqvist</person>, <byttl>Transport Correspondent</byttl>\n"},
      {{"--property", "keyword", "harbour-bridge"}, "infrastructure\ntransport\nSønderhavn\n"},
      {{"--property", "keyword(2)", "council-budget"}, "roads &amp; libraries\n"},
      {{"--property", kSeries, "--ns", "", "--attr", "series.part", "harbour-bridge"}, "2\n"},
      // The template names the dateline's location, so it is captured too.
      {{"-t", kTemplate, "--property", location, "--ns", "", "river-ice"}, "ЗАРЕЧЬЕ\n"},
      {{"--field", "byline", "weather-brief"}, ""},
      {{"--field", "byline:2", "harbour-bridge"}, ""},  // past the last
      {{"--property", "keyword", "--ns", "urn:x", "harbour-bridge"}, ""},
      {{"--property", kSeries, "--ns", "", "--attr", "Series.Part", "harbour-bridge"}, ""},
  };
  for (auto [args, expected] : cases) {
    SCOPED_TRACE(args[args.size() - 2] + " " + args.back());
    args.back() = ExampleStory(args.back());
    RunResult r = Run(args);
    EXPECT_EQ(r.status, expected.empty() ? 1 : 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_TRUE(!expected.empty() || args[0] != "--field" || Contains(r.err, "no value for"));
  }
  // The body field is its complete path; --tags adds the element itself.
  const std::string path = "\\nitf(0)\\body(0)\\body.content(0)", story = ExampleStory("river-ice");
  const std::string body = Run({"--field", "body", story}).out;
  EXPECT_TRUE(Contains(body, "<p>")) << body;
  EXPECT_EQ(Run({"--property", path, "--ns", "", story}).out, body);
  EXPECT_EQ(Run({"--property", path, "--ns", "", "--tags", story}).out,
            "<body.content>" + body.substr(0, body.size() - 1) + "</body.content>\n");
}

}  // namespace
}  // namespace owc_test
