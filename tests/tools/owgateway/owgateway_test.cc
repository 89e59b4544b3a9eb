// SPDX-License-Identifier: MIT
// owgateway, the built program, against the reference server in-process or a server the test
// plays, each test on addresses of its own (127.0.0.63-67, 140-146, 127.0.16.1-5, localhost).
// The root holds only "out" and "scratch", so whatever is written outside "out" shows there.
#include <gtest/gtest.h>

#include <regex>

#include "support/raw_socket.h"
#include "support/tool_runner.h"
#include "support/wire_bytes.h"
#include "support/wire_server.h"

namespace owc_test {
namespace {

using C = const owwired::Counters&;

std::string Example(const std::string& f) { return TempDir::Read(ExamplePath("stories/" + f)); }

class OwgatewayTest : public ::testing::Test {
 protected:
  void Serve(const std::string& address, owwired::Options options) {
    mAddress = address;
    mServer = StartServer(address, std::move(options));
  }
  std::vector<std::string> Args(std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--server", mAddress, "--out", mOut, "--progress", "0"});
    return more;
  }
  std::vector<std::string> HtmlArgs(std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--mode", "2", "--template", kTemplate, "--xlate", kTable});
    return Args(more);
  }
  std::string Written(const std::string& name) { return TempDir::Read(mOut + "/" + name); }
  // The example stories' files in mSpool, for a server with options.spoolDir = mSpool.Path().
  void Spool(std::initializer_list<const char*> stories) {
    for (const std::string story : stories) {
      for (auto end : {".xml", ".rdf"}) {
        TempDir::Write(mSpool.File(story + end), Example(story + end));
      }
    }
  }
  // The page owgateway wrote is owconvert's of the same story with the sample template.
  void ExpectOwconvertsPage(const std::string& story) {
    RunResult page =
        RunTool(OWCONVERT_BIN, {"-t", kTemplate, "-x", kTable, ExampleStory(story)}, mRoot.Path());
    EXPECT_TRUE(Written(story + ".htm") == page.out)
        << story << ": the page differs from owconvert's";
  }
  // Starts owgateway towards a peer the test plays at `address`.
  std::unique_ptr<ToolProcess> StartTowards(RawPeer& peer, const std::string& address,
                                            const std::vector<std::string>& args) {
    EXPECT_TRUE(peer.Bound());
    mAddress = address;
    auto gateway = std::make_unique<ToolProcess>(OWGATEWAY_BIN, Args(args), mScratch);
    EXPECT_TRUE(peer.Accept(15000));
    return gateway;
  }
  bool Exists(const std::string& name) { return access((mOut + "/" + name).c_str(), F_OK) == 0; }
  std::string RunUntilTheConnectionDrops(const std::string& address, const std::string& name);
  // Partial, block-record and temporary files, which must not outlive a clean run.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> found;
    for (const std::string& name : EntriesIn(mOut)) {
      if (name[0] == '.' && name != ".owgateway-session") found.push_back(name);
    }
    return found;
  }

