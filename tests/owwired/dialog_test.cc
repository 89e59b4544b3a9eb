// The server's side of a wire session, driven over loopback by a raw client.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "raw_client.h"
#include "server_fixture.h"
#include "support/temp_dir.h"

namespace owwired_test {
namespace {

using owwired::Counters;

// 5000 bytes that contain NUL bytes and the text of both end markers, so only the length can
// cut the block correctly.
std::string TrickyData() {
  std::string data = std::string("BLKe\0BLKm\0", 10);
  for (int i = 0; data.size() < 5000; ++i) data += static_cast<char>(i % 256);
  return data;
}

class DialogTest : public ServerTest {};

TEST_F(DialogTest, HelloIsSentOnConnect) {
  Start(OptionsFor(200));
  RawClient client;
  Connect(&client);
  EXPECT_EQ(client.ReadBytes(32), std::string("+Tazu owwired v1.00.00 v1.00.00\0", 32));
}

TEST_F(DialogTest, UserWithoutIdGetsANewSessionEachTime) {
  Start(OptionsFor(201));
  RawClient first, second;
  Connect(&first);
  Connect(&second);
  first.ReadText();
  second.ReadText();
  first.Send("USER");
  second.Send("USER some-text");
  EXPECT_EQ(first.ReadText(), "1000:+USER");
  EXPECT_EQ(second.ReadText(), "1001:+USER");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.sessions_created == 2; }));
}

TEST_F(DialogTest, UserWithKnownIdResumesAndUnknownIdGetsANewOne) {
  Start(OptionsFor(202));
  RawClient first;
  Connect(&first);
  std::string prefix = first.LogIn();
  ASSERT_EQ(prefix, "1000:");
  first.Close();
  RawClient again, stranger;
  Connect(&again);
  Connect(&stranger);
  EXPECT_EQ(again.LogIn(1000), "1000:");
  EXPECT_EQ(stranger.LogIn(777), "1001:");
  EXPECT_TRUE(WaitFor(
      [](const Counters& c) { return c.sessions_resumed == 1 && c.sessions_created == 2; }));
  EXPECT_TRUE(Logged("session 1001 created (the id asked for is unknown)"));
}

TEST_F(DialogTest, FilterAcceptsAllAndStoryAndRejectsOthers) {
  Start(OptionsFor(203));
  RawClient client;
  Connect(&client);
  ASSERT_EQ(client.LogIn(), "1000:");
  client.Send("1000:FLTR story");
  EXPECT_EQ(client.ReadText(), "1000:+FLTR");
  client.Send("1000:FLTR SPORTS");
  EXPECT_EQ(client.ReadText(), "1000:-FLTR (400) Bad request");
  client.Send("1000:FLTR ALL WEATHER");
  EXPECT_EQ(client.ReadText(), "1000:-FLTR (400) Bad request");
  client.Send("1000:FLTR");
  EXPECT_EQ(client.ReadText(), "1000:-FLTR (400) Bad request");
}

TEST_F(DialogTest, RequestsBeforeUserAreRefusedUnauthorized) {
  Start(OptionsFor(204));
  RawClient client;
  Connect(&client);
  client.ReadText();
  client.Send("FLTR ALL");
  EXPECT_EQ(client.ReadText(), "-FLTR (401) Unauthorized");
  client.Send("5:RQST");
  EXPECT_EQ(client.ReadText(), "-RQST (401) Unauthorized");
  client.Send("5:+ACK 0");
  EXPECT_EQ(client.ReadText(), "-UNKN (401) Unauthorized");
  client.Send("5:DONE");
  EXPECT_EQ(client.ReadText(), "-DONE (401) Unauthorized");
  client.Send("5:HRTB");
  EXPECT_EQ(client.ReadText(), "5:+HRTB");
}

