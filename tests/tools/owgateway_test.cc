// owgateway run as a program against the reference server, in-process on an address of each
// test's own (127.0.0.63-79): what it writes into its folder, how it stops, and how a restart
// resumes the session it kept.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "server.h"
#include "support/temp_dir.h"
#include "tools/owconvert_runner.h"
#include "tools/owgateway_runner.h"

namespace owc_test {
namespace {

const std::vector<std::string> kStories = {"chess-final",  "council-budget", "harbour-bridge",
                                           "river-ice",    "robot-marathon", "tea-harvest",
                                           "weather-brief"};
constexpr int kDeadlineMs = 10000;  // a safety net for a hung child, not a timing

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

bool WaitUntil(const std::function<bool()>& condition, int timeout_ms = kDeadlineMs) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string SourceHeadline(const std::string& story) {
  const std::string xml = TempDir::Read(ExampleStory(story));
  const size_t start = xml.find("<hl1>");
  const size_t end = xml.find("</hl1>");
  if (start == std::string::npos || end == std::string::npos || end < start) return "";
  return xml.substr(start + 5, end - start - 5);
}

// Names of unfinished or temporary files that must not outlive a clean run.
std::vector<std::string> Leftovers(const std::string& dir) {
  std::vector<std::string> found;
  for (const std::string& name : EntriesIn(dir)) {
    if (name.rfind(".part-", 0) == 0 || name.rfind(".tmp-", 0) == 0) found.push_back(name);
  }
  return found;
}

class OwgatewayTest : public ::testing::Test {
 protected:
  owwired::Server& Serve(uint8_t last, owwired::Options options) {
    address_ = "127.0.0." + std::to_string(last);
    options.address = address_;
    options.verbosity = 0;
    server_ = std::make_unique<owwired::Server>(std::move(options));
    std::string error;
    EXPECT_TRUE(server_->Start(&error)) << error;
    return *server_;
  }
  bool WaitServer(const std::function<bool(const owwired::Counters&)>& condition) {
    return server_->WaitFor(condition, kDeadlineMs);
  }
  std::vector<std::string> Args(std::vector<std::string> more) {
    std::vector<std::string> args = {"--server", address_, "--out", out_.Path(), "--progress", "0"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  }
  std::vector<std::string> HtmlArgs(std::vector<std::string> more) {
    std::vector<std::string> args = {"--mode",          "2",       "--template",
                                     ExampleTemplate(), "--xlate", ExampleTable()};
    args.insert(args.end(), more.begin(), more.end());
    return Args(args);
  }
  std::string Written(const std::string& name) { return TempDir::Read(out_.File(name)); }
  bool Exists(const std::string& name) { return std::filesystem::exists(out_.File(name)); }

  TempDir out_;      // owgateway's folder
  TempDir scratch_;  // its standard output and error, owconvert's pages
  std::string address_;
  std::unique_ptr<owwired::Server> server_;
};

TEST_F(OwgatewayTest, ModeTwoWritesEveryFileByteExactItsPageAndAnIndexOfEveryStory) {
  owwired::Options options;
  options.spool_dir = ExamplePath("stories");
  options.block_size = 700;  // every story file comes in several blocks
  Serve(63, options);
  std::string out, err;
  ASSERT_EQ(0, RunOwgateway(HtmlArgs({"--count", "7", "--fresh"}), scratch_.Path(), &out, &err))
      << err;
  EXPECT_EQ(0u, out.find("owgateway: 7 stories, 15 files, ")) << out;
  EXPECT_TRUE(Contains(out, "(0 problems)\n")) << out;
  EXPECT_EQ(Written("notice.txt"), TempDir::Read(ExamplePath("stories/notice.txt")));
  const std::string index = Written("index.html");
  EXPECT_TRUE(Contains(index, "<p>7 stories received.</p>")) << index;
  for (const std::string& story : kStories) {
    SCOPED_TRACE(story);
    EXPECT_TRUE(Written(story + ".xml") == TempDir::Read(ExampleStory(story)));
    EXPECT_TRUE(Written(story + ".rdf") == TempDir::Read(ExamplePath("stories/" + story + ".rdf")));
    const std::string page = Written(story + ".htm");
    RunResult converted = RunOwconvert(
        {"-t", ExampleTemplate(), "-x", ExampleTable(), ExampleStory(story)}, scratch_.Path());
    ASSERT_EQ(0, converted.status) << converted.err;
    EXPECT_TRUE(page == converted.out) << "the page differs from owconvert's";
    EXPECT_TRUE(Contains(index, "<a href=\"" + story + ".htm\">" + SourceHeadline(story) + "</a>"));
    EXPECT_TRUE(Contains(index, "<a href=\"" + story + ".xml\">xml</a>"));
    EXPECT_TRUE(Contains(index, "<a href=\"" + story + ".rdf\">rdf</a>"));
  }
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(out_.Path()));
}

// The server holds every message back, so the story's RDF file comes well after its XML
// file: a story counts once it is whole, not when its first file is.
TEST_F(OwgatewayTest, CountStopsOnlyOnceTheLastStoryIsWhole) {
  owwired::Options options;
  options.files = {{"tea.xml", TempDir::Read(ExampleStory("tea-harvest"))},
                   {"tea.rdf", TempDir::Read(ExamplePath("stories/tea-harvest.rdf"))}};
  options.faults.delay_ms = 150;
  Serve(64, options);
  std::string out, err;
  ASSERT_EQ(0, RunOwgateway(HtmlArgs({"--count", "1"}), scratch_.Path(), &out, &err)) << err;
  EXPECT_EQ(0u, out.find("owgateway: 1 stories, 2 files, ")) << out;
  EXPECT_TRUE(Exists("tea.rdf"));
  EXPECT_TRUE(Exists("tea.htm"));
}

TEST_F(OwgatewayTest, SigtermStopsCleanlyAndARestartResumesTheKeptSession) {
  TempDir spool;
  std::filesystem::copy_file(ExampleStory("river-ice"), spool.File("river-ice.xml"));
  std::filesystem::copy_file(ExamplePath("stories/river-ice.rdf"), spool.File("river-ice.rdf"));
  owwired::Options options;
  options.spool_dir = spool.Path();
  options.rescan = true;
  options.block_size = 600;
  options.first_session_id = 300;
  Serve(65, options);

  {
    OwgatewayProcess first(Args({}), scratch_.Path());
    ASSERT_TRUE(first.Started());
    ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.files_delivered == 2; }));
    ASSERT_TRUE(WaitUntil([&] { return Exists("river-ice.rdf"); }));
    first.Signal(SIGTERM);
    ASSERT_TRUE(first.WaitExit(kDeadlineMs));
    EXPECT_EQ(0, first.Status()) << first.Err();
    EXPECT_EQ(0u, first.Out().find("owgateway: 1 stories, 2 files, ")) << first.Out();
  }
  EXPECT_EQ("300\n", Written(".owgateway-session"));
  EXPECT_EQ(0u, server_->GetCounters().sessions_ended);
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(out_.Path()));

  // A story added meanwhile: the resumed session gets it and only it.
  std::filesystem::copy_file(ExampleStory("chess-final"), spool.File("chess-final.xml"));
  std::filesystem::copy_file(ExamplePath("stories/chess-final.rdf"), spool.File("chess-final.rdf"));
  {
    OwgatewayProcess second(Args({}), scratch_.Path());
    ASSERT_TRUE(WaitServer([](const owwired::Counters& c) {
      return c.sessions_resumed == 1 && c.files_delivered == 4;
    }));
    ASSERT_TRUE(WaitUntil([&] { return Exists("chess-final.rdf"); }));
    second.Signal(SIGTERM);
    ASSERT_TRUE(second.WaitExit(kDeadlineMs));
    EXPECT_EQ(0, second.Status()) << second.Err();
    EXPECT_TRUE(Contains(second.Err(), "resuming session 300")) << second.Err();
    EXPECT_EQ(0u, second.Out().find("owgateway: 1 stories, 2 files, ")) << second.Out();
  }
  EXPECT_EQ(1u, server_->GetCounters().sessions_created);
  EXPECT_EQ(4u, server_->GetCounters().files_announced);
  EXPECT_TRUE(Written("chess-final.xml") == TempDir::Read(ExampleStory("chess-final")));

  // With --send-done the session ends at the server and is no longer kept.
  {
    OwgatewayProcess third(Args({"--send-done"}), scratch_.Path());
    ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.sessions_resumed == 2; }));
    third.Signal(SIGTERM);
    ASSERT_TRUE(third.WaitExit(kDeadlineMs));
    EXPECT_EQ(0, third.Status()) << third.Err();
  }
  EXPECT_TRUE(WaitServer([](const owwired::Counters& c) { return c.sessions_ended == 1; }));
  EXPECT_FALSE(Exists(".owgateway-session"));
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(out_.Path()));
}