  TempDir mRoot, mSpool;
  const std::string mOut = mRoot.File("out"), mScratch = mRoot.File("scratch");
  const bool mMade =
      std::filesystem::create_directory(mOut) && std::filesystem::create_directory(mScratch);
  std::string mAddress;
  std::unique_ptr<owwired::Server> mServer;
};

// Real feeds by default; with --strict a Latin-1 story does not render and a namespaced one
// renders without a field, one problem each. In mode 1 only the library's line names the first.
TEST_F(OwgatewayTest, ModeTwoWritesEveryFilePageAndIndexAndStrictCountsWhatDoesNotRender) {
  owwired::Options options;
  options.spoolDir = ExamplePath("stories");
  options.blockSize = 700;  // every story file comes in several blocks
  Serve("127.0.0.63", options);
  ToolProcess gateway(OWGATEWAY_BIN, HtmlArgs({"--count", "14", "--fresh"}), mScratch);
  ASSERT_EQ(0, gateway.Wait()) << gateway.Err();
  EXPECT_EQ(0u, gateway.Out().find("owgateway: 14 stories, 29 files, ")) << gateway.Out();
  EXPECT_TRUE(Contains(gateway.Out(), "(0 problems)\n"));
  EXPECT_EQ(Written("notice.txt"), Example("notice.txt"));
  const std::string index = Written("index.html");
  EXPECT_TRUE(Contains(index,
                       "<p>14 stories received since the start, 0 found in the folder at "
                       "the start; the newest 14 listed.</p>"))
      << index;
  for (const std::string& story : kStories) {
    SCOPED_TRACE(story);
    for (auto end : {".xml", ".rdf"}) EXPECT_TRUE(Written(story + end) == Example(story + end));
    ExpectOwconvertsPage(story);
    EXPECT_TRUE(Contains(index, "<a href=\"" + story + ".htm\">" + SourceHeadline(story) + "</a>"));
    EXPECT_TRUE(Contains(index, "<a href=\"" + story + ".rdf\">rdf</a>"));
  }
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
  EXPECT_TRUE(Contains(Written("alpine-choir.htm"), "Chor aus Grünwald überrascht die Jury"));
  EXPECT_TRUE(Contains(Written("ferry-timetable.htm"),
                       "<h1>Island ferry adds a night crossing for the summer season</h1>"));

  ToolProcess strict(OWGATEWAY_BIN, HtmlArgs({"--count", "14", "--fresh", "--strict"}), mScratch);
  ASSERT_EQ(0, strict.Wait()) << strict.Err();
  EXPECT_EQ(0u, strict.Out().find("owgateway: 14 stories, 29 files, ")) << strict.Out();
  EXPECT_TRUE(Contains(strict.Out(), "(4 problems)\n")) << strict.Out() << strict.Err();
  const std::string notRendered = "owgateway: story alpine-choir was received but not rendered";
  EXPECT_TRUE(Contains(strict.Err(), notRendered)) << strict.Err();
  EXPECT_TRUE(Contains(strict.Err(),
                       "owgateway: story ferry-timetable: its root element is in "
                       "the namespace http://iptc.org/std/NITF/2006-10-18/"));

  const std::string pagesOnly = mRoot.File("pages");
  ToolProcess pages(OWGATEWAY_BIN,
                    Args({"--mode", "1", "--template", kTemplate, "--count", "4", "--fresh",
                          "--strict", "--send-done", "-d", pagesOnly}),
                    mScratch);
  ASSERT_EQ(0, pages.Wait()) << pages.Err();
  EXPECT_TRUE(Contains(pages.Out(), "(1 problems)\n")) << pages.Out() << pages.Err();
  EXPECT_TRUE(Contains(pages.Err(), notRendered)) << pages.Err();
  EXPECT_EQ((std::vector<std::string>{"chess-final.htm", "council-budget.htm",
                                      "ferry-timetable.htm", "index.html"}),
            EntriesIn(pagesOnly))
      << "mode 1 writes pages only";
}

// The slow first connection brings the RDF file well after the XML: a story counts once whole.
// What the server saw acknowledged is on disk once a SIGTERM'd gateway exits.
TEST_F(OwgatewayTest, CountOrSigtermStopsCleanlyAndARestartResumesTheKeptSessionSplitStoryToo) {
  Spool({"river-ice"});
  owwired::Options options;
  options.spoolDir = mSpool.Path();
  options.rescan = true;
  options.firstSessionId = 300;
  options.faults.faultyConnections = 1;
  options.faults.delayMs = 150;
  Serve("127.0.0.65", options);
  ToolProcess first(OWGATEWAY_BIN, Args({"--count", "1"}), mScratch);
  EXPECT_EQ(0, first.Wait()) << first.Err();
  EXPECT_EQ(0u, first.Out().find("owgateway: 1 stories, 2 files, ")) << first.Out();
  EXPECT_TRUE(Written("river-ice.rdf") == Example("river-ice.rdf"));
  EXPECT_EQ(0u, Written(".owgateway-session").find("300\ncheck "));
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());

  // Meanwhile: the resumed session gets these and only these. tea-harvest's XML came before a
  // restart, so the library, which pairs only what one run receives, gets the RDF alone:
  // owgateway renders from the folder before the file counts as delivered.
  Spool({"chess-final"});
  TempDir::Write(mSpool.File("tea-harvest.rdf"), Example("tea-harvest.rdf"));
  TempDir::Write(mOut + "/tea-harvest.xml", Example("tea-harvest.xml"));
  ToolProcess second(OWGATEWAY_BIN, HtmlArgs({"--send-done"}), mScratch);
  ASSERT_TRUE(mServer->WaitFor([](C c) { return c.filesDelivered == 5; }, 15000));
  EXPECT_TRUE(Exists("tea-harvest.htm"));
  EXPECT_EQ(0, second.Stop()) << second.Err();
  ExpectOwconvertsPage("tea-harvest");
  EXPECT_TRUE(Contains(second.Err(), "resuming session 300")) << second.Err();
  EXPECT_EQ(0u, second.Out().find("owgateway: 1 stories, 3 files, ")) << second.Out();
  EXPECT_TRUE(Written("chess-final.rdf") == Example("chess-final.rdf") &&
              Exists("chess-final.htm"));
  // With --send-done the session ends at the server and is no longer kept.
  EXPECT_TRUE(mServer->WaitFor([](C c) { return c.sessionsEnded == 1; }, 15000));
  EXPECT_FALSE(Exists(".owgateway-session"));
}

// owwired serves `name` (2,600 bytes in blocks of 500) and drops the connection after block
// 3, whose acknowledgement is lost; the owgateway run it served keeps three blocks and is
// stopped. Returns the file.
std::string OwgatewayTest::RunUntilTheConnectionDrops(const std::string& address,
                                                      const std::string& name) {
  std::string xml(2600, '\0');
  for (size_t i = 0; i < xml.size(); ++i) xml[i] = static_cast<char>('a' + i % 23);
  owwired::Options options;
  options.files = {{name, xml}};
  options.blockSize = 500;
  options.faults.dropAfterBlocks = 3;
  options.faults.faultyConnections = 1;
  Serve(address, options);
  ToolProcess first(OWGATEWAY_BIN, Args(), mScratch);
  EXPECT_TRUE(
      mServer->WaitFor([](C c) { return c.blocksSent == 3 && c.connectionsOpen == 0; }, 15000));
  EXPECT_TRUE(WaitUntil([&] { return Written(".part-" + name).size() == 1500; }));
  EXPECT_FALSE(Exists(name)) << "a file appears only once it is whole";
  EXPECT_EQ(0, first.Stop()) << first.Err();
  EXPECT_EQ(2u, mServer->GetCounters().blocksAcked);
  return xml;
}