TEST_F(DialogTest, FileAndBlocksAreByteExact) {
  owwired::Options options = OptionsFor(205);
  options.files = {{"n.b.xml", TrickyData()}};
  Start(options);
  RawClient client;
  Connect(&client);
  ASSERT_EQ(client.LogIn(), "1000:");
  client.Send("1000:RQST");
  EXPECT_EQ(client.ReadBytes(27), std::string("1000:+FILE n.b.xml n.b.xml\0", 27));
  client.Send("1000:+ACK n.b.xml n.b.xml");
  std::string data = TrickyData();
  std::string head0 = std::string("1000:+BLK0:\x10\x00", 13);
  EXPECT_EQ(client.ReadBytes(13 + 4096 + 5),
            head0 + data.substr(0, 4096) + std::string("BLKm\0", 5));
  client.Send("1000:+ACK 0");
  std::string head1 = std::string("1000:+BLK1:\x03\x88", 13);  // 904 bytes
  EXPECT_EQ(client.ReadBytes(13 + 904 + 5), head1 + data.substr(4096) + std::string("BLKe\0", 5));
  client.Send("1000:+ACK 1");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.files_delivered == 1; }));
}

TEST_F(DialogTest, EachBlockWaitsForTheAckOfTheOneBefore) {
  owwired::Options options = OptionsFor(206);
  options.files = {{"a.xml", std::string(10, 'x')}};
  options.block_size = 4;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "+FILE a.xml a.xml");
  client.Send(prefix + "+ACK a.xml a.xml");
  Received block;
  ASSERT_TRUE(client.Read(&block));
  EXPECT_EQ(block.number, 0u);
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.messages_received == 4; }));
  EXPECT_EQ(counters().blocks_sent, 1u);
  EXPECT_FALSE(client.HasPendingBytes());
  client.Send(prefix + "+ACK 0");
  ASSERT_TRUE(client.Read(&block));
  EXPECT_EQ(block.number, 1u);
  client.Send(prefix + "+ACK 1");
  ASSERT_TRUE(client.Read(&block));
  EXPECT_EQ(block.number, 2u);
  EXPECT_EQ(block.data, "xx");
  EXPECT_TRUE(block.last());
  EXPECT_EQ(counters().files_delivered, 0u);  // the last block is not acknowledged yet
}

TEST_F(DialogTest, PipelineSendsEveryBlockBeforeAnyAckAndStillCountsAcks) {
  owwired::Options options = OptionsFor(207);
  options.files = {{"a.xml", std::string(10, 'x')}, {"a.rdf", "r"}};
  options.block_size = 4;
  options.pipeline = true;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "RQST");
  client.ReadText();
  client.Send(prefix + "+ACK a.xml a.xml");
  Received blocks[3];
  for (Received& block : blocks) ASSERT_TRUE(client.Read(&block));
  EXPECT_EQ(blocks[2].number, 2u);
  EXPECT_TRUE(blocks[2].last());
  client.Send(prefix + "+ACK 0");
  client.Send(prefix + "+ACK 1");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.blocks_acked == 2; }));
  EXPECT_EQ(counters().files_delivered, 0u);
  client.Send(prefix + "+ACK 2");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.files_delivered == 1; }));
  EXPECT_EQ(client.FetchFile(prefix), "r");
}

TEST_F(DialogTest, RequestAnswers204WhenNothingWaits) {
  owwired::Options options = OptionsFor(208);
  options.files = {{"only.txt", "text"}};
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  std::string names;
  EXPECT_EQ(client.FetchFile(prefix, &names), "text");
  EXPECT_EQ(names, "only.txt");
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "+RQST (204) No content");
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "+RQST (204) No content");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.requests_empty == 2; }));
}

TEST_F(DialogTest, EmptyFileIsOneBlockOfLengthZeroMarkedLast) {
  owwired::Options options = OptionsFor(209);
  options.files = {{"empty.xml", ""}};
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "RQST");
  client.ReadText();
  client.Send(prefix + "+ACK empty.xml empty.xml");
  EXPECT_EQ(client.ReadBytes(18), std::string("1000:+BLK0:\0\0BLKe\0", 18));
}

