// SPDX-License-Identifier: MIT
// owconvert, the built program, over the shipped examples: it links no part of the library,
// so it sees the tool exactly as a user does.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include "support/tool_runner.h"

namespace owc_test {
namespace {

const std::string kSeries = "\\nitf(0)\\body(0)\\body.head(0)\\series(0)";

class OwconvertTest : public ::testing::Test {
 protected:
  RunResult Run(const std::vector<std::string>& args) {
    return RunTool(OWCONVERT_BIN, args, mDir.Path());
  }
  RunResult Convert(std::vector<std::string> args) {  // with the example template and table
    args.insert(args.begin(), {"-t", kTemplate, "-x", kTable});
    return Run(args);
  }
  std::string Copy(const std::string& story, const std::string& toDir) {
    std::filesystem::create_directories(toDir);
    std::filesystem::copy_file(ExampleStory(story), toDir + "/" + story + ".xml");
    return toDir + "/" + story + ".xml";
  }

  TempDir mDir;
};

TEST_F(OwconvertTest, SingleStoryGoesToStdoutOrAFileWithTheRdfBesideItOrTheOneNamed) {
  const std::string file = mDir.File("page.html");
  RunResult toFile = Convert({ExampleStory("harbour-bridge"), "-o", file});
  RunResult toStdout = Convert({ExampleStory("harbour-bridge")});
  ASSERT_EQ(toFile.status, 0) << toFile.err;
  EXPECT_EQ(toFile.out + toStdout.err, "");
  const std::string page = TempDir::Read(file);
  EXPECT_EQ(page, toStdout.out);
  EXPECT_EQ(page.substr(page.size() - 8), "</html>\n") << "no NUL byte may trail the page";
  EXPECT_TRUE(Contains(page, "<h1>Sønderhavn harbour bridge reopens after two-year rebuild</h1>"));
  EXPECT_TRUE(Contains(page, "<li>infrastructure</li>")) << "metadata of harbour-bridge.rdf";

  RunResult alone = Convert({Copy("harbour-bridge", mDir.File("alone"))});
  EXPECT_EQ(alone.status, 0) << alone.err;
  EXPECT_TRUE(Contains(alone.out, "data-story-id=\"\""));
  RunResult named =
      Convert({ExampleStory("harbour-bridge"), ExamplePath("stories/chess-final.rdf")});
  EXPECT_TRUE(Contains(named.out, "<li>chess</li>"));
  EXPECT_FALSE(Contains(named.out + alone.out, "infrastructure"));
}

// The one-worker batch runs on a terminal, where it shows how far it is and clears its line.
TEST_F(OwconvertTest, BatchWithOneAndTwoWorkersWritesThePagesOfSingleRunsAndShowsItsProgress) {
  const std::string one = mDir.File("one"), two = mDir.File("nested/two");  // parent created
  int terminal = -1;
  const pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    execl(OWCONVERT_BIN, OWCONVERT_BIN, "-t", kTemplate.c_str(), "-x", kTable.c_str(), "--batch",
          "-d", one.c_str(), ExamplePath("stories").c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  std::string screen;
  char chunk[4096];
  for (ssize_t n; (n = read(terminal, chunk, sizeof chunk)) > 0;) screen.append(chunk, n);
  close(terminal);  // read ends with EIO once the child has gone
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_EQ(WEXITSTATUS(status), 0) << screen;
  EXPECT_TRUE(Contains(screen, "owconvert: 14 of 14 stories, ")) << screen;
  EXPECT_TRUE(Contains(screen, " left\r\033[K")) << "the line is cleared at the end";
  EXPECT_TRUE(Contains(screen, "owconvert: converted 14, failed 0, skipped 1 in ")) << screen;
  EXPECT_FALSE(Contains(screen, "failed:") || Contains(screen, "owclient")) << screen;
  RunResult r2 = Convert({"--batch", "-d", two, "-j", "2", ExamplePath("stories")});
  ASSERT_EQ(r2.status, 0) << r2.err;
  EXPECT_EQ(r2.err, "") << "no progress in a pipe, no failure line from owconvert or the library";
  EXPECT_TRUE(Contains(r2.out, "converted 14, failed 0, skipped 1 in ")) << r2.out;
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
  }
}

TEST_F(OwconvertTest, StoryThatCannotBeReadOrParsedFailsAloneWithItsReason) {
  const std::string missing = mDir.File("missing.xml");
  RunResult single = Convert({missing, "-o", mDir.File("page.html")});
  EXPECT_EQ(single.status, 1);
  EXPECT_TRUE(Contains(single.err, missing + ": No such file or directory")) << single.err;
  EXPECT_FALSE(std::filesystem::exists(mDir.File("page.html")));

  // A story is taken once however it is named; a second story for the same page is a clash.
  const std::string in = mDir.File("in");
  Copy("chess-final", in);
  Copy("weather-brief", in);
  TempDir::Write(in + "/broken.xml", "<nitf><body><body.head></body></nitf>\n");
  RunResult r =
      Convert({"--batch", "-j", "2", "-d", mDir.File("out"), in, in + "/../in/chess-final.xml",
               ExampleStory("weather-brief"), missing, ExamplePath("stories/notice.txt")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "converted 2, failed 3, skipped 1")) << r.out;
  EXPECT_TRUE(Contains(r.err, "failed: " + in +
                                  "/broken.xml: not well-formed (mismatched tag) at "
                                  "line 1, column 26\n"))
      << r.err;
  EXPECT_FALSE(Contains(r.err, "owclient:")) << "the library's lines only with -v";
  EXPECT_TRUE(Contains(r.err, "weather-brief.htm is already written for " + in)) << r.err;
  EXPECT_TRUE(Contains(r.err, missing + ": No such file or directory")) << r.err;
  EXPECT_EQ(EntriesIn(mDir.File("out")),
            (std::vector<std::string>{"chess-final.htm", "weather-brief.htm"}));
}

// --strict reads the stories as described: the namespaced ones convert to pages without a
// field and are warned of, the Latin-1 and windows-1252 ones fail on their bytes.
TEST_F(OwconvertTest, StrictReadsStoriesAsDescribedAndWarnsOfThoseThatComeOutEmpty) {
  RunResult r = Convert({"--strict", "--batch", "-d", mDir.File("out"), ExamplePath("stories")});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out, "converted 12, failed 2, skipped 1 in ")) << r.out;
  EXPECT_TRUE(Contains(r.out, "(1 thread), 2 with warnings\n")) << r.out;
  for (const char* story : {"ferry-timetable", "glacier-survey"}) {
    EXPECT_TRUE(Contains(r.err, "owconvert: warning: " + ExampleStory(story) +
                                    ": its root element is in the namespace http://iptc.org/std/"))
        << r.err;
    EXPECT_TRUE(Contains(TempDir::Read(mDir.File("out/") + story + ".htm"), "<h1>"))
        << "the page is written all the same";
  }
  EXPECT_TRUE(
      Contains(r.err, "which is not read as NITF: no field is found (try without --strict)"));
  for (const char* story : {"alpine-choir", "market-prices"}) {
    EXPECT_TRUE(Contains(r.err, "owconvert: failed: " + ExampleStory(story))) << r.err;
  }
  EXPECT_TRUE(Contains(r.err, ExampleStory("alpine-choir") +
                                  ": not well-formed (invalid token) at line 10, column 25\n"))
      << r.err;
  RunResult opera = Convert({"--strict", ExampleStory("opera-premiere")});
  EXPECT_EQ(opera.status, 0);
  EXPECT_TRUE(Contains(opera.out, "<p class=\"subhead\">Caf scene draws the longest applause</p>"));
  EXPECT_TRUE(Contains(Convert({ExampleStory("opera-premiere")}).out,
                       "<p class=\"subhead\">Café scene draws the longest applause</p>"));
}

