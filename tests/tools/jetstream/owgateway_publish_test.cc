// SPDX-License-Identifier: MIT
// owgateway publishing to JetStream, end to end, against an in-process owwired and a
// nats-server of the test's own (64 KiB maximum payload, so that large files go in chunks):
// every file the wire server counts as delivered is in the stream once and whole.
#include <gtest/gtest.h>

#include <algorithm>

#include "jetstream_support.h"
#include "support/gateway_crash_run.h"
#include "support/tool_runner.h"
#include "support/wire_server.h"

namespace owc_test {
namespace {

constexpr int kMaxPayload = 64 * 1024;

[[maybe_unused]] const auto* const kNatsEnvironment =
    ::testing::AddGlobalTestEnvironment(new NatsLibraryEnvironment);

// Example stories (with their headlines), one made larger than a message by a comment after
// its root, and a binary file of no story.
std::vector<Sample> MixedFeed() {
  std::vector<Sample> files;
  for (const std::string& story :
       {std::string("tea-harvest"), std::string("river-ice"), std::string("chess-final")}) {
    std::string xml = TempDir::Read(ExampleStory(story));
    if (story == "river-ice") xml += "<!-- " + std::string(200000, 'c') + " -->\n";
    files.emplace_back(story + ".xml", xml);
    files.emplace_back(story + ".rdf", TempDir::Read(ExamplePath("stories/" + story + ".rdf")));
  }
  files.emplace_back("harbour.jpg", Bytes(300000, 3));
  return files;
}

class OwgatewayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindNatsServer().empty()) GTEST_SKIP() << "nats-server is not installed";
  }

  std::vector<std::string> Args(const std::string& wire, const std::string& out,
                                std::vector<std::string> more) {
    more.insert(more.begin(),
                {"--server", wire, "--out", out, "--progress", "0", "--quiet-warn", "0"});
    return more;
  }

  TempDir mRoot;
};

// A credentials or TLS file that cannot be read or used is a configuration to fix: one line,
// exit 2, before anything connects or the folder exists.
TEST_F(OwgatewayTest, AnUnusableCredentialsOrTlsFileExitsTwoAtTheStart) {
  const std::string missing = mRoot.File("missing"), never = mRoot.File("never");
  const std::string garbage = mRoot.File("garbage.pem");
  TempDir::Write(garbage, "not a certificate\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--nats-creds", missing}, missing + ": No such file or directory\n"},
      {{"--nats-ca", missing}, missing + ": No such file or directory\n"},
      {{"--nats-cert", garbage, "--nats-key", garbage}, "NATS TLS certificate: "},
  };
  for (const auto& [options, message] : cases) {
    std::vector<std::string> more = {"--publish", "nats://127.0.120.9:4222"};
    more.insert(more.end(), options.begin(), options.end());
    RunResult r = RunTool(OWGATEWAY_BIN, Args("127.0.120.9", never, more), mRoot.Path());
    EXPECT_EQ(2, r.status) << options[0];
    EXPECT_EQ(0u, r.err.rfind("owgateway: " + message, 0)) << r.err;
    EXPECT_EQ(1, std::count(r.err.begin(), r.err.end(), '\n')) << r.err;
    EXPECT_FALSE(std::filesystem::exists(never)) << options[0];
  }
}

TEST_F(OwgatewayTest, MixedFeedInModeTwoIsStoredOnceWithHeadersAlsoFromAStagingFolder) {
  NatsServer nats("n1", "127.0.120.1", kMaxPayload);
  ASSERT_TRUE(nats.Start());
  const std::string wire = "127.0.120.2";
  owwired::Options options;
  options.files = MixedFeed();
  options.blockSize = 16384;
  const size_t n = options.files.size();
  const auto served = StartServer(wire, options);
  ASSERT_FALSE(HasFailure());
  owwired::Server& server = *served;
  const std::string out = mRoot.File("out"), staged = mRoot.File("staged");
  const std::vector<std::string> modeTwo = {"--mode",  "2",       "--template",
                                            kTemplate, "--xlate", kTable};

  // Runs owgateway until the server delivered `total` files over all runs.
  auto run = [&](const std::string& folder, std::vector<std::string> more, size_t total) {
    more.insert(more.begin(), modeTwo.begin(), modeTwo.end());
    ToolProcess gateway(OWGATEWAY_BIN, Args(wire, folder, more), mRoot.Path());
    ASSERT_TRUE(server.WaitFor(
        [total](const owwired::Counters& c) { return c.filesDelivered >= total; }, 30000))
        << gateway.Err();
    EXPECT_EQ(0, gateway.Stop()) << gateway.Err();
  };
  run(out, {"--publish", nats.Url()}, n);
  std::vector<Sample> expected = options.files;
  for (const char* story : {"tea-harvest", "river-ice", "chess-final"}) {
    const std::string page = story + std::string(".htm");
    expected.emplace_back(page, TempDir::Read(out + "/" + page));
    EXPECT_FALSE(expected.back().second.empty()) << page << " was not written";
  }
  const std::vector<StoredMessage> messages = ExpectStreamHolds(nats.Url(), expected);

  const std::string prefix = owgateway::DefaultSubjectPrefix(wire);
  const std::map<std::string, std::string> types = {{"xml", "application/xml"},
                                                    {"rdf", "application/rdf+xml"},
                                                    {"htm", "text/html"},
                                                    {"jpg", "application/octet-stream"}};
  size_t riverIceChunks = 0;
  for (const auto& m : messages) {
    const std::string name = m.Header("Ow-File-Name"), ext = name.substr(name.rfind('.') + 1);
    const std::string story = name.substr(0, name.rfind('.')), kind = ext == "htm" ? "html" : "raw";
    SCOPED_TRACE(name);
    riverIceChunks += name == "river-ice.xml";
    EXPECT_EQ(kind, m.Header("Ow-Kind"));
    EXPECT_EQ(0u, m.subject.rfind(prefix + "." + kind + ".", 0)) << m.subject;
    EXPECT_EQ(types.at(ext), m.Header("Content-Type"));
    EXPECT_EQ(ext == "jpg" ? "" : story, m.Header("Ow-Story"));
    // The story's own in its XML, its page's title, none elsewhere.
    if (ext == "htm") {
      EXPECT_FALSE(m.Header("Ow-Headline").empty());
    } else {
      EXPECT_EQ(ext == "xml" ? SourceHeadline(story) : "", m.Header("Ow-Headline"));
    }
    EXPECT_EQ(24u, m.Header("Ow-Received").size()) << m.Header("Ow-Received");
  }
  EXPECT_GT(riverIceChunks, 1u) << "larger than a message, so in chunks";

  // The same feed again, from a new session, into a staging folder: everything reaches its
  // own stream, and the folder keeps only its own state.
  run(staged,
      {"--publish", nats.Url(), "--stream", "STAGED", "--subject", "staged.feed", "--publish-only",
       "--fresh"},
      2 * n);
  ExpectStreamHolds(nats.Url(), expected, "STAGED");
  for (const std::string& entry : EntriesIn(staged)) {
    EXPECT_TRUE(entry == "index.html" || entry == ".owgateway-session") << entry << " stayed";
  }
}

