// owgateway, the built program, against the reference server run in-process or a server the
// test plays, each test on an address of its own (127.0.0.63-67, 140-141). The root folder holds
// only the gateway's folder "out" and "scratch" (its standard output and error), so whatever it
// writes outside "out" shows up beside them.
#include <gtest/gtest.h>

#include "server.h"
#include "support/raw_peer.h"
#include "tools/tool_runner.h"

namespace owc_test {
namespace {

using C = const owwired::Counters&;

class OwgatewayTest : public ::testing::Test {
 protected:
  void Serve(int last, owwired::Options options) {
    address_ = "127.0.0." + std::to_string(last);
    options.address = address_;
    options.verbosity = 0;
    server_ = std::make_unique<owwired::Server>(std::move(options));
    std::string error;
    ASSERT_TRUE(server_->Start(&error)) << error;
  }
  std::vector<std::string> Args(std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--server", address_, "--out", out_, "--progress", "0"});
    return more;
  }
  std::vector<std::string> HtmlArgs(std::vector<std::string> more = {}) {
    more.insert(more.begin(), {"--mode", "2", "--template", kTemplate, "--xlate", kTable});
    return Args(more);
  }
  std::string Written(const std::string& name) { return TempDir::Read(out_ + "/" + name); }
  bool Exists(const std::string& name) { return access((out_ + "/" + name).c_str(), F_OK) == 0; }
  // Partial, block-record and temporary files, which must not outlive a clean run.
  std::vector<std::string> Leftovers() {
    std::vector<std::string> found;
    for (const std::string& name : EntriesIn(out_)) {
      if (name[0] == '.' && name != ".owgateway-session") found.push_back(name);
    }
    return found;
  }

  TempDir root_;
  const std::string out_ = root_.File("out"), scratch_ = root_.File("scratch");
  const bool made_ =
      std::filesystem::create_directory(out_) && std::filesystem::create_directory(scratch_);
  std::string address_;
  std::unique_ptr<owwired::Server> server_;
};

std::string Example(const std::string& f) { return TempDir::Read(ExamplePath("stories/" + f)); }

TEST_F(OwgatewayTest, ModeTwoWritesEveryFileByteExactItsPageAndAnIndexOfEveryStory) {
  owwired::Options options;
  options.spool_dir = ExamplePath("stories");
  options.block_size = 700;  // every story file comes in several blocks
  Serve(63, options);
  ToolProcess gateway(OWGATEWAY_BIN, HtmlArgs({"--count", "14", "--fresh"}), scratch_);
  ASSERT_EQ(0, gateway.Wait()) << gateway.Err();
  EXPECT_EQ(0u, gateway.Out().find("owgateway: 14 stories, 29 files, ")) << gateway.Out();
  EXPECT_TRUE(Contains(gateway.Out(), "(0 problems)\n"));
  EXPECT_EQ(Written("notice.txt"), Example("notice.txt"));
  const std::string index = Written("index.html");
  EXPECT_TRUE(Contains(index, "<p>14 stories received.</p>")) << index;
  for (const std::string& story : kStories) {
    SCOPED_TRACE(story);
    for (auto end : {".xml", ".rdf"}) EXPECT_TRUE(Written(story + end) == Example(story + end));
    RunResult page =
        RunTool(OWCONVERT_BIN, {"-t", kTemplate, "-x", kTable, ExampleStory(story)}, root_.Path());
    EXPECT_TRUE(Written(story + ".htm") == page.out) << "the page differs from owconvert's";
    EXPECT_TRUE(Contains(index, "<a href=\"" + story + ".htm\">" + SourceHeadline(story) + "</a>"));
    EXPECT_TRUE(Contains(index, "<a href=\"" + story + ".rdf\">rdf</a>"));
  }
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
}

// The first connection holds every message back, so the story's RDF file comes well after its
// XML file: a story counts once it is whole. The second run gets SIGTERM as soon as the server
// saw the last acknowledgement: what was acknowledged is on disk once it exits, though it may
// still have been queued for delivery then.
TEST_F(OwgatewayTest, CountOrSigtermStopsCleanlyAndARestartResumesTheKeptSession) {
  TempDir spool;
  auto add = [&](const std::string& story) {
    for (auto end : {".xml", ".rdf"}) TempDir::Write(spool.File(story + end), Example(story + end));
  };
  add("river-ice");
  owwired::Options options;
  options.spool_dir = spool.Path();
  options.rescan = true;
  options.first_session_id = 300;
  options.faults.faulty_connections = 1;
  options.faults.delay_ms = 150;
  Serve(65, options);
  ToolProcess first(OWGATEWAY_BIN, Args({"--count", "1"}), scratch_);
  EXPECT_EQ(0, first.Wait()) << first.Err();
  EXPECT_EQ(0u, first.Out().find("owgateway: 1 stories, 2 files, ")) << first.Out();
  EXPECT_TRUE(Written("river-ice.rdf") == Example("river-ice.rdf"));
  EXPECT_EQ("300\n", Written(".owgateway-session"));
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());