// A story in a namespace not NITF's and a document not NITF at all each give their page, a
// warning and status 1, whatever the options; "-" reads standard input and names it so.
TEST_F(OwconvertTest, StoriesWithoutAnyStandardFieldAreWarnedOfFromAFileOrStandardInput) {
  const std::string foreign = mDir.File("foreign.xml"), rss = mDir.File("rss.xml");
  TempDir::Write(foreign,
                 "<nitf xmlns='urn:example:news'><body><body.head><hedline><hl1>H</hl1>"
                 "</hedline></body.head></body></nitf>");
  TempDir::Write(rss, "<rss><channel><title>Feed</title></channel></rss>");
  for (const char* strict : {"", "--strict"}) {
    std::vector<std::string> args = {foreign, "-o", mDir.File("f.html")};
    if (*strict != '\0') args.push_back(strict);
    RunResult f = Convert(args);
    EXPECT_EQ(f.status, 1);
    EXPECT_TRUE(Contains(f.err, "owconvert: warning: " + foreign +
                                    ": its root element is in the namespace urn:example:news, "
                                    "which is not read as NITF"))
        << f.err;
    EXPECT_TRUE(Contains(TempDir::Read(mDir.File("f.html")), "<h1>Untitled story</h1>"));
    args[0] = rss;
    RunResult n = Convert(args);
    EXPECT_EQ(n.status, 1);
    EXPECT_TRUE(Contains(n.err, "owconvert: warning: " + rss +
                                    ": no standard field (headline, byline, dateline, body, ...) "
                                    "was found"))
        << n.err;
  }
  auto piped = [&](const std::string& args, const std::string& story) {
    const std::string command = "exec " + (OWCONVERT_BIN + (" -t " + kTemplate)) + args + story;
    return RunTool("/bin/sh", {"-c", command}, mDir.Path());
  };
  RunResult page = piped(" -o - - < ", ExampleStory("river-ice"));
  EXPECT_EQ(page.status, 0) << page.err;
  EXPECT_TRUE(Contains(page.out, "<h1>" + SourceHeadline("river-ice") + "</h1>"));
  RunResult warned = piped(" - < ", foreign);
  EXPECT_EQ(warned.status, 1);
  EXPECT_TRUE(Contains(warned.err,
                       "owconvert: warning: standard input: its root element is in "
                       "the namespace urn:example:news"))
      << warned.err;
}