// The next run resumes the session and gets block 2 again: the file is completed byte exact.
TEST_F(OwgatewayTest, FileInterruptedByARestartIsCompletedByteExact) {
  const std::string xml = RunUntilTheConnectionDrops("127.0.0.66", "cut.xml");
  ToolProcess second(OWGATEWAY_BIN, Args(), mScratch);
  ASSERT_TRUE(mServer->WaitFor([](C c) { return c.filesDelivered == 1; }, 15000));
  EXPECT_EQ(0, second.Stop()) << second.Err();
  EXPECT_EQ(1u, mServer->GetCounters().sessionsResumed);
  EXPECT_TRUE(Written("cut.xml") == xml);
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
}

// A run killed after writing a file's last block, before putting the file in place, leaves
// it whole with a record that still says "partial"; the server sends the unacknowledged
// blocks again, all of them repeats, and the last of them finishes the file.
TEST_F(OwgatewayTest, AFileWhollyWrittenButNotFinishedIsFinishedByTheRepeatOfItsLastBlock) {
  const std::string xml = RunUntilTheConnectionDrops("127.0.0.167", "whole.xml");
  TempDir::Write(mOut + "/.part-whole.xml", xml);
  TempDir::Write(mOut + "/.blocks-whole.xml", "0000000006 000000000000002600 P\n");
  ToolProcess second(OWGATEWAY_BIN, Args(), mScratch);
  ASSERT_TRUE(mServer->WaitFor([](C c) { return c.filesDelivered == 1; }, 15000));
  EXPECT_EQ(0, second.Stop()) << second.Err();
  EXPECT_TRUE(Written("whole.xml") == xml) << second.Err();
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
}

// A run killed after putting a file in place and before its last acknowledgements went out:
// the blocks the server sends again are repeats, not a gap that loses the file.
TEST_F(OwgatewayTest, BlocksSentAgainOfAFileAlreadyInPlaceAreRepeatsNotALoss) {
  const std::string xml = RunUntilTheConnectionDrops("127.0.0.168", "done.xml");
  std::filesystem::remove(mOut + "/.part-done.xml");
  std::filesystem::remove(mOut + "/.blocks-done.xml");
  TempDir::Write(mOut + "/done.xml", xml);
  ToolProcess second(OWGATEWAY_BIN, Args(), mScratch);
  ASSERT_TRUE(mServer->WaitFor([](C c) { return c.filesDelivered == 1; }, 15000));
  EXPECT_EQ(0, second.Stop()) << second.Err();
  EXPECT_FALSE(Contains(second.Err(), "lost")) << second.Err();
  EXPECT_TRUE(Written("done.xml") == xml);
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
}

// Whatever is wrong with the command line, the configuration file, the template or the session
// file, one line says so and owgateway exits 2 before it creates its folder or connects.
TEST_F(OwgatewayTest, BadUsageTemplatesAndSessionFilesExitTwoWithOneLineBeforeAnythingIsTouched) {
  const std::string never = mOut + "/never", missing = mRoot.File("missing.tmpl");
  const std::string unknown = mRoot.File("unknown.tmpl"), unclosed = mRoot.File("unclosed.tmpl");
  const std::string conf = mRoot.File("bad.conf");
  TempDir::Write(unknown, "<html>\n<?Kavio bogus ?>\n</html>\n");
  TempDir::Write(unclosed, "<?Kavio if headline ?>\n<h1><?Kavio insert headline ?></h1>\n");
  TempDir::Write(conf, "# feed\nserver = 127.0.16.9\nbogus = 1\n");
  const std::string hint = "\nTry 'owgateway --help'.\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--mode", "2"}, "--server HOST[:PORT] is required" + hint},
      {{"--server", "127.0.16.9", "--template", kTemplate},
       "--template and --xlate apply to modes 1 and 2 (mode 0 writes raw files only)" + hint},
      {{"--server", "::1"},
       "option '--server': '::1': IPv6 addresses are not supported; give an IPv4 address or a "
       "name" +
           hint},
      {{"--server", ":39030"}, "option '--server': ':39030' names no host" + hint},
      {{"--server", "127.0.16.9:70000"},
       "option '--server': '70000' is not a port from 1 to 65535" + hint},
      {{"--server", "127.0.16.9", "--mode", "1", "-t", missing},
       missing + ": No such file or directory\n"},
      {{"--server", "127.0.16.9", "--mode", "2", "-t", unknown},
       unknown + ": template line 2: unknown command \"bogus\"\n"},
      {{"--server", "127.0.16.9", "--mode", "1", "-t", unclosed},
       unclosed + ": template line 1: \"if\" without \"end\"\n"},
      {{"--config", conf}, conf + ":3: unknown option 'bogus'\n"},
  };
  for (auto [args, message] : cases) {
    args.insert(args.end(), {"-d", never});
    RunResult r = RunTool(OWGATEWAY_BIN, args, mScratch);
    EXPECT_EQ(2, r.status) << args[1];
    EXPECT_EQ("owgateway: " + message, r.err);
    EXPECT_EQ("", r.out);
    EXPECT_FALSE(std::filesystem::exists(never)) << args[1];
  }
  // A session neither guessed nor replaced by a new login.
  const std::string path = mOut + "/.owgateway-session";
  for (const std::string& content :
       {std::string(), std::string("52448"), std::string("52448401\ncheck 0"),
        std::string("52448401\ncheck 00000000\n"), std::string("0\n"), std::string("x\n"),
        std::string("\0\0\0\0", 4)}) {
    SCOPED_TRACE(content);
    TempDir::Write(path, content);
    RunResult r = RunTool(OWGATEWAY_BIN, {"--server", "127.0.0.67", "--out", mOut}, mScratch);
    EXPECT_EQ(2, r.status);
    EXPECT_EQ("owgateway: cannot read the session file " + path +
                  " (empty, cut short or corrupt); start with --fresh to log in anew, or with "
                  "--resume ID\n",
              r.err);
    EXPECT_EQ(content, TempDir::Read(path)) << "left as it was";
  }
}