// The server drops the connection after the third block; the acknowledgement of that block
// never reaches it, so the resumed session receives it a second time.
TEST_F(OwgatewayTest, FileInterruptedByARestartIsCompletedByteExact) {
  std::string xml(2600, '\0');
  for (size_t i = 0; i < xml.size(); ++i) xml[i] = static_cast<char>('a' + i % 23);
  owwired::Options options;
  options.files = {{"cut.xml", xml}};
  options.block_size = 500;
  options.faults.drop_after_blocks = 3;
  options.faults.faulty_connections = 1;
  Serve(66, options);
  {
    OwgatewayProcess first(Args({}), scratch_.Path());
    ASSERT_TRUE(WaitServer(
        [](const owwired::Counters& c) { return c.blocks_sent == 3 && c.connections_open == 0; }));
    ASSERT_TRUE(
        WaitUntil([&] { return TempDir::Read(out_.File(".part-cut.xml")).size() == 1500; }));
    first.Signal(SIGTERM);
    ASSERT_TRUE(first.WaitExit(kDeadlineMs));
    EXPECT_EQ(0, first.Status()) << first.Err();
  }
  EXPECT_EQ(2u, server_->GetCounters().blocks_acked);
  {
    OwgatewayProcess second(Args({}), scratch_.Path());
    ASSERT_TRUE(WaitServer([](const owwired::Counters& c) { return c.files_delivered == 1; }));
    ASSERT_TRUE(WaitUntil([&] { return Exists("cut.xml"); }));
    second.Signal(SIGTERM);
    ASSERT_TRUE(second.WaitExit(kDeadlineMs));
    EXPECT_EQ(0, second.Status()) << second.Err();
  }
  EXPECT_EQ(1u, server_->GetCounters().sessions_resumed);
  const std::string written = Written("cut.xml");
  EXPECT_EQ(xml.size(), written.size());
  EXPECT_TRUE(written == xml);
  EXPECT_EQ(std::vector<std::string>{}, Leftovers(out_.Path()));
}

