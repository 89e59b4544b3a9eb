// SPDX-License-Identifier: MIT
// The server's side of a wire session, driven over loopback by a raw client.
#include <expat.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <thread>
#include <vector>

#include "server_fixture.h"
#include "story_generator.h"
#include "support/temp_dir.h"

namespace owc_test {
namespace {

const char kNoContent[] = "+RQST (204) No content";

bool WellFormed(const std::string& document) {  // namespaces included
  XML_Parser parser = XML_ParserCreateNS("UTF-8", ':');
  bool ok = XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1);
  XML_ParserFree(parser);
  return ok;
}

// Ids start just below the signed limit and wrap; two sessions at most are remembered.
TEST_F(OwwiredTest, SessionsAreCreatedResumedTakenOverEndedAndForgotten) {
  Start(201, [](Options& o) {
    o.firstSessionId = 0x7FFFFFFF;
    o.maxSessions = 2;
  });
  RawClient& first = Connected();
  first.ReadText();
  EXPECT_EQ(first.Ask("USER some-text"), "2147483647:+USER");
  RawClient& again = LoggedIn(0x7FFFFFFF);  // takes the session over: the first is closed
  EXPECT_TRUE(first.WaitClosed());
  RawClient& stranger = LoggedIn(777);
  EXPECT_EQ(stranger.prefix, "1:");
  Exchange(stranger, {{"HRTB", "+HRTB"}, {"DONE", "+DONE"}});
  EXPECT_TRUE(stranger.WaitClosed());
  RawClient& idle = LoggedIn(1);  // the ended session is gone: this is session 2
  idle.Close();
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.connectionsOpen == 1; }));
  EXPECT_EQ(LoggedIn().prefix, "3:");  // the table is full: idle session 2 is forgotten
  RawClient& late = Connected();
  late.ReadText();
  EXPECT_EQ(late.Ask("2:USER"), "2:-USER (503) Service unavailable");  // the rest are held
  EXPECT_EQ(again.Ask("2147483647:RQST"), "2147483647:+RQST (204) No content");
}

TEST_F(OwwiredTest, TextRequestsGetTheirExactAnswersAndTheSessionGoesOn) {
  Start(204, [](Options& o) { o.verbosity = 2; });  // every message logged, binary ones too
  RawClient& client = Connected();
  client.ReadText();
  Exchange(client, {{"FLTR ALL", "-FLTR (401) Unauthorized"},
                    {"5:RQST", "-RQST (401) Unauthorized"},
                    {"5:+ACK 0", "-UNKN (401) Unauthorized"},
                    {"5:DONE", "-DONE (401) Unauthorized"},
                    {"5:HRTB", "5:+HRTB"},
                    {"-5:HRTB", "4294967291:+HRTB"}});  // a signed id, read as its bits
  for (char c : std::string("USER\0", 5)) client.SendRaw(std::string(1, c));  // byte by byte
  EXPECT_EQ(client.ReadText(), "1000:+USER");
  client.prefix = "1000:";
  const std::string bad_filter = "-FLTR (400) Bad request";
  Exchange(client, {{"FLTR story", "+FLTR"},
                    {"FLTR SPORTS", bad_filter},
                    {"FLTR ALL WEATHER", bad_filter},
                    {"FLTR", bad_filter},
                    {"+ACK 0", "-UNKN (409) Conflict"}});        // no file under way
  EXPECT_EQ(client.Ask("rqst"), "1000:+RQST (204) No content");  // any case; no prefix needed
  // Keywords only a server sends, unknown ones, and what is no message at all.
  for (std::string text : {"1000:XYZZY", "1000:FILE a b", "1000:+BLK0", "1000:Tazu", "1000:UNKN",
                           "1000:USERS", "\x01\x02\xff", "", "   ", "12USER",
                           "12:", "4294967296:RQST", "+", "1:-", "US\x01R", "USER\x7f"}) {
    EXPECT_EQ(client.Ask(text), "1000:-UNKN (400) Bad request") << text;
  }
}