// --field as plain text unless --markup, --property as the story has it.
TEST_F(OwconvertTest, FieldAndPropertyPrintEveryValueOrEndWithStatusOne) {
  const std::string location = "\\nitf(0)\\body(0)\\body.head(0)\\dateline(0)\\location(0)";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--field", "subheadline", "harbour-bridge"},
       "Lifting span carries traffic again from Thursday morning\n"
       "Ferry timetable returns to its winter pattern\n"},
      {{"--field", "byline:0", "harbour-bridge"}, "By Amara Lindqvist, Transport Correspondent\n"},
      {{"--markup", "--field", "byline:0", "harbour-bridge"},
       "By <person>Amara Lindqvist</person>, <byttl>Transport Correspondent</byttl>\n"},
      {{"--field", "headline", "council-budget"},
       "Council passes budget after all-night session on libraries & roads\n"},
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
  const std::string body = Run({"--field", "body", story, "--markup"}).out;
  EXPECT_TRUE(Contains(body, "<p>")) << body;
  const std::string plain = Run({"--field", "body", story}).out;
  EXPECT_TRUE(Contains(plain, "third week of April. A station volunteer")) << "lines folded";
  EXPECT_EQ(std::count(plain.begin(), plain.end(), '\n'), 1) << plain;
  EXPECT_FALSE(Contains(plain, "<")) << plain;
  EXPECT_EQ(Run({"--property", path, "--ns", "", story}).out, body);
  EXPECT_EQ(Run({"--property", path, "--ns", "", "--tags", story}).out,
            "<body.content>" + body.substr(0, body.size() - 1) + "</body.content>\n");
}