// Each run resumes where the last stopped, losing and repeating none.
TEST_F(OwgatewayTest, CountTakesExactlyThatManyStoriesAndTheNextRunTheNextOnes) {
  owwired::Options options;
  options.generateStories = 40;
  options.storySize = 300;
  Serve("127.0.16.3", options);
  auto stories = [&](const char* ending) {
    std::vector<std::string> found;
    for (const std::string& name : EntriesIn(mOut)) {
      if (name.size() > 4 && name.compare(name.size() - 4, 4, ending) == 0) {
        found.push_back(name.substr(0, name.size() - 4));
      }
    }
    return found;
  };
  const std::regex summary(
      "owgateway: 3 stories, (6|0) files, [0-9.]+ (bytes|kB) in [0-9.]+ m?s into .* \\(0 "
      "problems\\)\n");
  for (const char* mode : {"0", "2", "1"}) {
    ToolProcess run(OWGATEWAY_BIN, Args({"--count", "3", "--mode", mode}), mScratch);
    ASSERT_EQ(0, run.Wait()) << run.Err();
    EXPECT_TRUE(std::regex_match(run.Out(), summary)) << run.Out();
    EXPECT_FALSE(Contains(run.Err(), "queued")) << run.Err();
  }
  const std::vector<std::string> six = {"story00001", "story00002", "story00003",
                                        "story00004", "story00005", "story00006"};
  EXPECT_EQ(six, stories(".xml"));
  EXPECT_EQ(six, stories(".rdf"));
  EXPECT_EQ((std::vector<std::string>{"story00004", "story00005", "story00006", "story00007",
                                      "story00008", "story00009"}),
            stories(".htm"));
  EXPECT_EQ(18u, mServer->GetCounters().filesDelivered);
  EXPECT_EQ(2u, mServer->GetCounters().sessionsResumed);
}

struct ScriptedBlock {
  uint32_t number;
  std::string data;
  bool last;
};
// Parent (none: announced with its name alone), name, and its blocks.
struct ScriptedFile {
  std::string parent, name;
  std::vector<ScriptedBlock> blocks;
};

// Plays the server: each RQST gets the next file, whose blocks, once its announcement is
// acknowledged, go exactly as scripted in one write. A file without a last block is followed
// at once by the next announcement, as when abandoned. `between` runs before each announcement.
void PlayServer(RawPeer& peer, const std::vector<ScriptedFile>& files,
                const std::function<void(size_t)>& between = nullptr) {
  std::string input;
  bool announced = false;  // the next file's announcement waits for its acknowledgement
  auto announce = [&](size_t next) {
    if (between) between(next);
    const ScriptedFile& file = files[next];
    announced = true;
    return WireText("77:+FILE " + (file.parent.empty() ? "" : file.parent + " ") + file.name);
  };
  ASSERT_TRUE(peer.SendAll(WireText("+Tazu script v1.00.00 v1.00.00")));
  for (size_t next = 0, nul; next < files.size();) {
    while ((nul = input.find('\0')) == std::string::npos) {
      const std::string chunk = peer.ReadUpTo(1, 15000);
      ASSERT_FALSE(chunk.empty()) << "the gateway went quiet";
      input += chunk;
    }
    const size_t from = input.find_first_not_of("0123456789:+");  // after session and sign
    const size_t space = std::min(input.find(' ', from), nul);
    const std::string keyword = input.substr(from, space - from);
    const std::string argument = space < nul ? input.substr(space + 1, nul - space - 1) : "";
    input.erase(0, nul + 1);
    std::string answer;
    if (keyword == "USER" || keyword == "FLTR" || keyword == "HRTB") {
      answer = WireText("77:+" + keyword);
    } else if (keyword == "RQST" && !announced) {
      answer = announce(next);
    } else if (keyword == "ACK" && announced &&
               argument.find_first_not_of("0123456789") != std::string::npos) {
      announced = false;  // the announcement's acknowledgement, not a block's
      const ScriptedFile& file = files[next];
      for (const ScriptedBlock& block : file.blocks) {
        answer += WireBlock("77:+BLK" + std::to_string(block.number) + ":", block.data,
                            block.last ? "BLKe" : "BLKm");
      }
      if (++next < files.size() && !file.blocks.empty() && !file.blocks.back().last) {
        answer += announce(next);
      }
    }
    ASSERT_TRUE(peer.SendAll(answer));
  }
}