// Spool files in order, cut into blocks that each wait for their ACK. NULs and the text of both
// end markers in the data: only the length can cut the block.
TEST_F(OwwiredTest, SpoolFilesTravelByteExactInBlocksThatEachWaitForTheirAck) {
  std::string data("BLKe\0BLKm\0", 10);
  for (int i = 0; data.size() < 5000; ++i) data += static_cast<char>(i % 256);
  TempDir spool;
  TempDir::Write(spool.File("n.b.xml"), data);
  for (const char* name : {"empty.xml", "s.jpg", "s.rdf", "s.xml", "s-t.rdf", "s-t.xml", "x.txt",
                           ".hidden", "with space.xml"}) {
    TempDir::Write(spool.File(name), name == std::string("empty.xml") ? "" : name);
  }
  ::mkdir(spool.File("sub.xml").c_str(), 0700);
  Start(205, [&](Options& o) {
    o.spoolDir = spool.Path();
    o.rescan = true;
  });
  RawClient& client = LoggedIn();
  EXPECT_EQ(client.OpenFile(), "empty.xml empty.xml");
  Received block;
  client.NextBlock(true, &block);
  EXPECT_EQ(block.raw, std::string("1000:+BLK0:\0\0BLKe\0", 18));  // one empty block, the last
  const std::string conflict = "-UNKN (409) Conflict", bad = "-UNKN (400) Bad request";
  // Unacknowledged, the FILE is announced again.
  Exchange(client, {{"RQST", "+FILE n.b.xml n.b.xml"},
                    {"RQST", "+FILE n.b.xml n.b.xml"},
                    {"+ACK n.b.xml b.xml", conflict}});
  client.Send("1000:+ACK n.b.xml\tn.b.xml");
  client.NextBlock(false, &block);
  EXPECT_EQ(block.raw, std::string("1000:+BLK0:\x10\x00", 13) + data.substr(0, 4096) +
                           std::string("BLKm\0", 5));
  // Answers, not block 1, come next: it waits for the ACK of block 0.
  Exchange(client,
           {{"+ACK 1", conflict}, {"+ACK x", bad}, {"+ACK +0", bad}, {"+ACK 00000000000", bad}});
  EXPECT_FALSE(client.HasPendingBytes());
  client.Send("1000:+ACK 0");
  client.NextBlock(false, &block);
  EXPECT_EQ(block.raw,
            std::string("1000:+BLK1:\x03\x88", 13) + data.substr(4096) + std::string("BLKe\0", 5));
  EXPECT_EQ(counters().filesDelivered, 1u);  // its last block is not acknowledged yet
  client.Send("1000:+ACK 0");                // repeated: ignored
  client.Send("1000:+ACK 1");
  // Each story's XML, its RDF, then its other files, stories by name; no hidden file, folder or
  // name with white space.
  for (std::string names : {"s.xml s.xml", "s.xml s.rdf", "s.xml s.jpg", "s-t.xml s-t.xml",
                            "s-t.xml s-t.rdf", "x.txt"}) {
    std::string announced;
    EXPECT_EQ(client.FetchFile(&announced), names.substr(names.rfind(' ') + 1));
    EXPECT_EQ(announced, names);
  }
  Exchange(client, {{"RQST", kNoContent}, {"RQST", kNoContent}});
  TempDir::Write(spool.File("later.txt"), "2");
  EXPECT_EQ(client.FetchFile(), "2");  // found by the rescan
}

