// Each fault the server can inject, seen from a raw client.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>

#include "raw_client.h"
#include "server_fixture.h"

namespace owwired_test {
namespace {

using owwired::Counters;

class FaultsTest : public ServerTest {};

TEST_F(FaultsTest, SilentAfterMessagesSendsNothingMoreAndIgnoresTheClient) {
  owwired::Options options = OptionsFor(230);
  options.faults.silent_after = 2;  // the hello and the USER answer
  Start(options);
  RawClient client;
  Connect(&client);
  client.ReadText();
  client.Send("USER");
  EXPECT_EQ(client.ReadText(), "1000:+USER");
  client.Send("1000:FLTR ALL");
  client.Send("1000:HRTB");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.bytes_received == 5 + 14 + 10; }));
  EXPECT_FALSE(client.HasPendingBytes());
  EXPECT_EQ(counters().messages_received, 1u);  // read, but not handled
  EXPECT_TRUE(Logged("fault: going silent"));
}

TEST_F(FaultsTest, DropAfterBlocksClosesAndOnlyFaultyConnectionsAreHit) {
  owwired::Options options = OptionsFor(231);
  options.files = {{"a.xml", "abcdef"}};
  options.block_size = 2;
  options.faults.drop_after_blocks = 1;
  options.faults.faulty_connections = 1;
  Start(options);
  RawClient first;
  Connect(&first);
  std::string prefix = first.LogIn();
  first.Send(prefix + "RQST");
  first.ReadText();
  first.Send(prefix + "+ACK a.xml a.xml");
  Received block;
  ASSERT_TRUE(first.Read(&block));
  EXPECT_EQ(block.data, "ab");
  EXPECT_TRUE(first.WaitClosed());

  RawClient second;  // not faulty: resumes and gets the whole file
  Connect(&second);
  ASSERT_EQ(second.LogIn(SessionIdOf(prefix)), prefix);
  EXPECT_EQ(second.FetchFile(prefix), "abcdef");
}

TEST_F(FaultsTest, GoneAnswersOneRequestOverAllConnections) {
  owwired::Options options = OptionsFor(233);
  options.files = {{"a.txt", "a"}};
  options.faults.gone_at_request = 2;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "+FILE a.txt");
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "-RQST (410) Gone");
  EXPECT_EQ(client.FetchFile(prefix), "a");  // nothing was skipped
  client.Send(prefix + "RQST");
  EXPECT_EQ(client.ReadText(), prefix + "+RQST (204) No content");
  EXPECT_EQ(counters().requests_gone, 1u);
}

TEST_F(FaultsTest, GarbageAfterMessagesIsSentOnceBetweenMessages) {
  owwired::Options options = OptionsFor(234);
  options.faults.garbage_after = 1;
  Start(options);
  RawClient client;
  Connect(&client);
  EXPECT_EQ(client.ReadText().compare(0, 5, "+Tazu"), 0);
  std::string garbage = client.ReadText();
  ASSERT_FALSE(garbage.empty());
  EXPECT_EQ(garbage[0], '#');
  EXPECT_NE(garbage.find('\x80'), std::string::npos);
  client.Send("USER");
  EXPECT_EQ(client.ReadText(), "1000:+USER");
}

TEST_F(FaultsTest, OverlongMessageHasTheGivenSizeAndOneNul) {
  owwired::Options options = OptionsFor(236);
  options.faults.overlong_after = 1;
  options.faults.overlong_size = 70000;
  Start(options);
  RawClient client;
  Connect(&client);
  client.ReadText();
  Received message;
  ASSERT_TRUE(client.Read(&message));
  EXPECT_EQ(message.raw.size(), 70000u);
  EXPECT_EQ(message.text.compare(0, 6, "-UNKN "), 0);
  EXPECT_EQ(message.text.find('\0'), std::string::npos);
}

TEST_F(FaultsTest, OneByteWritesSendEachByteAlone) {
  owwired::Options options = OptionsFor(237);
  options.faults.one_byte_writes = true;
  Start(options);
  RawClient client;
  Connect(&client);
  EXPECT_EQ(client.ReadText(), "+Tazu owwired v1.00.00 v1.00.00");
  client.Send("USER");
  EXPECT_EQ(client.ReadText(), "1000:+USER");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.bytes_sent == 32 + 11; }));
  EXPECT_EQ(counters().write_calls, 32u + 11u);
}