size_t OpenDescriptors(pid_t pid) {
  return EntriesIn("/proc/" + std::to_string(pid) + "/fd").size();
}

// Refused names still count as received, and a refused story's page is refused too. Blocks
// after a file's last one, without a FILE announcement, belong to no file. 300 files left
// after their first block hold one partial file open at a time and leave none behind.
TEST_F(OwgatewayTest, HostileNamesBadBlocksAndAbandonedFilesNeverWriteOutsideOrWrongOrLeak) {
  const std::string xml = Example("tea-harvest.xml"), rdf = Example("tea-harvest.rdf");
  const std::vector<ScriptedBlock> twice = {
      {0, "one,", false}, {1, "two,", false},           {1, "two,", false},
      {2, "three", true}, {0, "started again,", false}, {1, "and overwritten", true}};
  const std::vector<ScriptedFile> hostile = {
      {"../escape.xml", "../escape.xml", {{0, xml, true}}},
      {"../escape.xml", "../escape.rdf", {{0, rdf, true}}},
      {"", mRoot.File("absolute.xml"), {{0, "a", true}}},
      {"", "..", {{0, "p", true}}},
      {"", "bell\x07\x1b[2J.xml", {{0, "c", true}}},
      {"", std::string(300, 'n') + ".xml", {{0, "l", true}}},
      {"", "index.html", {{0, "<p>not the index</p>", true}}},
      {"", ".owgateway-session", {{0, "1", true}}},
      {"", "twice.txt", twice},
      {"", "gap.txt", {{0, "one,", false}, {2, "three", true}}},
      {"tea-harvest.xml", "tea-harvest.xml", {{0, xml, true}}},
      {"tea-harvest.xml", "tea-harvest.rdf", {{0, rdf, true}}},
  };
  std::vector<ScriptedFile> files = {{"", "first.txt", {{0, "first", true}}}};
  for (int i = 0; i < 300; ++i) {
    files.push_back({"", "left" + std::to_string(i) + ".txt", {{0, std::string(100, 'x'), false}}});
  }
  const size_t abandonedEnd = files.size();
  files.insert(files.end(), hostile.begin(), hostile.end());
  RawPeer peer(0x7F00008C);
  auto gateway = StartTowards(peer, "127.0.0.140",
                              {"--mode", "2", "--template", kTemplate, "--xlate", kTable});
  size_t before = 0, most = 0;
  PlayServer(peer, files, [&](size_t next) {
    if (next == 1) {
      ASSERT_TRUE(WaitUntil([&] { return Exists("first.txt"); }));
      before = OpenDescriptors(gateway->pid());
    } else if (next > 1 && next <= abandonedEnd) {
      most = std::max(most, OpenDescriptors(gateway->pid()));
    }
  });
  ASSERT_TRUE(WaitUntil([&] { return Exists("tea-harvest.htm"); }));
  // One partial file and its record, plus what the main thread holds for a moment (the
  // index being written); a leak would hold one per abandoned file.
  EXPECT_LE(most, before + 4) << "one partial file and its record at most";
  EXPECT_EQ(0, gateway->Stop());
  EXPECT_EQ(0u, gateway->Out().find("owgateway: 2 stories, 12 files")) << gateway->Out();
  EXPECT_EQ((std::vector<std::string>{"out", "scratch"}), EntriesIn(mRoot.Path()));
  EXPECT_EQ(
      (std::vector<std::string>{".owgateway-session", "first.txt", "index.html", "tea-harvest.htm",
                                "tea-harvest.rdf", "tea-harvest.xml", "twice.txt"}),
      EntriesIn(mOut));
  EXPECT_EQ("one,two,three", Written("twice.txt"));
  EXPECT_TRUE(xml == Written("tea-harvest.xml"));
  EXPECT_FALSE(Contains(Written("index.html"), "not the index"));
  EXPECT_EQ(0u, Written(".owgateway-session").find("77\ncheck "));
  const std::string err = gateway->Err();
  for (const char* line :
       {"abandoned left0.txt after 1 blocks: the server went on to left1.txt; its partial file "
        "is removed\n",
        "abandoned left299.txt after 1 blocks", "(path separator in name): \"../escape.xml\"",
        "('..' in name): \"..\"", "(control character in name): \"bell\\x07\\x1B[2J.xml\"",
        "(name too long)", "(name reserved for the index)", "(hidden name): \".owgateway-session\"",
        "(path separator in name): \"../escape.htm\"",
        "lost gap.txt: block 2 came after block 1 was due",
        "refused block 0 of twice.txt, which came without a FILE announcement after the file "
        "was complete; twice.txt is kept as it was\n"}) {
    EXPECT_TRUE(Contains(err, line)) << line;
  }
  EXPECT_EQ(1u, CountOf(err, "refused block")) << "one line for the stray blocks";
  // Names are quoted with their control characters escaped, the library's lines included.
  EXPECT_EQ(std::string::npos, err.find_first_of("\x07\x1b"));
}