// A client that loses its connection mid-file and resumes: the file is announced again and
// continues at the first block that was not acknowledged.
TEST_F(DialogTest, ResumedSessionContinuesAtFirstUnacknowledgedBlock) {
  owwired::Options options = OptionsFor(210);
  options.files = {{"s.xml", "0123456789"}, {"s.rdf", "rdf"}};
  options.block_size = 3;
  Start(options);
  RawClient first;
  Connect(&first);
  std::string prefix = first.LogIn();
  first.Send(prefix + "RQST");
  first.ReadText();
  first.Send(prefix + "+ACK s.xml s.xml");
  Received block;
  ASSERT_TRUE(first.Read(&block));
  first.Send(prefix + "+ACK 0");
  ASSERT_TRUE(first.Read(&block));  // block 1 arrives but is never acknowledged
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.blocks_acked == 1; }));
  first.Close();
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.connections_open == 0; }));

  RawClient second;
  Connect(&second);
  ASSERT_EQ(second.LogIn(SessionIdOf(prefix)), prefix);
  std::string names;
  EXPECT_EQ(second.FetchFile(prefix, &names), "3456789");
  EXPECT_EQ(names, "s.xml s.xml");
  EXPECT_EQ(second.FetchFile(prefix, &names), "rdf");
  EXPECT_EQ(names, "s.xml s.rdf");
}

TEST_F(DialogTest, RestartFilesOptionResumesAtBlockZero) {
  owwired::Options options = OptionsFor(211);
  options.files = {{"s.xml", "0123456789"}};
  options.block_size = 3;
  options.restart_files = true;
  Start(options);
  RawClient first;
  Connect(&first);
  std::string prefix = first.LogIn();
  first.Send(prefix + "RQST");
  first.ReadText();
  first.Send(prefix + "+ACK s.xml s.xml");
  Received block;
  ASSERT_TRUE(first.Read(&block));
  first.Send(prefix + "+ACK 0");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.blocks_acked == 1; }));
  first.Close();

  RawClient second;
  Connect(&second);
  ASSERT_EQ(second.LogIn(SessionIdOf(prefix)), prefix);
  EXPECT_EQ(second.FetchFile(prefix), "0123456789");
}

TEST_F(DialogTest, RequestDuringATransferAnnouncesTheUnfinishedFileAgain) {
  owwired::Options options = OptionsFor(212);
  options.files = {{"s.xml", "abcdef"}};
  options.block_size = 2;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "RQST");
  client.ReadText();
  client.Send(prefix + "RQST");  // the FILE announcement was never acknowledged
  EXPECT_EQ(client.ReadText(), prefix + "+FILE s.xml s.xml");
  EXPECT_EQ(client.FetchFile(prefix), "abcdef");  // its RQST announces the file once more
}

TEST_F(DialogTest, DoneIsAnsweredEndsTheSessionAndClosesTheConnection) {
  Start(OptionsFor(213));
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "HRTB");
  EXPECT_EQ(client.ReadText(), prefix + "+HRTB");
  client.Send(prefix + "DONE");
  EXPECT_EQ(client.ReadText(), prefix + "+DONE");
  EXPECT_TRUE(client.WaitClosed());
  RawClient again;
  Connect(&again);
  EXPECT_EQ(again.LogIn(SessionIdOf(prefix)), "1001:");  // the ended session is forgotten
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.sessions_ended == 1; }));
}

TEST_F(DialogTest, UnknownAndServerOnlyKeywordsGetUnkn) {
  Start(OptionsFor(214));
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  for (const char* text : {"XYZZY", "FILE a b", "+BLK0", "Tazu", "UNKN"}) {
    client.Send(prefix + text);
    EXPECT_EQ(client.ReadText(), prefix + "-UNKN (400) Bad request") << text;
  }
  client.Send("rqst");  // keywords are read regardless of case, the prefix is not checked
  EXPECT_EQ(client.ReadText(), prefix + "+RQST (204) No content");
}

TEST_F(DialogTest, MalformedInputIsAnsweredAndTheSessionGoesOn) {
  Start(OptionsFor(215));
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  for (const std::string& text :
       {std::string("\x01\x02\xff"), std::string(""), std::string("12USER"), std::string("12:"),
        std::string("99999999999:RQST"), std::string("+"), std::string("1000:+ACK 0")}) {
    client.Send(text);
    std::string answer = client.ReadText();
    EXPECT_EQ(answer.compare(0, prefix.size() + 5, prefix + "-UNKN"), 0) << answer;
  }
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "+RQST (204) No content");
}