// A bad template never meets a story, in any form; the library's own line shows only with -v.
TEST_F(OwconvertTest, EachMistakeIsOnePlainLineWithItsStatusAndTouchesNothing) {
  const std::string story = Copy("tea-harvest", mDir.File("in")), missing = mDir.File("none.xml");
  const std::string before = TempDir::Read(story), notXml = mDir.File("photo.xml");
  const std::string broken = mDir.File("broken.xml"), table = mDir.File("bad.xlate");
  TempDir::Write(notXml, "\x89PNG\r\n");
  TempDir::Write(broken, "<nitf>\n  <body></nitf>\n");
  TempDir::Write(table, "\"p\" \"p\" \"p\" 0 0\n\"em\" \"em\" \"em\" 1 x\n");
  auto tmpl = [&](const std::string& name, const std::string& text, const char* version = "2") {
    TempDir::Write(mDir.File(name),
                   "<?Kavio version " + (version + ("?>\n<h1>" + text)) + "</h1>\n");
    return mDir.File(name);
  };
  const std::string unknown = tmpl("u.tmpl", "<?Kavio bogus headline?>");
  const std::string unclosed = tmpl("i.tmpl", "<?Kavio if headline?><?Kavio insert headline?>");
  const std::string stray = tmpl("e.tmpl", "<?Kavio else?>");
  const std::string version = tmpl("v.tmpl", "<?Kavio insert headline?>", "3");
  const std::string tryHelp = "\nTry 'owconvert --help'.\n";
  const std::string out = mDir.File("out");
  const std::string overwrite = " names an input; the page would overwrite it" + tryHelp;
  const std::string river = ExampleStory("river-ice"), notFound = ": No such file or directory\n";
  using Cases = std::vector<std::pair<std::vector<std::string>, std::string>>;
  const Cases exitTwo = {
      {{story}, "a template is needed: -t TEMPLATE" + tryHelp},
      {{"-t", kTemplate, "--batch", story}, "--batch needs an output folder: -d DIR" + tryHelp},
      {{"-t", kTemplate, "-j", "2", story}, "-d and -j apply only to --batch" + tryHelp},
      {{"--field", "headline:1", story}, "the field headline takes no index" + tryHelp},
      {{"--attr", "x", story}, "--ns, --attr and --tags go with --property" + tryHelp},
      {{"-t", kTemplate, story, river},
       "'" + river + "' is no .rdf file: one story at a time, story.xml [story.rdf] " +
           "(--batch takes more)" + tryHelp},
      {{"-t", kTemplate, story, "-o", story}, "-o " + story + overwrite},
      {{"-t", unknown, story, "-o", unknown}, "-o " + unknown + overwrite},
      {{"-t", missing, story, "-o", mDir.File("p")}, missing + notFound},
      {{"-t", unknown, "--batch", "-d", out, ExamplePath("stories")},
       unknown + ": template line 2: unknown command \"bogus\"\n"},
      {{"-t", version, "--batch", "-d", out, ExamplePath("stories")},
       version + ": the template does not load: unsupported version on line 1, defaulting to "
                 "version 2\n"},
      {{"-t", unclosed, story}, unclosed + ": template line 2: \"if\" without \"end\"\n"},
      {{"-t", stray, "--field", "headline", story},
       stray + ": template line 2: \"else\" without \"if\"\n"},
      {{"-t", kTemplate, "-x", table, story},
       table + ": the translation table does not load: parse error in translation buffer\n"},
  };
  const Cases exitOne = {
      {{"-t", kTemplate, missing}, missing + notFound},
      {{"-t", kTemplate, notXml}, notXml + ": not XML\n"},
      {{"-t", kTemplate, broken},
       broken + ": not well-formed (mismatched tag) at line 2, column 11\n"},
  };
  for (int status : {1, 2}) {
    for (const auto& [args, message] : status == 1 ? exitOne : exitTwo) {
      SCOPED_TRACE(::testing::PrintToString(args));
      RunResult r = Run(args);
      EXPECT_EQ(r.status, status);
      EXPECT_EQ(r.err, "owconvert: " + message);
      EXPECT_EQ(r.out, "");
    }
  }
  EXPECT_EQ(TempDir::Read(story), before);
  EXPECT_FALSE(std::filesystem::exists(out)) << "checked before the folder is made";
  EXPECT_FALSE(std::filesystem::exists(mDir.File("p")));
  EXPECT_TRUE(Contains(Run({"-t", kTemplate, "-x", table, story, "-v"}).err,
                       "owclient: WCHTMLTemplate::SetXlateTable parse error"));
}

}  // namespace
}  // namespace owc_test