// Links planted under the names owgateway writes lead nowhere: each is removed or replaced,
// never written through. A directory in the way makes the rename of stuck.xml fail: owgateway
// stops with its partial file whole, and the next start puts it in place.
TEST_F(OwgatewayTest, PlantedLinksAreNeverFollowedAndAFileWholeButNotRenamedIsPutInPlaceLater) {
  const std::string target = mRoot.File("target"), record = mRoot.File("record");
  TempDir::Write(target, "untouched");
  TempDir::Write(record, "untouched");
  for (const auto& [link, to] :
       std::vector<std::pair<std::string, std::string>>{{".part-evil.xml", target},
                                                        {".blocks-evil.xml", record},
                                                        {"evil.rdf", target},
                                                        {"index.html", target},
                                                        {".part-evil.rdf", mRoot.File("absent")}}) {
    ASSERT_EQ(0, symlink(to.c_str(), (mOut + "/" + link).c_str())) << link;
  }
  ASSERT_TRUE(std::filesystem::create_directories(mOut + "/stuck.xml/in-the-way"));
  const std::string xml(3000, 'x'), stuck(5000, 's');
  owwired::Options options;
  options.files = {{"evil.xml", xml},     {"evil.rdf", "<rdf/>"}, {"stuck.xml", stuck},
                   {"stuck.rdf", "<r/>"}, {"after.xml", "a"},     {"after.rdf", "<a/>"}};
  options.blockSize = 1000;
  Serve("127.0.0.142", options);
  ToolProcess first(OWGATEWAY_BIN, Args(), mScratch);
  EXPECT_EQ(1, first.Wait());
  EXPECT_TRUE(Contains(first.Err(), "cannot put in place " + mOut + "/stuck.xml: ")) << first.Err();
  EXPECT_TRUE(Contains(first.Err(), "removed " + mOut + "/.part-evil.xml: not a regular file"));
  EXPECT_TRUE(Written(".part-stuck.xml") == stuck);

  std::filesystem::remove_all(mOut + "/stuck.xml");
  ToolProcess second(OWGATEWAY_BIN, Args({"--count", "1"}), mScratch);
  EXPECT_EQ(0, second.Wait()) << second.Err();
  EXPECT_TRUE(Contains(second.Err(), "put " + mOut +
                                         "/stuck.xml in place: a stopped run left it "
                                         "whole as .part-stuck.xml"))
      << second.Err();
  EXPECT_TRUE(Written("stuck.xml") == stuck);
  EXPECT_EQ("<a/>", Written("after.rdf"));
  EXPECT_TRUE(xml == Written("evil.xml"));
  EXPECT_EQ("<rdf/>", Written("evil.rdf"));
  EXPECT_EQ("untouched", TempDir::Read(target));
  EXPECT_EQ("untouched", TempDir::Read(record));
  EXPECT_EQ((std::vector<std::string>{"out", "record", "scratch", "target"}),
            EntriesIn(mRoot.Path()));
  for (const char* name : {"evil.xml", "evil.rdf", "index.html"}) {
    EXPECT_FALSE(std::filesystem::is_symlink(mOut + "/" + name)) << name;
  }
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
}

TEST_F(OwgatewayTest, DoneFromTheServerStartsANewSessionAfterAPause) {
  owwired::Options options;
  options.files = {{"a.xml", "a"}, {"a.rdf", "<a/>"}, {"b.xml", "b"}, {"b.rdf", "<b/>"}};
  options.firstSessionId = 900;
  options.faults.faultyConnections = 1;
  options.faults.doneAfterFiles = 2;
  Serve("127.0.0.145", options);
  ToolProcess gateway(OWGATEWAY_BIN, Args(), mScratch);
  ASSERT_TRUE(WaitUntil([&] {
    return Contains(gateway.Err(),
                    "owgateway: the server ended session 900 (DONE); logging in anew in 5 s\n");
  })) << gateway.Err();
  // The library may log in anew by itself at once, before owgateway's pause (a request that
  // fails for want of a connection starts afresh): whichever session comes last is kept, and
  // it gets the whole feed.
  auto keptNewest = [&] {
    const uint32_t newest = mServer->GetCounters().lastSessionId;
    return newest != 900 &&
           Written(".owgateway-session").find(std::to_string(newest) + "\ncheck ") == 0 &&
           Written("b.rdf") == "<b/>";
  };
  ASSERT_TRUE(WaitUntil(keptNewest, 30000)) << gateway.Err();
  EXPECT_EQ(0, gateway.Stop());
  EXPECT_TRUE(keptNewest());
}