TEST_F(DialogTest, AcksThatFitNothingAreRefusedAsConflicts) {
  owwired::Options options = OptionsFor(216);
  options.files = {{"a.xml", "abcd"}};
  options.block_size = 2;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "RQST");
  client.ReadText();
  client.Send(prefix + "+ACK a.xml b.xml");
  EXPECT_EQ(client.ReadText(), prefix + "-UNKN (409) Conflict");
  client.Send(prefix + "+ACK a.xml a.xml");
  Received block;
  ASSERT_TRUE(client.Read(&block));
  client.Send(prefix + "+ACK 1");  // not sent yet
  EXPECT_EQ(client.ReadText(), prefix + "-UNKN (409) Conflict");
  client.Send(prefix + "+ACK x");
  EXPECT_EQ(client.ReadText(), prefix + "-UNKN (400) Bad request");
  client.Send(prefix + "+ACK 0");
  ASSERT_TRUE(client.Read(&block));
  EXPECT_EQ(block.number, 1u);
  client.Send(prefix + "+ACK 0");  // a repeated ACK is ignored
  client.Send(prefix + "+ACK 1");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.files_delivered == 1; }));
  EXPECT_FALSE(client.HasPendingBytes());
}

TEST_F(DialogTest, OverlongClientMessagesCloseTheConnectionAndServingGoesOn) {
  Start(OptionsFor(217));
  RawClient client;
  Connect(&client);
  client.ReadText();
  client.SendRaw(std::string(20000, 'A'));
  EXPECT_TRUE(client.WaitClosed());
  RawClient terminated;  // a message with its NUL, but longer than any client message
  Connect(&terminated);
  terminated.ReadText();
  terminated.Send("USER " + std::string(5000, 'u'));
  EXPECT_TRUE(terminated.WaitClosed());
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.oversized_inputs == 2; }));
  RawClient next;  // the server goes on serving
  Connect(&next);
  EXPECT_EQ(next.LogIn(), "1000:");
}

TEST_F(DialogTest, MessagesSplitIntoPiecesOrSentTogetherAreAllHandled) {
  Start(OptionsFor(219));
  RawClient client;
  Connect(&client);
  client.ReadText();
  for (char c : std::string("USER\0", 5)) client.SendRaw(std::string(1, c));
  EXPECT_EQ(client.ReadText(), "1000:+USER");
  client.SendRaw(std::string("1000:HRTB\0001000:FLTR ALL\0001000:RQST\0", 34));
  EXPECT_EQ(client.ReadText(), "1000:+HRTB");
  EXPECT_EQ(client.ReadText(), "1000:+FLTR");
  EXPECT_EQ(client.ReadText(), "1000:+RQST (204) No content");
}

TEST_F(DialogTest, SeveralClientsAtOnceEachGetEveryFile) {
  owwired::Options options = OptionsFor(220);
  options.generate_stories = 2;
  options.story_size = 9000;
  options.block_size = 1000;
  Start(options);
  RawClient clients[3];
  std::string prefixes[3];
  for (int i = 0; i < 3; ++i) {
    Connect(&clients[i]);
    prefixes[i] = clients[i].LogIn();
  }
  std::string received[3];
  for (int file = 0; file < 4; ++file) {
    for (int i = 0; i < 3; ++i) received[i] += clients[i].FetchFile(prefixes[i]);
  }
  EXPECT_EQ(received[0], received[1]);
  EXPECT_EQ(received[0], received[2]);
  EXPECT_NE(received[0].find("</nitf>"), std::string::npos);
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.files_delivered == 12; }));
}

TEST_F(DialogTest, ResumingOnASecondConnectionClosesTheFirst) {
  Start(OptionsFor(221));
  RawClient first, second;
  Connect(&first);
  std::string prefix = first.LogIn();
  Connect(&second);
  ASSERT_EQ(second.LogIn(SessionIdOf(prefix)), prefix);
  EXPECT_TRUE(first.WaitClosed());
  second.Send(prefix + "RQST");
  EXPECT_EQ(second.ReadText(), prefix + "+RQST (204) No content");
}

TEST_F(DialogTest, ConnectionsBeyondTheLimitAreClosed) {
  owwired::Options options = OptionsFor(222);
  options.max_clients = 1;
  Start(options);
  RawClient first, second;
  Connect(&first);
  EXPECT_EQ(first.LogIn(), "1000:");
  Connect(&second);
  EXPECT_TRUE(second.WaitClosed());
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.connections_refused == 1; }));
}