  add("chess-final");  // meanwhile: the resumed session gets it and only it
  ToolProcess second(OWGATEWAY_BIN, HtmlArgs({"--send-done"}), scratch_);
  ASSERT_TRUE(server_->WaitFor([](C c) { return c.files_delivered == 4; }, 15000));
  EXPECT_EQ(0, second.Stop()) << second.Err();
  EXPECT_TRUE(Contains(second.Err(), "resuming session 300")) << second.Err();
  EXPECT_EQ(0u, second.Out().find("owgateway: 1 stories, 2 files, ")) << second.Out();
  EXPECT_TRUE(Written("chess-final.rdf") == Example("chess-final.rdf") &&
              Exists("chess-final.htm"));
  // With --send-done the session ends at the server and is no longer kept.
  EXPECT_TRUE(server_->WaitFor([](C c) { return c.sessions_ended == 1; }, 15000));
  EXPECT_FALSE(Exists(".owgateway-session"));
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
  ToolProcess first(OWGATEWAY_BIN, Args(), scratch_);
  ASSERT_TRUE(
      server_->WaitFor([](C c) { return c.blocks_sent == 3 && c.connections_open == 0; }, 15000));
  ASSERT_TRUE(WaitUntil([&] { return Written(".part-cut.xml").size() == 1500; }));
  EXPECT_FALSE(Exists("cut.xml")) << "a file appears only once it is whole";
  EXPECT_EQ(0, first.Stop()) << first.Err();
  EXPECT_EQ(2u, server_->GetCounters().blocks_acked);

