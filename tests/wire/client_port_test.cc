// SPDX-License-Identifier: MIT
#include "wire/client_port.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/clock.h"
#include "support/failing_new.h"
#include "support/log_capture.h"
#include "support/raw_socket.h"
#include "support/refused_allocations.h"
#include "support/wait.h"
#include "support/wire_bytes.h"
#include "wire/client_connect.h"
#include "wire/client_thread.h"

namespace owc_test {
namespace {

using owc::WCOWClientPort;
using Texts = std::vector<std::string>;
using namespace std::string_literals;

// Removes and describes every queued message.
Texts Take(WCOWClientPort& port) {
  Texts out;
  while (WCXMLWireMsg* raw = port.GetRXMsg()) {
    std::unique_ptr<WCXMLWireMsg> m(raw);
    std::ostringstream s;
    s << GetMsgKeyword(m->GetType())
      << " sid=" << (m->HasSessionID() ? std::to_string(m->GetSessionID()) : "-")
      << " ack=" << (m->GetAckType() != 0 ? static_cast<char>(m->GetAckType()) : '0')
      << " status=" << m->GetStatus();
    if (auto* b = dynamic_cast<const WCXMLWireMsgRequestBlockAck*>(m.get())) {
      s << " block=" << b->GetBlockNumber() << " last=" << int{b->IsLastBlock()}
        << " data=" << std::string(reinterpret_cast<const char*>(b->GetData()), b->GetDataLength());
    }
    if (auto* f = dynamic_cast<const WCXMLWireMsgRequestFileAck*>(m.get())) {
      s << " names=" << f->GetName1() << "," << (f->GetName2() ? f->GetName2() : "(none)");
    }
    if (auto* h = dynamic_cast<const WCXMLWireMsgHello*>(m.get())) {
      s << " v" << h->GetMajor1() << "." << h->GetMinor1() << "." << h->GetPatch1() << " v"
        << h->GetMajor2() << "." << h->GetMinor2() << "." << h->GetPatch2();
    }
    out.push_back(s.str());
  }
  return out;
}

uint32_t Parse(WCOWClientPort& port, const std::string& bytes) {
  return port.ParseRXMsg(bytes.c_str(), static_cast<uint32_t>(bytes.size()));
}

Texts FailureLines(const LogCapture& log) {
  Texts out;
  for (const auto& line : log.Lines()) {
    if (line.severity == 0) out.push_back(line.text);
  }
  return out;
}

// One parse of all the messages in a row: each is queued as described, or dropped ("").
TEST(ClientPortTest, EveryRuleOfTheReceivedMessageTable) {
  const std::string tricky("a\0BLKe\0\0BLK9:\0z", 15);
  const std::pair<std::string, std::string> cases[] = {
      {WireText("+Tazu Srv v1.00.00 v2.03.04"), "Tazu sid=- ack=+ status=0 v1.0.0 v2.3.4"},
      {WireText("7:+USER"), "USER sid=7 ack=+ status=0"},
      // A hello needs four tokens and versions with a v; its session ID is not kept.
      {WireText("+Tazu Srv v1.00.00"), ""},
      {WireText("+Tazu Srv 1.00.00 v2.03.04"), ""},
      {WireText("Tazu Srv v1.00.00 v2.03.04 extra"), ""},
      {WireText("9:Tazu Srv v3.1.2 v4.5.6"), "Tazu sid=- ack=+ status=0 v3.1.2 v4.5.6"},
      // Answers without a session ID carry 0; the ID is read unsigned, after blanks.
      {WireText("+RQST (204) No content"), "RQST sid=0 ack=+ status=204"},
      {WireText("-FLTR"), "FLTR sid=0 ack=- status=0"},
      {WireText("4294967295:+RQST (410) Gone"), "RQST sid=4294967295 ack=+ status=410"},
      {WireText(" 12:+FLTR (x)"), "FLTR sid=12 ack=+ status=0"},
      // Heartbeat and DONE need a session ID; DONE is always an answer.
      {WireText("HRTB"), ""},
      {WireText("+HRTB"), ""},
      {WireText("DONE"), ""},
      {WireText("5:HRTB"), "HRTB sid=5 ack=0 status=0"},
      {WireText("5:+HRTB"), "HRTB sid=5 ack=+ status=0"},
      {WireText("5:DONE"), "DONE sid=5 ack=+ status=0"},
      {WireText("6:-DONE"), "DONE sid=6 ack=+ status=0"},
      // FILE takes one or two names (any blank between) and needs an ack.
      {WireText("5:+FILE parent.xml\tchild.rdf"),
       "FILE sid=5 ack=+ status=0 names=parent.xml,child.rdf"},
      {WireText("5:+FILE only.xml"), "FILE sid=5 ack=+ status=0 names=only.xml,(none)"},
      {WireText("5:+FILE"), ""},
      {WireText("5:FILE a.xml"), ""},
      {WireText("-UNKN (405)"), "UNKN sid=- ack=- status=405"},
      {WireText("UNKN"), "UNKN sid=- ack=- status=0"},
      {WireText("3:+rqst"), "RQST sid=3 ack=+ status=0"},
      {WireText("3:+user"), "USER sid=3 ack=+ status=0"},
      // A block is cut by its length, not its content; the marker's case and last letter
      // only tell the last block: any other four bytes, and any byte in the NUL's place,
      // mean that more blocks follow. Without an ack it is dropped.
      {WireBlock("7:+BLK3:", tricky, "BLKm"),
       "BLK sid=7 ack=+ status=0 block=3 last=0 data=" + tricky},
      {WireBlock("7:+BLK4:", "", "blke"), "BLK sid=7 ack=+ status=0 block=4 last=1 data="},
      {WireBlock("+BLK5:", "xy", "BLKx"), "BLK sid=0 ack=+ status=0 block=5 last=0 data=xy"},
      {WireBlock("+BLK8:", "zz", "XXXX"), "BLK sid=0 ack=+ status=0 block=8 last=0 data=zz"},
      {WireBlock("+BLK9:", "w", "BLKe").replace(13, 1, "Q"),
       "BLK sid=0 ack=+ status=0 block=9 last=1 data=w"},
      {WireBlock("7:BLK6:", "no ack", "BLKe"), ""},
      {WireBlock("7:+BLK7:", "q", "BLKe"), "BLK sid=7 ack=+ status=0 block=7 last=1 data=q"}};
  std::string bytes;
  Texts expected;
  for (const auto& c : cases) {
    bytes += c.first;
    if (!c.second.empty()) expected.push_back(c.second);
  }
  LogCapture log;
  auto port = std::make_unique<WCOWClientPort>();
  EXPECT_EQ(bytes.size(), Parse(*port, bytes));
  EXPECT_EQ(expected, Take(*port));
  EXPECT_EQ(Texts{}, FailureLines(log));
}

// ACK is never received: it, unknown keywords and malformed heads stop the parse with the
// bytes left; the malformed heads are logged. An incomplete message waits quietly.
TEST(ClientPortTest, WhatCannotBeParsedStopsTheParse) {
  const char* noColon = "WCOWClientPort::ParseRXMsg found msg with no ':' after session ID";
  const char* noKeyword = "WCOWClientPort::ParseRXMsg found msg with nothing after ack";
  const std::string rqst = WireText("5:+RQST");
  const struct {
    std::string bytes;
    uint32_t consumed;
    const char* failure;
  } cases[] = {{rqst + WireText("5:+ACK 3") + rqst, 8, nullptr},
               {WireText("5:+XYZ") + rqst, 0, nullptr},
               {WireText("") + rqst, 0, nullptr},
               {WireText("12USER") + rqst, 0, noColon},
               {WireText("12:") + rqst, 0, noColon},
               {WireText("5:+") + rqst, 0, noKeyword},
               {WireText("-"), 0, noKeyword},
               {"12", 0, nullptr},
               {"12:", 0, nullptr},
               {"5:+", 0, nullptr},
               {"5:+US", 0, nullptr},
               {"5:+USER (20", 0, nullptr},
               {"+BL", 0, nullptr},
               {"+BLK7", 0, nullptr},
               {"+BLK7:\0"s, 0, nullptr},
               {WireBlock("+BLK7:", "abc", "BLKe").substr(0, 13), 0, nullptr}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    LogCapture log;
    auto port = std::make_unique<WCOWClientPort>();
    EXPECT_EQ(c.consumed, Parse(*port, c.bytes));
    EXPECT_EQ(c.consumed != 0 ? 1u : 0u, port->GetRXMsgCount());
    EXPECT_EQ(c.failure != nullptr ? Texts{c.failure} : Texts{}, FailureLines(log));
  }
}

// Without memory a block cannot keep its data, and a hello without its tokens lacks the
// versions: neither is queued, both are consumed, and only the block builder logs.
TEST(ClientPortTest, MessagesThatCannotBeBuiltForWantOfMemoryAreConsumed) {
  const std::string block = WireBlock("7:+BLK3:", "data", "BLKm");
  // Spaced out, the hello's tokens take more memory than its image: only they are refused.
  static const std::string hello = WireText("+Tazu   Orbrix   v1.00.00   v1.00.00");
  LogCapture log;
  WCOWClientPort port;
  EXPECT_EQ(block.size(), WithAllowed(0, [&] { return Parse(port, block); }));
  owc::SetAllocHook([](size_t n) { return n != hello.size(); });
  EXPECT_EQ(hello.size(), Parse(port, hello));
  owc::SetAllocHook(nullptr);
  EXPECT_EQ(Texts{"WCOWClientPort::CreateMsgRqstBlock msgObj->SetInfo failed"}, FailureLines(log));
  EXPECT_EQ(0u, port.GetRXMsgCount());
  Parse(port, hello);
  EXPECT_EQ(1u, port.GetRXMsgCount());
}

// Whichever allocation fails, the connection is neither listed nor leaked.
TEST(ClientThreadTest, AnOpenThatRunsOutOfMemorySaysWhichNewFailedAndGivesNoHandle) {
  LogCapture log;
  owc::WCXMLGWClientThread thread;
  EXPECT_EQ((Texts{"WCXMLGWClientThread::Open new WCOBWClientConnect failed",
                   "WCXMLGWClientThread::Open mCliCnctList.AddTail failed"}),
            FailuresWhenRefused(log, {0, 1}, [&] { return thread.Open(0x7F001301, nullptr, 0); }));
  EXPECT_EQ(0u, thread.GetCnctCount());
}

// 16 s from the connect until the first USER answer, 12 s from then on, until the next
// connect; the limit must be exceeded, not just reached.
TEST(ClientPortTest, TheFirstUserAnswerSwitchesTheReceiveTimeoutFrom16To12Seconds) {
  LogCapture log;
  auto port = std::make_unique<WCOWClientPort>();
  for (int connect = 0; connect < 2; ++connect) {
    port->Connect();  // no address: it only logs, but starts the login time-out
    EXPECT_EQ(0, log.SeverityOf("WCOWClientPort::Connect IP info not set"));
    EXPECT_EQ(7u, Parse(*port, WireText("5:USER")));  // not an answer: nothing queued
    EXPECT_FALSE(port->IsUserAcknowledged());
    owc_test::AdvanceMs(16000);
    EXPECT_TRUE(port->IsRXTimeOK());
    owc_test::AdvanceMs(50);
    EXPECT_FALSE(port->IsRXTimeOK());
    Parse(*port, WireText("5:-USER (401) Unauthorized"));
    EXPECT_TRUE(port->IsUserAcknowledged());
    EXPECT_EQ(12000u, port->GetRXTimeout());
    owc_test::AdvanceMs(12000);
    EXPECT_TRUE(port->IsRXTimeOK());
    owc_test::AdvanceMs(50);
    EXPECT_FALSE(port->IsRXTimeOK());
    port->SetRXTimeout(16000);  // later USER answers leave the time-out alone
    Parse(*port, WireText("5:+USER"));
    EXPECT_EQ(16000u, port->GetRXTimeout());
  }
  EXPECT_EQ(2, log.SeverityOf(
                   "WCOWClientPort::CreateMsgUser ID 5 hasAck 1 ackType 45 401 acceptFlag 0."));
  EXPECT_TRUE(log.Has("WCOWClientPort::CreateMsgUser ID 5 hasAck 1 ackType 43 0 acceptFlag 1."));
  EXPECT_FALSE(port->ProcessRX());  // nothing to read from
}

// Every message shape, with a block whose data holds NULs and marker-like text.
TEST(ClientPortTest, MessagesSplitAtAnyPointParseAsWhole) {
  const std::string bytes = WireText("+Tazu Srv v1.00.00 v1.00.00") + WireText("42:+USER") +
                            WireText("42:+FLTR") + WireText("42:+FILE p.xml c.xml") +
                            WireBlock("42:+BLK0:", std::string("\0BLKe\0x", 7), "BLKm") +
                            WireBlock("42:+BLK1:", "end", "BLKe") + WireText("42:HRTB") +
                            WireText("42:+RQST (204) No content") + WireText("-UNKN (400)");
  LogCapture log;
  auto whole = std::make_unique<WCOWClientPort>();
  Parse(*whole, bytes);
  const Texts expected = Take(*whole);
  ASSERT_EQ(9u, expected.size());
  for (size_t cut = 1; cut < bytes.size(); ++cut) {
    auto port = std::make_unique<WCOWClientPort>();
    for (size_t from : {size_t{0}, cut}) {
      const size_t to = from == 0 ? cut : bytes.size();
      ASSERT_TRUE(port->GetRXStream().Add(bytes.data() + from, static_cast<uint32_t>(to - from)));
      port->ParseRXStream(true);
    }
    ASSERT_EQ(expected, Take(*port)) << "cut at " << cut;
    ASSERT_EQ(0u, port->GetRXStream().GetTotal());
  }
  EXPECT_EQ(Texts{}, FailureLines(log));
}

// Bytes that stop the parse are not parsed again until more arrive.
TEST(ClientPortTest, FullSizeBlocksBeyondOneWindowAreAllParsedAndStuckBytesOnlyOnce) {
  LogCapture log;
  std::string data(65535, '\0'), bytes;
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  for (int i = 0; i < 5; ++i) bytes += WireBlock("9:+BLK" + std::to_string(i) + ":", data, "BLKm");
  auto port = std::make_unique<WCOWClientPort>();
  ASSERT_TRUE(port->GetRXStream().Add(bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_TRUE(port->ParseRXStream(true));
  EXPECT_EQ(0u, port->GetRXStream().GetTotal());
  Texts taken = Take(*port);
  ASSERT_EQ(5u, taken.size());
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(taken[i] == "BLK sid=9 ack=+ status=0 block=" + std::to_string(i) +
                                " last=0 data=" + data);  // no dump of the bytes on failure
  }
  EXPECT_FALSE(port->ParseRXStream(false));  // nothing new, nothing left
  const std::string bad = WireText("5:+");
  ASSERT_TRUE(port->GetRXStream().Add(bad.data(), static_cast<uint32_t>(bad.size())));
  EXPECT_TRUE(port->ParseRXStream(true));
  EXPECT_TRUE(port->ParseRXStream(false));
  EXPECT_TRUE(port->ParseRXStream(false));
  EXPECT_EQ(1u, log.Lines().size());
  EXPECT_EQ(bad.size(), port->GetRXStream().GetTotal());
}

// Writing is the TCP port's and tested with it.
TEST(ClientPortTest, ConnectsReceivesAndClosesWithShutdown) {
  LogCapture log;
  owc_test::Listener listener;
  auto port = std::make_unique<WCOWClientPort>();
  port->SetIPInfo(owc_test::kLoopback, listener.Port());
  port->Connect();
  ASSERT_TRUE(port->IsOpen());
  const std::string handle = std::to_string(port->GetSocket());
  EXPECT_EQ(2, log.SeverityOf("WCOWClientPort::Connect assigned socket " + handle));
  int server = listener.Accept();
  ASSERT_GE(server, 0);
  const std::string data(40000, 'd');  // more than one read
  ASSERT_TRUE(
      owc_test::SendAll(server, WireText("77:+USER") + WireBlock("77:+BLK0:", data, "BLKe")));
  for (int i = 0; i < 50 && port->GetRXMsgCount() < 2; ++i) {
    owc_test::WaitFor(port->GetSocket(), POLLIN);
    port->ProcessRX();
  }
  const Texts got = Take(*port);
  ASSERT_EQ(2u, got.size());
  EXPECT_TRUE(got[1] == "BLK sid=77 ack=+ status=0 block=0 last=1 data=" + data);  // no dump
  EXPECT_TRUE(port->Close());
  EXPECT_EQ(2, log.SeverityOf("WCOWClientPort::Close closing socket " + handle));
  char byte;
  ASSERT_TRUE(owc_test::WaitFor(server, POLLIN));
  EXPECT_LE(recv(server, &byte, 1, MSG_DONTWAIT), 0);  // end of stream or reset
  close(server);
}

// A connection driven by hand, without the client thread: what it sends on the caller's
// thread and what one poll delivers.
class ClientConnectTest : public ::testing::Test {
 protected:
  ClientConnectTest() {
    owc::WCOBWClientConnect::SetServerPort(listener.Port());
    connect.SetIP(owc_test::kLoopback);
    owc::WCOBWClientConnect::SetServerPort(0);
    connect.SetRXCallback(&Received, reinterpret_cast<uintptr_t>(this));
    connect.Connect();
    server = listener.Accept();
  }
  ~ClientConnectTest() override { close(server); }
  static void Received(WCXMLWireMsg* msg, uintptr_t user) {
    auto* self = reinterpret_cast<ClientConnectTest*>(user);
    self->got.push_back(msg->GetMsgBuf());
    delete msg;
    if (self->pauseAfterOne) self->connect.SetRXHold(true, true);
    if (self->answerEach) {
      self->heardDuringDelivery.push_back(owc_test::Drain(self->server));
      EXPECT_TRUE(self->connect.TXMsg(Beat(21 + static_cast<uint32_t>(self->got.size()) - 1)));
      EXPECT_TRUE(self->connect.SendNow());
    }
  }
  static WCXMLWireMsg* Beat(uint32_t session) {
    auto* msg = new WCXMLWireMsgHeartbeatReq;
    EXPECT_TRUE(msg->SetInfo(session));
    return msg;
  }
  // Server side: everything it has received so far.
  std::string Heard(size_t atLeast) {
    owc_test::WaitForBytes(server, static_cast<int>(atLeast));
    return owc_test::Drain(server);
  }
  // Server side: sends the messages and waits until the client's socket holds them all.
  void Tell(const std::string& bytes) {
    ASSERT_TRUE(owc_test::SendAll(server, bytes));
    ASSERT_TRUE(owc_test::WaitForBytes(connect.Port().GetSocket(), static_cast<int>(bytes.size())));
  }

  LogCapture log;
  owc_test::Listener listener;
  owc::WCOBWClientConnect connect;
  int server = -1;
  Texts got;
  bool pauseAfterOne = false;
  bool answerEach = false;  // each delivered message is answered with a heartbeat
  Texts heardDuringDelivery;
};

// Before the connect was seen to complete, a queued message waits for the client thread's
// poll; afterwards it is written at once, and nothing is left for the client thread.
TEST_F(ClientConnectTest, MessagesGoOutOnTheCallersThreadOnceConnectedAndComeInUntilAPause) {
  ASSERT_GE(server, 0);
  ASSERT_TRUE(connect.TXMsg(Beat(5)));
  EXPECT_FALSE(connect.SendNow());
  connect.Service();
  EXPECT_EQ(WireText("5:HRTB"), Heard(7));
  ASSERT_TRUE(connect.TXMsg(Beat(6)));
  ASSERT_TRUE(connect.TXMsg(Beat(7)));
  EXPECT_TRUE(connect.SendNow());
  EXPECT_EQ(WireText("6:HRTB") + WireText("7:HRTB"), Heard(14));
  // Corked, messages wait for the uncorking; written on the caller's thread, they would be
  // in the server's socket as SendNow returns.
  connect.SetTXCork(true);
  ASSERT_TRUE(connect.TXMsg(Beat(8)));
  ASSERT_TRUE(connect.TXMsg(Beat(9)));
  EXPECT_TRUE(connect.SendNow());
  EXPECT_EQ("", owc_test::Drain(server));
  connect.SetTXCork(false);
  EXPECT_TRUE(connect.SendNow());
  EXPECT_EQ(WireText("8:HRTB") + WireText("9:HRTB"), Heard(14));
  EXPECT_FALSE(log.HasPart("TCPPort::Write"));
  // A poll delivers every message of its read, in order, unless the callback pauses the
  // connection: then the rest waits until the pause ends.
  Tell(WireText("9:+HRTB") + WireText("9:-RQST (204) No content") + WireText("9:+RQST (410) Gone"));
  connect.Service();
  EXPECT_EQ((Texts{"9:+HRTB", "9:-RQST (204) No content", "9:+RQST (410) Gone"}), got);
  got.clear();
  pauseAfterOne = true;
  Tell(WireText("9:+HRTB") + WireText("9:-RQST (204) No content") + WireText("9:+RQST (410) Gone"));
  connect.Service();
  connect.Service();
  EXPECT_EQ((Texts{"9:+HRTB"}), got);
  EXPECT_FALSE(connect.HasRXMsg());
  pauseAfterOne = false;
  connect.SetRXHold(false, false);
  connect.Service();
  EXPECT_EQ((Texts{"9:+HRTB", "9:-RQST (204) No content", "9:+RQST (410) Gone"}), got);
  // What the callbacks of one poll queue goes out after the last of them, in one write.
  got.clear();
  answerEach = true;
  Tell(WireText("9:+HRTB") + WireText("9:+HRTB") + WireText("9:+HRTB"));
  EXPECT_FALSE(connect.Service());
  answerEach = false;
  EXPECT_EQ((Texts{"", "", ""}), heardDuringDelivery);
  EXPECT_EQ(WireText("21:HRTB") + WireText("22:HRTB") + WireText("23:HRTB"), Heard(24));
  // A burst longer than the port's queue: what a poll leaves in the receive stream still
  // waits, with nothing left in the socket to wake the client thread for it.
  got.clear();
  std::string burst;
  for (uint32_t i = 0; i < owc::WCOWClientPort::kRXQueueLimit + 8; ++i)
    burst += WireText("9:+HRTB");
  Tell(burst);
  connect.Service();
  EXPECT_EQ(owc::WCOWClientPort::kRXQueueLimit, got.size());
  EXPECT_TRUE(connect.HasRXMsg());
  connect.Service();
  EXPECT_EQ(owc::WCOWClientPort::kRXQueueLimit + 8, got.size());
  EXPECT_FALSE(connect.HasRXMsg());
}

// The client thread spins for an answer only after a poll whose callbacks answered what it
// delivered. An idle session's empty answers are answered on its own pass, and a message
// another thread queued is no answer: neither may leave the thread spinning.
TEST_F(ClientConnectTest, OnlyAPollWhoseCallbacksAnsweredWaitsForTheServersAnswer) {
  ASSERT_GE(server, 0);
  connect.Service();
  EXPECT_FALSE(connect.AnswerOwed());
  answerEach = true;
  Tell(WireText("9:+HRTB"));
  connect.Service();
  EXPECT_TRUE(connect.AnswerOwed());
  answerEach = false;
  Tell(WireText("9:-RQST (204) No content"));
  connect.Service();
  EXPECT_FALSE(connect.AnswerOwed());
  ASSERT_TRUE(connect.TXMsg(Beat(5)));
  connect.Service();
  EXPECT_FALSE(connect.AnswerOwed());
  EXPECT_EQ(WireText("21:HRTB") + WireText("5:HRTB"), Heard(14));
}

// At the peer's end of stream its socket reports readable for ever: once a poll has read
// that far the port is no longer watched (the receive time-out closes it), and what came
// before the end was delivered.
TEST_F(ClientConnectTest, APeerThatEndsItsStreamIsNoLongerWatchedOnceReadToTheEnd) {
  ASSERT_GE(server, 0);
  connect.Service();
  EXPECT_NE(nullptr, connect.WatchedPort());
  Tell(WireText("9:+HRTB"));
  shutdown(server, SHUT_WR);
  ASSERT_TRUE(owc_test::WaitFor(connect.Port().GetSocket(), POLLRDHUP));
  for (int poll = 0; poll < 2; ++poll) connect.Service();
  EXPECT_EQ(Texts{"9:+HRTB"}, got);
  EXPECT_EQ(nullptr, connect.WatchedPort());
  EXPECT_TRUE(connect.Port().IsOpen());
}

// Out of memory while the thread waits on its sockets costs that pass only: the connection
// stays open, and what comes next is delivered.
TEST(ClientThreadTest, APassThatRunsOutOfMemoryWhileWaitingCostsOnlyThatPass) {
  struct Inbox {
    Texts got;  // read once the client thread has ended
    std::atomic<size_t> count{0};
    static void Callback(WCXMLWireMsg* msg, uintptr_t user) {
      auto* self = reinterpret_cast<Inbox*>(user);
      std::unique_ptr<WCXMLWireMsg> owned(msg);
      self->got.push_back(msg->GetMsgBuf());
      // The wait's list of one port and the wake event, right after this delivery.
      if (++self->count == 1) owc_test::FailNextPlainAllocation(2 * sizeof(pollfd));
    }
  } inbox;
  LogCapture log;
  owc_test::Listener listener;
  owc::WCOBWClientConnect::SetServerPort(listener.Port());
  owc::WCXMLGWClientThread thread;
  ASSERT_TRUE(thread.Start());
  const uintptr_t handle =
      thread.Open(owc_test::kLoopback, &Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox));
  owc::WCOBWClientConnect::SetServerPort(0);
  const int server = listener.Accept();
  ASSERT_GE(server, 0);
  ASSERT_TRUE(owc_test::SendAll(server, WireText("9:+HRTB")));
  EXPECT_TRUE(
      owc_test::WaitUntil([&] { return log.Has("WCXMLGWClientThread::Run out of memory"); }));
  ASSERT_TRUE(owc_test::SendAll(server, WireText("9:+RQST (410) Gone")));
  EXPECT_TRUE(owc_test::WaitUntil([&] { return inbox.count == 2; }));
  thread.Close(handle);
  thread.Stop(true);
  close(server);
  EXPECT_EQ((Texts{"9:+HRTB", "9:+RQST (410) Gone"}), inbox.got);
}

// A connection opened while the thread waits is watched from then on: the server's hello
// is delivered without waiting for the next poll, here a minute away.
TEST(ClientThreadTest, AConnectionOpenedDuringTheWaitIsReadWithoutWaitingForThePoll) {
  struct SlowPoll : owc::WCXMLGWClientThread {
    SlowPoll() { SetPollMs(60000); }
    void StopNow() {
      Stop(false);
      Wake();
      Stop(true);
    }
  } thread;
  struct Inbox {
    std::atomic<size_t> count{0};
    static void Callback(WCXMLWireMsg* msg, uintptr_t user) {
      delete msg;
      ++reinterpret_cast<Inbox*>(user)->count;
    }
  } inbox;
  owc_test::Listener listener;
  ASSERT_TRUE(thread.Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // into its wait
  owc::WCOBWClientConnect::SetServerPort(listener.Port());
  const uintptr_t handle =
      thread.Open(owc_test::kLoopback, &Inbox::Callback, reinterpret_cast<uintptr_t>(&inbox));
  owc::WCOBWClientConnect::SetServerPort(0);
  const int server = listener.Accept();
  ASSERT_GE(server, 0);
  ASSERT_TRUE(owc_test::SendAll(server, WireText("+Tazu Srv v1.00.00 v1.00.00")));
  EXPECT_TRUE(owc_test::WaitUntil([&] { return inbox.count == 1; }, 10000));
  thread.Close(handle);
  thread.StopNow();
  close(server);
}

// Memory running out while the hello is built ends the connection as a failed read does:
// the port closes, nothing is delivered, and later polls stay silent.
TEST_F(ClientConnectTest, APollThatRunsOutOfMemoryClosesThePort) {
  ASSERT_GE(server, 0);
  const std::string handle = std::to_string(connect.Port().LogHandle());
  Tell(WireText("+Tazu Orbrix v1.00.00 v1.00.00") + WireText("9:+HRTB"));
  owc_test::FailNextPlainAllocation(sizeof(WCXMLWireMsgHello));
  connect.Service();
  EXPECT_FALSE(owc_test::PlainFailurePending());
  EXPECT_EQ(Texts{"WCOBWClientConnect::Service out of memory, closing port for " + handle},
            FailureLines(log));
  EXPECT_FALSE(connect.Port().IsOpen());
  connect.Service();
  EXPECT_EQ(Texts{}, got);
  ASSERT_TRUE(owc_test::WaitFor(server, POLLIN));
  char byte;
  EXPECT_LE(recv(server, &byte, 1, MSG_DONTWAIT), 0);  // end of stream or reset
}

}  // namespace
}  // namespace owc_test