// A client that sends without reading its answers: the server stops reading it instead of
// queueing answers without bound, and answers every request once the client reads again.
TEST_F(DialogTest, ClientThatDoesNotReadIsNoLongerReadUntilItCatchesUp) {
  owwired::Options options = OptionsFor(225);
  options.output_limit = 4096;
  Start(options);
  RawClient client;
  client.set_receive_buffer(4096);
  Connect(&client);
  std::string prefix = client.LogIn();
  constexpr int kRequests = 100000;
  std::string flood;
  for (int i = 0; i < kRequests; ++i) flood += prefix + "HRTB" + std::string(1, '\0');
  std::thread sender([&] { client.SendRaw(flood); });
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.input_pauses >= 1; }));
  int answers = 0;
  Received answer;
  while (answers < kRequests && client.Read(&answer) && answer.text == prefix + "+HRTB") ++answers;
  sender.join();
  EXPECT_EQ(answers, kRequests);
}

// Random bytes, NULs and keywords among them, in random pieces: answered or dropped, never a
// crash, and the server goes on serving.
TEST_F(DialogTest, RandomInputNeverStopsTheServer) {
  owwired::Options options = OptionsFor(226);
  options.files = {{"a.xml", "abc"}};
  options.verbosity = 0;
  Start(options);
  std::mt19937 random(2024);
  const char* pieces[] = {"USER", "1000:", "RQST", "+ACK ", "FLTR ALL", "0", "a.xml", " "};
  for (int round = 0; round < 20; ++round) {
    RawClient client;
    Connect(&client);
    std::string input;
    while (input.size() < 20000) {
      if (random() % 4 == 0) {
        input += pieces[random() % 8];
      } else {
        input += static_cast<char>(random() % 4 == 0 ? 0 : random() % 256);
      }
    }
    client.SendRaw(input);
  }
  RawClient last;
  Connect(&last);
  std::string prefix = last.LogIn();
  ASSERT_FALSE(prefix.empty());
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.connections_accepted == 21; }));
}

TEST_F(DialogTest, RescanServesFilesAddedToTheSpoolLater) {
  owc_test::TempDir spool;
  owc_test::TempDir::Write(spool.File("first.txt"), "1");
  owwired::Options options = OptionsFor(227);
  options.spool_dir = spool.Path();
  options.rescan = true;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  EXPECT_EQ(client.FetchFile(prefix), "1");
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "+RQST (204) No content");
  owc_test::TempDir::Write(spool.File("second.txt"), "2");
  EXPECT_EQ(client.FetchFile(prefix), "2");
}

TEST_F(DialogTest, ExitWhenDoneEndsTheServerAfterEverythingWasDelivered) {
  owwired::Options options = OptionsFor(223);
  options.files = {{"a.txt", "a"}};
  options.exit_when_done = true;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "DONE");  // nothing delivered yet: the server goes on
  EXPECT_EQ(client.ReadText(), prefix + "+DONE");
  RawClient second;
  Connect(&second);
  prefix = second.LogIn();
  EXPECT_EQ(second.FetchFile(prefix), "a");
  EXPECT_FALSE(counters().stopped);
  second.Send(prefix + "DONE");
  EXPECT_EQ(second.ReadText(), prefix + "+DONE");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.stopped; }));
}

TEST_F(DialogTest, IdleExitEndsTheServerWhenTheClockPassesTheLimit) {
  owwired::Options options = OptionsFor(224);
  auto now = std::make_shared<std::atomic<uint64_t>>(1000);
  options.clock_ms = [now] { return now->load(); };
  options.idle_exit_seconds = 5;
  Start(options);
  RawClient client;
  Connect(&client);
  client.ReadText();
  now->store(100000);  // a client is connected: not idle
  server_->Wake();
  client.Close();
  EXPECT_TRUE(WaitFor(
      [](const Counters& c) { return c.connections_accepted == 1 && c.connections_open == 0; }));
  now->store(104999);
  uint64_t turns = counters().turns;
  server_->Wake();
  EXPECT_TRUE(WaitFor([turns](const Counters& c) { return c.turns > turns; }));
  EXPECT_FALSE(counters().stopped);
  now->store(105000);
  server_->Wake();
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.stopped; }));
}

}  // namespace
}  // namespace owwired_test
