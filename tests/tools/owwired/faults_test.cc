// SPDX-License-Identifier: MIT
// Each fault the server can inject, seen from a raw client.
#include <gtest/gtest.h>

#include <string>

#include "server_fixture.h"

namespace owc_test {
namespace {

// On the first connection only: garbage and an over-long message after the hello, every byte
// in a send() of its own, and silence after three messages.
TEST_F(OwwiredTest, ByteStreamFaultsHitOnlyTheFaultyConnection) {
  Start(234, [](Options& o) {
    o.faults.faultyConnections = 1;
    o.faults.garbageAfter = 1;
    o.faults.overlongAfter = 1;
    o.faults.overlongSize = 9000;
    o.faults.oneByteWrites = true;
    o.faults.silentAfter = 3;
  });
  RawClient& client = Connected();
  Received hello, garbage, overlong;
  ASSERT_TRUE(client.Read(&hello) && client.Read(&garbage) && client.Read(&overlong));
  EXPECT_EQ(hello.raw, std::string("+Tazu owwired v1.00.00 v1.00.00\0", 32));
  EXPECT_EQ(garbage.raw.substr(0, 1), "#");
  EXPECT_NE(garbage.raw.find('\x80'), std::string::npos);
  EXPECT_EQ(overlong.raw.size(), 9000u);  // one NUL, at the end
  EXPECT_EQ(overlong.raw.compare(0, 6, "-UNKN "), 0);
  EXPECT_EQ(client.Ask("USER"), "1000:+USER");
  EXPECT_EQ(client.Ask("1000:FLTR ALL"), "1000:+FLTR");
  client.Send("1000:HRTB");
  size_t sent = hello.raw.size() + garbage.raw.size() + 9000 + 11 + 11;
  EXPECT_TRUE(WaitFor(
      [sent](const Counters& c) { return c.bytesSent == sent && c.bytesReceived == 5 + 14 + 10; }));
  EXPECT_EQ(counters().writeCalls, sent);
  EXPECT_EQ(counters().messagesReceived, 2u);  // the HRTB is read, but not handled
  EXPECT_FALSE(client.HasPendingBytes());
  EXPECT_EQ(LoggedIn().prefix, "1001:");
}

// The clock holds each message back, then, once the last client has left, ends the server.
TEST_F(OwwiredTest, DelayHoldsEachMessageAndIdleExitWaitsUntilTheClockPassesIt) {
  Start(239, [this](Options& o) {
    o.clockMs = ManualClock(10000);
    o.faults.delayMs = 500;
    o.idleExitSeconds = 5;
  });
  RawClient& client = Connected();
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.messagesSent == 1; }));
  MoveClockTo(10499);
  EXPECT_FALSE(client.HasPendingBytes());
  MoveClockTo(10500);
  EXPECT_EQ(client.ReadText().compare(0, 5, "+Tazu"), 0);
  MoveClockTo(100000);  // a client is connected: not idle
  client.Close();
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.connectionsOpen == 0; }));
  MoveClockTo(104999);
  EXPECT_FALSE(counters().stopped);
  MoveClockTo(105000);
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.stopped; }));
}

// The first connection is dropped after one block; the second, resuming, has its RQST (the
// process's second) answered Gone, then gets the whole file and DONE, which ends the session.
TEST_F(OwwiredTest, DropGoneAndDoneAfterFilesLoseNothing) {
  Start(231, [](Options& o) {
    o.files = {{"a.xml", "abcdef"}, {"a.rdf", "y"}};
    o.blockSize = 2;
    o.faults.goneAtRequest = 2;
    o.faultsForConnection = [](uint32_t connection) {
      owwired::Faults faults;
      (connection == 1 ? faults.dropAfterBlocks : faults.doneAfterFiles) = 1;
      return faults;
    };
  });
  RawClient& first = LoggedIn();
  first.OpenFile();
  EXPECT_EQ(first.NextBlock(false), "ab");
  EXPECT_TRUE(first.WaitClosed());
  RawClient& second = LoggedIn(1000);
  EXPECT_EQ(second.Ask("1000:RQST"), "1000:-RQST (410) Gone");
  EXPECT_EQ(second.FetchFile(), "abcdef");
  EXPECT_EQ(second.ReadText(), "1000:DONE");
  EXPECT_TRUE(second.WaitClosed());
  EXPECT_EQ(LoggedIn(1000).prefix, "1001:");  // the session was ended
}

// The first connection's USER is refused, the second's FLTR; the third stops being read after
// its USER while a fourth is served.
TEST_F(OwwiredTest, RejectsAndStopReadingActOnTheirConnectionAlone) {
  Start(240, [](Options& o) {
    o.faultsForConnection = [](uint32_t connection) {
      owwired::Faults faults;
      faults.rejectUser = connection == 1 ? 401 : -1;
      faults.rejectFilter = connection == 2 ? 0 : -1;  // 0: no status
      faults.stopReadingAfter = connection == 3 ? 1 : -1;
      return faults;
    };
  });
  RawClient& refused = Connected();
  refused.ReadText();
  Exchange(refused,
           {{"USER", "-USER (401) Unauthorized"}, {"77:USER", "77:-USER (401) Unauthorized"}});
  RawClient& filtered = Connected();
  filtered.ReadText();
  Exchange(filtered, {{"USER", "1000:+USER"},
                      {"1000:FLTR ALL", "1000:-FLTR"},
                      {"1000:RQST", "1000:+RQST (204) No content"}});
  RawClient& stuck = Connected();
  stuck.ReadText();
  EXPECT_EQ(stuck.Ask("USER"), "1001:+USER");
  stuck.Send("1001:FLTR ALL");
  EXPECT_EQ(LoggedIn().prefix, "1002:");
  // Had the stuck client's FLTR been read, it would have been handled before the last USER.
  EXPECT_TRUE(WaitFor([](const Counters& c) { return c.messagesReceived >= 8; }));
  EXPECT_EQ(counters().messagesReceived, 8u);
  EXPECT_FALSE(stuck.HasPendingBytes());
}

}  // namespace
}  // namespace owc_test