TEST_F(OwgatewayTest, HelpExitsZeroAndBadUsageExitsTwoWithoutTouchingTheFolder) {
  std::string out, err;
  ASSERT_EQ(0, RunOwgateway({"--help"}, scratch_.Path(), &out, &err));
  EXPECT_EQ(0u, out.find("Usage: owgateway --server ADDRESS")) << out;
  for (const char* option : {"--mode", "--template", "--count", "--resume", "--send-done"}) {
    EXPECT_TRUE(Contains(out, option)) << option;
  }
  const std::string folder = out_.File("never");
  const std::vector<std::vector<std::string>> bad = {
      {"--out", folder},
      {"--server", "127.0.0.67", "--out", folder, "--mode", "3"},
      {"--server", "127.0.0.67", "--out", folder, "--mode", "2"},
      {"--server", "127.0.0.300", "--out", folder},
      {"--server", "127.0.0.67", "--out", folder, "--resume", "5", "--fresh"},
      {"--server", "127.0.0.67", "--out", folder, "--count", "-1"},
      {"--server", "127.0.0.67", "--out", folder, "--colour"},
      {"--server"}};
  for (const auto& args : bad) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    SCOPED_TRACE(line);
    EXPECT_EQ(2, RunOwgateway(args, scratch_.Path(), &out, &err));
    EXPECT_TRUE(Contains(err, "(see --help)")) << err;
    EXPECT_EQ("", out);
  }
  EXPECT_FALSE(std::filesystem::exists(folder));
  // A template that cannot be read is a start-up error, not a usage error.
  EXPECT_EQ(1, RunOwgateway({"--server", "127.0.0.67", "--out", folder, "--mode", "1", "--template",
                             out_.File("missing.tmpl")},
                            scratch_.Path(), &out, &err));
  EXPECT_TRUE(Contains(err, "cannot read")) << err;
}

}  // namespace
}  // namespace owc_test