// A client that lost its connection mid-file resumes at the first block it did not acknowledge
// (pipelined blocks too), or at block 0 with the restart option; the file is announced again.
TEST_F(OwwiredTest, ResumedSessionContinuesAtFirstUnacknowledgedBlockOrRestarts) {
  for (int mode = 0; mode < 3; ++mode) {
    bool restart = mode == 1, pipeline = mode == 2;
    SCOPED_TRACE(mode);
    Start(210 + mode, [&](Options& o) {
      o.files = {{"s.xml", "0123456789"}, {"s.rdf", "rdf"}};
      o.blockSize = 3;
      o.restartFiles = restart;
      o.pipeline = pipeline;
    });
    RawClient& first = LoggedIn();
    first.OpenFile();
    std::string got = first.NextBlock(false);
    for (int i = 0; pipeline && i < 3; ++i) got += first.NextBlock(false);  // before any ACK
    first.Send("1000:+ACK 0");
    if (!pipeline) got += first.NextBlock(false);  // sent once block 0 is acknowledged
    EXPECT_EQ(got, pipeline ? "0123456789" : "012345");
    first.Close();
    EXPECT_TRUE(WaitFor([](const Counters& c) { return c.connectionsOpen == 0; }));
    RawClient& second = LoggedIn(1000);
    ASSERT_EQ(second.prefix, "1000:");
    EXPECT_EQ(second.FetchFile(), restart ? "0123456789" : "3456789");
    EXPECT_EQ(second.FetchFile(), "rdf");
  }
}

// Over-long client messages close their connection; a client that sends without reading is not
// read (its answers are not queued without bound) until it reads again, and gets every answer.
TEST_F(OwwiredTest, HostileClientsNeitherStopTheServerNorGrowItsBuffers) {
  Start(217, [](Options& o) {
    o.files = {{"a.xml", "abc"}};
    o.outputLimit = 4096;
  });
  RawClient& unterminated = Connected();
  unterminated.SendRaw(std::string(20000, 'A'));
  RawClient& terminated = Connected();  // with its NUL, but longer than any client message
  terminated.Send("USER " + std::string(5000, 'u'));
  EXPECT_TRUE(unterminated.WaitClosed() && terminated.WaitClosed());
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.oversizedInputs == 2; }));
  RawClient& client = Connected(4096);
  ASSERT_NE(client.LogIn(), "");
  constexpr int kRequests = 100000;
  std::string flood;
  for (int i = 0; i < kRequests; ++i) flood += client.prefix + "HRTB" + '\0';
  std::thread sender([&] { client.SendRaw(flood); });
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.inputPauses >= 1; }));
  int answers = 0;
  while (answers < kRequests && client.ReadText() == client.prefix + "+HRTB") ++answers;
  sender.join();
  EXPECT_EQ(answers, kRequests);
  EXPECT_EQ(client.FetchFile(), "abc");
}

TEST_F(OwwiredTest, SeveralClientsAtOnceEachGetTheGeneratedCorpusAndOneMoreIsRefused) {
  Start(220, [](Options& o) {
    o.generateStories = 2;
    o.storySize = 9000;
    o.blockSize = 1000;
    o.maxClients = 3;
  });
  RawClient* clients[] = {&LoggedIn(), &LoggedIn(), &LoggedIn()};
  EXPECT_TRUE(Connected().WaitClosed());
  std::vector<std::string> files[3];
  std::string names;
  for (int file = 0; file < 4; ++file) {
    for (int i = 0; i < 3; ++i) files[i].push_back(clients[i]->FetchFile(&names));
  }
  EXPECT_EQ(names, "story00002.xml story00002.rdf");
  EXPECT_TRUE(files[0] == files[1] && files[0] == files[2]);
  EXPECT_EQ(files[0][0], owwired::GenerateStoryXml(1, 9000));  // the same bytes on every run
  EXPECT_TRUE(files[0][2].size() >= 9000 && files[0][2].size() < 9400);
  EXPECT_TRUE(WellFormed(files[0][2]) && files[0][2].find("<nitf>") != std::string::npos);
  EXPECT_TRUE(WellFormed(files[0][3]) &&
              files[0][3].find(owwired::kMetaNamespace) != std::string::npos);
}

}  // namespace
}  // namespace owc_test