// Kills land anywhere: in a publish between two chunks, between the stream's acknowledgement
// and the wire's, in a rename. The restart publishes again what the server sends again, and
// the stream's de-duplication keeps one copy.
TEST_F(OwgatewayTest, SigkillAtRandomMomentsLeavesEveryFileInTheStreamOnce) {
  NatsServer nats("n1", "127.0.120.3", kMaxPayload);
  ASSERT_TRUE(nats.Start());
  std::vector<Sample> spool;
  CrashRunSettings settings;
  settings.gateway = OWGATEWAY_BIN;
  settings.address = "127.0.120.4";
  settings.seed = 20;
  settings.stories = 80;
  settings.pipeline = true;
  settings.gateway_args = {"--publish", nats.Url()};
  settings.spool_out = &spool;
  const CrashRunResult r = RunGatewayCrashes(settings);
  EXPECT_EQ(10u, r.kills);
  EXPECT_TRUE(r.finished);
  EXPECT_EQ(r.files, r.delivered);
  EXPECT_EQ("", r.problem);
  ExpectStreamHolds(nats.Url(), spool);
}

// While NATS is away nothing is acknowledged to the wire server, which therefore holds the
// rest of the feed; each change of state is told once.
TEST_F(OwgatewayTest, WaitsForNatsAtTheStartAndThroughACrashOfIt) {
  NatsServer nats("n1", "127.0.120.5", kMaxPayload);
  const std::string wire = "127.0.120.6";
  owwired::Options options;
  for (int i = 0; i < 300; ++i) {
    options.files.emplace_back("f" + std::to_string(i) + ".txt",
                               Bytes(i % 10 == 0 ? 150000 : 2000 + 37 * i, i));
  }
  options.blockSize = 8192;
  const auto served = StartServer(wire, options);
  ASSERT_FALSE(HasFailure());
  owwired::Server& server = *served;
  auto delivered = [&] { return server.GetCounters().filesDelivered; };
  ToolProcess gateway(OWGATEWAY_BIN, Args(wire, mRoot.File("out"), {"--publish", nats.Url()}),
                      mRoot.Path());

  ASSERT_TRUE(WaitUntil([&] { return Contains(gateway.Err(), "cannot reach NATS"); }))
      << gateway.Err();
  ASSERT_TRUE(WaitUntil([&] { return server.GetCounters().blocksSent > 0; }));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(0u, delivered()) << "acknowledged before NATS had the file";

  ASSERT_TRUE(nats.Start());
  ASSERT_TRUE(WaitUntil([&] { return delivered() >= 20; })) << gateway.Err();
  nats.Kill();
  ASSERT_TRUE(WaitUntil([&] { return Contains(gateway.Err(), "lost the connection"); }))
      << gateway.Err();
  const uint64_t atLoss = delivered();
  std::this_thread::sleep_for(std::chrono::seconds(1));
  // One file may have had its stream acknowledgement just before the kill.
  EXPECT_LE(delivered(), atLoss + 1) << "acknowledged while NATS was away";
  EXPECT_LT(delivered(), options.files.size());

  ASSERT_TRUE(nats.Start());
  const size_t n = options.files.size();
  EXPECT_TRUE(
      server.WaitFor([n](const owwired::Counters& c) { return c.filesDelivered >= n; }, 60000))
      << gateway.Err();
  EXPECT_EQ(0, gateway.Stop());
  const std::string log = gateway.Err();
  EXPECT_EQ(1u, CountOf(log, "cannot reach NATS")) << log;
  EXPECT_EQ(1u, CountOf(log, "lost the connection to NATS")) << log;
  EXPECT_TRUE(Contains(gateway.Out(), "(0 problems)")) << gateway.Out();
  ExpectStreamHolds(nats.Url(), options.files);
}

}  // namespace
}  // namespace owc_test