TEST_F(OwgatewayTest, TheIndexIsBoundedAndRebuiltFromTheFolderAfterARestart) {
  owwired::Options options;
  options.generateStories = 12;
  Serve("127.0.0.146", options);
  ToolProcess first(OWGATEWAY_BIN, Args({"--count", "12", "--index-stories", "5"}), mScratch);
  EXPECT_EQ(0, first.Wait()) << first.Err();
  const std::string index = Written("index.html");
  EXPECT_EQ(5u, CountOf(index, "<li>")) << index;
  EXPECT_TRUE(Contains(index,
                       "<p>12 stories received since the start, 0 found in the folder at "
                       "the start; the newest 5 listed.</p>"));

  ToolProcess second(OWGATEWAY_BIN, Args({"--index-stories", "5"}), mScratch);
  ASSERT_TRUE(WaitUntil([&] { return Contains(Written("index.html"), "12 found"); }));
  EXPECT_EQ(0, second.Stop());
  const std::string rebuilt = Written("index.html");
  EXPECT_EQ(5u, CountOf(rebuilt, "<li>")) << rebuilt;
  EXPECT_TRUE(Contains(rebuilt,
                       "<p>0 stories received since the start, 12 found in the folder "
                       "at the start; the newest 5 listed.</p>"));
  const std::string xml = Written(EntriesIn(mOut).back());
  const size_t hl = xml.find("<hl1>") + 5;
  EXPECT_TRUE(Contains(rebuilt, xml.substr(hl, xml.find("</hl1>") - hl)));
}

// A file-size limit fails the write of big.xml as ENOSPC would: the block is not acknowledged
// and no DONE sent, so the restart resumes the session and completes big.xml.
TEST_F(OwgatewayTest, AFullDiskStopsTheGatewayWithStatusOneAndKeepsWhatItWrote) {
  owwired::Options options;
  const std::string s1(3000, '1'), s2(3000, '2'), s3(3000, '3'), big(400000, 'b');
  options.files = {{"s1.xml", s1},   {"s1.rdf", "<r1/>"}, {"s2.xml", s2},     {"s2.rdf", "<r2/>"},
                   {"big.xml", big}, {"s3.xml", s3},      {"s3.rdf", "<r3/>"}};
  // The first connection is slow, so that the gateway stops while big.xml is under way.
  options.faults.faultyConnections = 1;
  options.faults.delayMs = 10;
  Serve("127.0.0.141", options);
  ToolProcess gateway(OWGATEWAY_BIN, Args(), mScratch, 64 * 1024);
  EXPECT_EQ(1, gateway.Wait());
  EXPECT_TRUE(Contains(gateway.Err(), "cannot write " + mOut + "/.part-big.xml: File too large"));
  EXPECT_TRUE(Contains(gateway.Err(), "stopped because " + mOut + " cannot be written"));
  EXPECT_EQ((std::vector<std::string>{".blocks-big.xml", ".owgateway-session", ".part-big.xml",
                                      "index.html", "s1.rdf", "s1.xml", "s2.rdf", "s2.xml"}),
            EntriesIn(mOut));
  EXPECT_EQ(s2, Written("s2.xml"));
  EXPECT_TRUE(Contains(Written("index.html"), "s2"));

  ToolProcess again(OWGATEWAY_BIN, Args({"--count", "1"}), mScratch);
  EXPECT_EQ(0, again.Wait());
  EXPECT_EQ(1u, mServer->GetCounters().sessionsResumed);
  EXPECT_EQ(s3, Written("s3.xml"));
  EXPECT_TRUE(big == Written("big.xml"));
  EXPECT_TRUE(Contains(again.Out(), "(0 problems)")) << again.Err();
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
}