TEST_F(FaultsTest, DelayHoldsEachMessageUntilTheClockPassesIt) {
  owwired::Options options = OptionsFor(239);
  auto now = std::make_shared<std::atomic<uint64_t>>(10000);
  options.clock_ms = [now] { return now->load(); };
  options.faults.delay_ms = 500;
  Start(options);
  RawClient client;
  Connect(&client);
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.messages_sent == 1; }));
  EXPECT_FALSE(client.HasPendingBytes());
  now->store(10499);
  uint64_t turns = counters().turns;
  server_->Wake();
  EXPECT_TRUE(WaitFor([turns](const Counters& c) { return c.turns > turns; }));
  EXPECT_FALSE(client.HasPendingBytes());
  now->store(10500);
  server_->Wake();
  EXPECT_EQ(client.ReadText().compare(0, 5, "+Tazu"), 0);
  client.Send("USER");
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.messages_sent == 2; }));
  EXPECT_FALSE(client.HasPendingBytes());
  now->store(11000);
  server_->Wake();
  EXPECT_EQ(client.ReadText(), "1000:+USER");
}

TEST_F(FaultsTest, RejectFilterAnswersNegativelyAndTheSessionGoesOn) {
  owwired::Options options = OptionsFor(240);
  options.faults.reject_filter = 0;  // no status; a status is written as --reject-user shows
  Start(options);
  RawClient client;
  Connect(&client);
  client.ReadText();
  client.Send("USER");
  client.ReadText();
  client.Send("1000:FLTR ALL");
  EXPECT_EQ(client.ReadText(), "1000:-FLTR");
  client.Send("1000:RQST");
  EXPECT_EQ(client.ReadText(), "1000:+RQST (204) No content");
}

TEST_F(FaultsTest, RejectUserCreatesNoSession) {
  owwired::Options options = OptionsFor(242);
  options.faults.reject_user = 401;
  Start(options);
  RawClient client;
  Connect(&client);
  client.ReadText();
  client.Send("USER");
  EXPECT_EQ(client.ReadText(), "-USER (401) Unauthorized");
  client.Send("77:USER");
  EXPECT_EQ(client.ReadText(), "77:-USER (401) Unauthorized");
  EXPECT_EQ(counters().sessions_created, 0u);
}

TEST_F(FaultsTest, DoneAfterFilesEndsTheSessionFromTheServer) {
  owwired::Options options = OptionsFor(243);
  options.files = {{"a.xml", "x"}, {"a.rdf", "y"}};
  options.faults.done_after_files = 1;
  Start(options);
  RawClient client;
  Connect(&client);
  std::string prefix = client.LogIn();
  EXPECT_EQ(client.FetchFile(prefix), "x");
  EXPECT_EQ(client.ReadText(), prefix + "DONE");
  EXPECT_TRUE(client.WaitClosed());
  RawClient again;
  Connect(&again);
  EXPECT_EQ(again.LogIn(SessionIdOf(prefix)), "1001:");  // the session was ended
}

TEST_F(FaultsTest, StopReadingLeavesLaterMessagesUnread) {
  owwired::Options options = OptionsFor(244);
  options.faults.stop_reading_after = 1;
  options.faults.faulty_connections = 1;
  Start(options);
  RawClient stuck;
  Connect(&stuck);
  stuck.ReadText();
  stuck.Send("USER");
  EXPECT_EQ(stuck.ReadText(), "1000:+USER");
  stuck.Send("1000:FLTR ALL");
  RawClient other;  // the loop serves another client meanwhile
  Connect(&other);
  EXPECT_EQ(other.LogIn(), "1001:");
  // USER of the first; USER, FLTR of the other. Had the first's FLTR been read, it would have
  // been handled no later than the other's USER.
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.messages_received >= 3; }));
  EXPECT_EQ(counters().messages_received, 3u);
  EXPECT_FALSE(stuck.HasPendingBytes());
}

}  // namespace
}  // namespace owwired_test