  ToolProcess second(OWGATEWAY_BIN, Args(), scratch_);
  ASSERT_TRUE(server_->WaitFor([](C c) { return c.files_delivered == 1; }, 15000));
  EXPECT_EQ(0, second.Stop()) << second.Err();
  EXPECT_EQ(1u, server_->GetCounters().sessions_resumed);
  EXPECT_TRUE(Written("cut.xml") == xml);
  EXPECT_EQ(std::vector<std::string>{}, Leftovers());
}

// Real feeds by default; with --strict a Latin-1 story does not render and a namespaced one
// renders without a field: each is one line and one problem. In mode 1 only the library's
// line can name the story that did not render.
TEST_F(OwgatewayTest, StoriesThatDoNotRenderOrComeOutEmptyAreCountedAsProblems) {
  TempDir spool;
  for (const std::string story : {"alpine-choir", "ferry-timetable", "river-ice"}) {
    for (auto end : {".xml", ".rdf"}) TempDir::Write(spool.File(story + end), Example(story + end));
  }
  owwired::Options options;
  options.spool_dir = spool.Path();
  Serve(142, options);
  ToolProcess real(OWGATEWAY_BIN, HtmlArgs({"--count", "3", "--fresh"}), scratch_);
  ASSERT_EQ(0, real.Wait()) << real.Err();
  EXPECT_TRUE(Contains(real.Out(), "owgateway: 3 stories, 6 files, ")) << real.Out();
  EXPECT_TRUE(Contains(real.Out(), "(0 problems)\n")) << real.Err();
  EXPECT_TRUE(Contains(Written("alpine-choir.htm"), "Chor aus Grünwald überrascht die Jury"));
  EXPECT_TRUE(Contains(Written("ferry-timetable.htm"),
                       "<h1>Island ferry adds a night crossing for the summer season</h1>"));

  ToolProcess strict(OWGATEWAY_BIN, HtmlArgs({"--count", "3", "--fresh", "--strict"}), scratch_);
  ASSERT_EQ(0, strict.Wait()) << strict.Err();
  EXPECT_TRUE(Contains(strict.Out(), "owgateway: 3 stories, 6 files, ")) << strict.Out();
  EXPECT_TRUE(Contains(strict.Out(), "(2 problems)\n")) << strict.Out() << strict.Err();
  EXPECT_TRUE(Contains(strict.Err(), "owgateway: story alpine-choir was received but not rendered"))
      << strict.Err();
  EXPECT_TRUE(Contains(strict.Err(), "owgateway: story ferry-timetable: its root element is in "
                                     "the namespace http://iptc.org/std/NITF/2006-10-18/"))
      << strict.Err();

  ToolProcess pages(OWGATEWAY_BIN,
                    Args({"--mode", "1", "--template", kTemplate, "--count", "2", "--fresh",
                          "--strict", "--send-done"}),
                    scratch_);
  ASSERT_EQ(0, pages.Wait()) << pages.Err();
  EXPECT_TRUE(Contains(pages.Out(), "(1 problems)\n")) << pages.Out() << pages.Err();
  EXPECT_TRUE(Contains(pages.Err(), "owgateway: a story was received but not rendered (mode 1"))
      << pages.Err();
}

TEST_F(OwgatewayTest, BadUsageExitsTwoWithoutTouchingTheFolderAndAnUnreadableTemplateOne) {
  const std::string never = out_ + "/never", missing = root_.File("missing.tmpl");
  RunResult usage = RunTool(OWGATEWAY_BIN, {"--out", never, "--mode", "2"}, scratch_);
  EXPECT_EQ(2, usage.status);
  EXPECT_TRUE(Contains(usage.err, "(see --help)") && usage.out.empty()) << usage.err;
  EXPECT_FALSE(std::filesystem::exists(never));
  RunResult r = RunTool(
      OWGATEWAY_BIN,
      {"--server", "127.0.0.67", "--out", out_, "--mode", "1", "--template", missing}, scratch_);
  EXPECT_EQ(1, r.status);
  EXPECT_TRUE(Contains(r.err, "cannot read " + missing)) << r.err;
}

std::string Text(const std::string& text) { return text + std::string(1, '\0'); }

// Parent (none: announced with its name alone), name, and its blocks (the last marked last).
using ScriptedFile =
    std::tuple<std::string, std::string, std::vector<std::pair<uint32_t, std::string>>>;

// Refused names are still counted as received; a refused story's page is refused too. The test
// plays the server: the hello, "+" to USER and FLTR, each RQST answered with the next file,
// and once its announcement is acknowledged, its blocks exactly as scripted, numbers and all.
TEST_F(OwgatewayTest, HostileNamesAndBadBlocksNeverWriteOutsideOrWrong) {
  const std::string xml = Example("tea-harvest.xml"), rdf = Example("tea-harvest.rdf");
  const std::vector<ScriptedFile> files = {
      {"../escape.xml", "../escape.xml", {{0, xml}}},
      {"../escape.xml", "../escape.rdf", {{0, rdf}}},
      {"", root_.File("absolute.xml"), {{0, "a"}}},
      {"", "..", {{0, "p"}}},
      {"", "bell\x07\x1b[2J.xml", {{0, "c"}}},
      {"", std::string(300, 'n') + ".xml", {{0, "l"}}},
      {"", "index.html", {{0, "<p>not the index</p>"}}},
      {"", ".owgateway-session", {{0, "1"}}},
      {"", "twice.txt", {{0, "one,"}, {1, "two,"}, {1, "two,"}, {2, "three"}}},
      {"", "gap.txt", {{0, "one,"}, {2, "three"}}},
      {"tea-harvest.xml", "tea-harvest.xml", {{0, xml}}},
      {"tea-harvest.xml", "tea-harvest.rdf", {{0, rdf}}},
  };
  RawPeer peer(0x7F00008C);
  ASSERT_TRUE(peer.Bound());
  address_ = "127.0.0.140";
  ToolProcess gateway(OWGATEWAY_BIN, HtmlArgs(), scratch_);
  ASSERT_TRUE(peer.Accept(15000));
  std::string input;
  bool announced = false;
  ASSERT_TRUE(peer.SendAll(Text("+Tazu script v1.00.00 v1.00.00")));
  for (size_t next = 0, nul; next < files.size();) {
    while ((nul = input.find('\0')) == std::string::npos) {
      const std::string chunk = peer.ReadUpTo(1, 15000);
      ASSERT_FALSE(chunk.empty()) << "the gateway went quiet";
      input += chunk;
    }
    const size_t from = input.find_first_not_of("0123456789:+");  // after session and sign
    const std::string keyword = input.substr(from, std::min(input.find(' ', from), nul) - from);
    input.erase(0, nul + 1);
    const auto& [parent, name, blocks] = files[next];
    std::string answer;
    if (keyword == "USER" || keyword == "FLTR" || keyword == "HRTB") {
      answer = Text("77:+" + keyword);
    } else if (keyword == "RQST") {
      answer = Text("77:+FILE " + (parent.empty() ? "" : parent + " ") + name);
    } else if (keyword == "ACK" && announced) {  // not the acknowledgement of a block
      for (size_t i = 0; i < blocks.size(); ++i) {
        const std::string& data = blocks[i].second;
        answer += "77:+BLK" + std::to_string(blocks[i].first) + ":";
        answer += {static_cast<char>(data.size() >> 8), static_cast<char>(data.size() & 0xFF)};
        answer += Text(data + (i + 1 == blocks.size() ? "BLKe" : "BLKm"));
      }
      ++next;
    }
    ASSERT_TRUE(peer.SendAll(answer));
    announced = keyword == "RQST";
  }
  ASSERT_TRUE(WaitUntil([&] { return Exists("tea-harvest.htm"); }));
  EXPECT_EQ(0, gateway.Stop());
  EXPECT_EQ(0u, gateway.Out().find("owgateway: 2 stories, 11 files")) << gateway.Out();
  EXPECT_EQ((std::vector<std::string>{"out", "scratch"}), EntriesIn(root_.Path()));
  EXPECT_EQ((std::vector<std::string>{".owgateway-session", "index.html", "tea-harvest.htm",
                                      "tea-harvest.rdf", "tea-harvest.xml", "twice.txt"}),
            EntriesIn(out_));
  EXPECT_EQ("one,two,three", Written("twice.txt"));
  EXPECT_TRUE(xml == Written("tea-harvest.xml"));
  EXPECT_FALSE(Contains(Written("index.html"), "not the index"));
  EXPECT_EQ("77\n", Written(".owgateway-session"));
  const std::string err = gateway.Err();
  for (const char* line :
       {"(path separator in name): \"../escape.xml\"", "('..' in name): \"..\"",
        "(control character in name): \"bell\\x07\\x1B[2J.xml\"", "(name too long)",
        "(name reserved for the index)", "(hidden name): \".owgateway-session\"",
        "(path separator in name): \"../escape.htm\"",
        "lost gap.txt: block 2 came after block 1 was due"}) {
    EXPECT_TRUE(Contains(err, line)) << line;
  }
  // Names are quoted with their control characters escaped, the library's lines included.
  EXPECT_EQ(std::string::npos, err.find_first_of("\x07\x1b"));
}

// A file-size limit makes the write of big.xml fail just as ENOSPC would. The gateway stops
// without DONE; what it wrote stays whole; a restart resumes the session, reports the file it
// can no longer complete and carries on.
TEST_F(OwgatewayTest, AFullDiskStopsTheGatewayWithStatusOneAndKeepsWhatItWrote) {
  owwired::Options options;
  const std::string s1(3000, '1'), s2(3000, '2'), s3(3000, '3'), big(400000, 'b');
  options.files = {{"s1.xml", s1},   {"s1.rdf", "<r1/>"}, {"s2.xml", s2},     {"s2.rdf", "<r2/>"},
                   {"big.xml", big}, {"s3.xml", s3},      {"s3.rdf", "<r3/>"}};
  // The first connection is slow, so that the gateway stops while big.xml is under way.
  options.faults.faulty_connections = 1;
  options.faults.delay_ms = 10;
  Serve(141, options);
  ToolProcess gateway(OWGATEWAY_BIN, Args(), scratch_, 64 * 1024);
  EXPECT_EQ(1, gateway.Wait());
  EXPECT_TRUE(Contains(gateway.Err(), "cannot write " + out_ + "/.part-big.xml: File too large"));
  EXPECT_TRUE(Contains(gateway.Err(), "stopped because " + out_ + " cannot be written"));
  EXPECT_EQ((std::vector<std::string>{".owgateway-session", "index.html", "s1.rdf", "s1.xml",
                                      "s2.rdf", "s2.xml"}),
            EntriesIn(out_));
  EXPECT_EQ(s2, Written("s2.xml"));
  EXPECT_TRUE(Contains(Written("index.html"), "s2"));

  ToolProcess again(OWGATEWAY_BIN, Args({"--count", "1"}), scratch_);
  EXPECT_EQ(0, again.Wait());
  EXPECT_EQ(1u, server_->GetCounters().sessions_resumed);
  EXPECT_EQ(s3, Written("s3.xml"));
  EXPECT_FALSE(Exists("big.xml"));
  EXPECT_TRUE(Contains(again.Err(), "lost big.xml: block ")) << again.Err();
}

}  // namespace
}  // namespace owc_test