// Nothing listening, then a login refused: one plain line each (even with -q). --send-done
// while not connected sends no DONE and keeps the session.
TEST_F(OwgatewayTest, ConnectionProblemsAreOneLineEachAndAStopWhileDownKeepsTheSession) {
  mAddress = "127.0.16.1";  // nothing listens there
  ToolProcess down(OWGATEWAY_BIN,
                   {"--server", mAddress, "-d", mOut, "--count", "5", "--progress", "1",
                    "--send-done", "--resume", "55"},
                   mScratch);
  // Told as the connect is refused: the next attempt comes after the rest of the session's
  // 12 s time-out and the 16 s pause. Told when the time-out ended, it would say 16 s.
  const std::regex refused(
      "\nowgateway: cannot connect to 127\\.0\\.16\\.1:39030: Connection refused; retrying "
      "in 2[0-9] s\n");
  ASSERT_TRUE(WaitUntil([&] { return std::regex_search(down.Err(), refused); })) << down.Err();
  const std::regex progress("\nowgateway: [0-9]{2}:[0-9]{2}:[0-9]{2} 0 of 5 stories, 0 files, "
                            "[0-9]+ bytes; 0\\.0 stories/s; not connected\n");
  ASSERT_TRUE(WaitUntil([&] { return std::regex_search(down.Err(), progress); })) << down.Err();
  EXPECT_EQ(0, down.Stop());
  const std::string err = down.Err();
  EXPECT_EQ(0u, err.find("owgateway: resuming session 55\nowgateway: receiving from "
                         "127.0.16.1:39030 in mode 0 into " +
                         mOut + "\nowgateway: connecting to 127.0.16.1:39030\n"))
      << err;
  EXPECT_TRUE(Contains(err,
                       "owgateway: stopping: not connected, so no DONE is sent; the "
                       "session is kept\n"));
  EXPECT_EQ(std::string::npos, err.find("owclient: ")) << "no library line without -v";
  EXPECT_EQ(0u, Written(".owgateway-session").find("55\ncheck "));

  owwired::Options options;
  options.faults.rejectUser = 401;
  Serve("127.0.16.2", options);
  ToolProcess refusedLogin(OWGATEWAY_BIN, Args({"-q"}), mScratch);
  const std::string line = "owgateway: login refused: (401) Unauthorized; retrying in 16 s\n";
  ASSERT_TRUE(WaitUntil([&] { return Contains(refusedLogin.Err(), line); })) << refusedLogin.Err();
  EXPECT_EQ(0, refusedLogin.Stop());
  EXPECT_EQ(line, refusedLogin.Err()) << "with -q the failure and nothing else";
}

// Plays a server that logs in as session 77 and then answers nothing, DONE included.
void LogInAndGoSilent(RawPeer& peer) {
  ASSERT_TRUE(peer.SendAll(WireText("+Tazu script v1.00.00 v1.00.00")));
  for (const char* keyword : {"USER", "FLTR"}) {
    ASSERT_TRUE(peer.ReadUntil(keyword, 15000)) << "no " << keyword;
    ASSERT_TRUE(peer.SendAll(WireText(std::string("77:+") + keyword)));
  }
}

// SIGHUP does not stop owgateway. The second SIGTERM stops it before DONE is answered, so the
// session is kept.
TEST_F(OwgatewayTest, AFirstSignalStopsGracefullyAndSaysSoASecondStopsAtOnce) {
  RawPeer peer(0x7F001005);
  auto gateway = StartTowards(peer, "127.0.16.5", {"--send-done"});
  LogInAndGoSilent(peer);
  ASSERT_TRUE(WaitUntil([&] { return Exists(".owgateway-session"); }));
  kill(gateway->pid(), SIGHUP);
  kill(gateway->pid(), SIGTERM);
  const std::string stopping =
      "owgateway: stopping: waiting up to 12 s for the server's DONE answer; Ctrl-C again to "
      "stop now\n";
  ASSERT_TRUE(WaitUntil([&] { return Contains(gateway->Err(), stopping); })) << gateway->Err();
  ASSERT_TRUE(peer.ReadUntil("77:DONE", 15000));
  EXPECT_EQ(1, gateway->Stop());
  EXPECT_TRUE(Contains(gateway->Err(),
                       "owgateway: stopped at once; the session is kept, and a "
                       "restart resumes it\n"))
      << gateway->Err();
  EXPECT_EQ(0u, Written(".owgateway-session").find("77\ncheck "));
}

// Mode 2 without a template renders with the sample one; the server is a name and a port.
TEST_F(OwgatewayTest, AConfigurationFileGivesTheOptionsAndTheCommandLineOverridesThem) {
  Spool({"chess-final", "river-ice", "tea-harvest"});
  owwired::Options options;
  options.spoolDir = mSpool.Path();
  options.port = 0;  // a free port: 127.0.0.1 is localhost, shared with the demo
  options.firstSessionId = 610;
  Serve("127.0.0.1", options);
  const std::string server = "localhost:" + std::to_string(mServer->Port());
  const std::string conf = mRoot.File("feed1.conf");
  TempDir::Write(conf, "# feed 1\nserver = " + server + "\nmode 2\noutput-dir = \"" + mOut +
                           "\"\nsend-done\ncount = 1\nprogress 0\n");
  ToolProcess gateway(OWGATEWAY_BIN, {"--config", conf, "--count=2"}, mScratch);
  ASSERT_EQ(0, gateway.Wait()) << gateway.Err();
  EXPECT_EQ(0u, gateway.Out().find("owgateway: 2 stories, 4 files, ")) << gateway.Out();
  EXPECT_TRUE(Contains(gateway.Err(), "owgateway: using the sample template ")) << gateway.Err();
  EXPECT_TRUE(Contains(gateway.Err(), "owgateway: connected to " + server + ", session 610\n"))
      << gateway.Err();
  ExpectOwconvertsPage("river-ice");  // the sample template and table
  EXPECT_TRUE(mServer->WaitFor([](C c) { return c.sessionsEnded == 1; }, 15000));
  EXPECT_FALSE(Exists(".owgateway-session")) << "DONE was answered";
}

}  // namespace
}  // namespace owc_test
