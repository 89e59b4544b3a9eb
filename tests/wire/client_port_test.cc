#include "wire/client_port.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/log_capture.h"
#include "transport/clock_helper.h"
#include "transport/loopback.h"
#include "wire/wire_alloc.h"

namespace {

using owc::WCOWClientPort;
using owc_test::LogCapture;

// A text message with its NUL.
std::string M(const std::string& text) { return text + std::string(1, '\0'); }

// A block message: head (e.g. "7:+BLK3:"), big-endian length, data, marker, NUL.
std::string Block(const std::string& head, const std::string& data, const std::string& marker) {
  std::string s = head;
  s += static_cast<char>(data.size() >> 8);
  s += static_cast<char>(data.size() & 0xFF);
  return s + data + marker + std::string(1, '\0');
}

std::string Describe(const WCXMLWireMsg& m) {
  std::ostringstream s;
  s << GetMsgKeyword(m.GetType()) << " sid=";
  if (m.HasSessionID()) {
    s << m.GetSessionID();
  } else {
    s << "-";
  }
  s << " ack=" << (m.GetAckType() != 0 ? static_cast<char>(m.GetAckType()) : '0')
    << " status=" << m.GetStatus();
  if (auto* b = dynamic_cast<const WCXMLWireMsgRequestBlockAck*>(&m)) {
    s << " block=" << b->GetBlockNumber() << " last=" << static_cast<int>(b->IsLastBlock())
      << " data=" << std::string(reinterpret_cast<const char*>(b->GetData()), b->GetDataLength());
  }
  if (auto* f = dynamic_cast<const WCXMLWireMsgRequestFileAck*>(&m)) {
    s << " names=" << (f->GetName1() ? f->GetName1() : "(none)") << ","
      << (f->GetName2() ? f->GetName2() : "(none)");
  }
  if (auto* h = dynamic_cast<const WCXMLWireMsgHello*>(&m)) {
    s << " " << h->GetProductID() << " v" << h->GetMajor1() << "." << h->GetMinor1() << "."
      << h->GetPatch1() << " v" << h->GetMajor2() << "." << h->GetMinor2() << "." << h->GetPatch2();
  }
  return s.str();
}

// Removes and describes every queued message.
std::vector<std::string> Take(WCOWClientPort& port) {
  std::vector<std::string> out;
  while (WCXMLWireMsg* m = port.GetRXMsg()) {
    out.push_back(Describe(*m));
    delete m;
  }
  return out;
}

uint32_t Parse(WCOWClientPort& port, const std::string& bytes) {
  return port.ParseRXMsg(bytes.c_str(), static_cast<uint32_t>(bytes.size()));
}

bool HasFailureLines(const LogCapture& log) {
  for (const auto& line : log.Lines())
    if (line.severity == 0) return true;
  return false;
}

class ClientPortParse : public ::testing::Test {
 protected:
  std::unique_ptr<WCOWClientPort> mPort = std::make_unique<WCOWClientPort>();
  LogCapture mLog;
};

TEST_F(ClientPortParse, TwoMessagesInOneWindowAreParsedInOrder) {
  std::string bytes = M("+Tazu Srv v1.00.00 v2.03.04") + M("7:+USER");
  EXPECT_EQ(bytes.size(), Parse(*mPort, bytes));
  EXPECT_EQ((std::vector<std::string>{"Tazu sid=- ack=+ status=0 Orbrix v1.0.0 v2.3.4",
                                      "USER sid=7 ack=+ status=0"}),
            Take(*mPort));
  EXPECT_EQ(nullptr, mPort->GetRXMsg());
}

TEST_F(ClientPortParse, HelloNeedsFourTokensAndVersionsWithV) {
  std::string bytes = M("+Tazu Srv v1.00.00") + M("+Tazu Srv 1.00.00 v2.03.04") +
                      M("Tazu Srv v1.00.00 v2.03.04 extra") + M("9:Tazu Srv v3.1.2 v4.5.6");
  EXPECT_EQ(bytes.size(), Parse(*mPort, bytes));
  // The session ID of a hello is not recorded.
  EXPECT_EQ((std::vector<std::string>{"Tazu sid=- ack=+ status=0 Orbrix v3.1.2 v4.5.6"}),
            Take(*mPort));
}

TEST_F(ClientPortParse, TheFirstUserAckSwitchesTheTimeoutTo12Seconds) {
  mPort->SetRXTimeout(WCOWClientPort::kLoginTimeoutMs);
  EXPECT_EQ(7u, Parse(*mPort, M("5:USER")));  // no ack: consumed, nothing, flag clear
  EXPECT_EQ(0u, mPort->GetRXMsgCount());
  EXPECT_FALSE(mPort->IsUserAcknowledged());
  EXPECT_EQ(16000u, mPort->GetRXTimeout());
  Parse(*mPort, M("5:-USER (401) Unauthorized"));
  EXPECT_TRUE(mPort->IsUserAcknowledged());
  EXPECT_EQ(12000u, mPort->GetRXTimeout());
  EXPECT_EQ(2, mLog.SeverityOf(
                   "WCOWClientPort::CreateMsgUser ID 5 hasAck 1 ackType 45 401 acceptFlag 0."));
  EXPECT_EQ((std::vector<std::string>{"USER sid=5 ack=- status=401"}), Take(*mPort));
  owc_test::AdvanceMs(12000);
  EXPECT_TRUE(mPort->IsRXTimeOK());
  owc_test::AdvanceMs(50);
  EXPECT_FALSE(mPort->IsRXTimeOK());

  mPort->SetRXTimeout(16000);  // later USER answers leave the time-out alone
  Parse(*mPort, M("5:+USER"));
  EXPECT_EQ(16000u, mPort->GetRXTimeout());
}

TEST_F(ClientPortParse, AcknowledgementsWithoutSessionIdCarryZero) {
  std::string bytes = M("+RQST (204) No content") + M("-FLTR") + M("+USER");
  EXPECT_EQ(bytes.size(), Parse(*mPort, bytes));
  EXPECT_EQ((std::vector<std::string>{"RQST sid=0 ack=+ status=204", "FLTR sid=0 ack=- status=0",
                                      "USER sid=0 ack=+ status=0"}),
            Take(*mPort));
  EXPECT_TRUE(mLog.Has("WCOWClientPort::CreateMsgUser ID 0 hasAck 1 ackType 43 0 acceptFlag 1."));
}

TEST_F(ClientPortParse, TheSessionPrefixIsReadUnsigned) {
  Parse(*mPort, M("4294967295:+RQST (410) Gone") + M(" 12:+FLTR (x)"));
  EXPECT_EQ((std::vector<std::string>{"RQST sid=4294967295 ack=+ status=410",
                                      "FLTR sid=12 ack=+ status=0"}),
            Take(*mPort));
}

TEST_F(ClientPortParse, HeartbeatAndDoneNeedASessionId) {
  std::string bytes =
      M("HRTB") + M("+HRTB") + M("DONE") + M("5:HRTB") + M("5:+HRTB") + M("5:DONE") + M("6:-DONE");
  EXPECT_EQ(bytes.size(), Parse(*mPort, bytes));
  EXPECT_EQ((std::vector<std::string>{"HRTB sid=5 ack=0 status=0", "HRTB sid=5 ack=+ status=0",
                                      "DONE sid=5 ack=+ status=0", "DONE sid=6 ack=+ status=0"}),
            Take(*mPort));
}

TEST_F(ClientPortParse, FileTakesOneOrTwoNamesAndNeedsAnAck) {
  std::string bytes =
      M("5:+FILE parent.xml\tchild.rdf") + M("5:+FILE only.xml") + M("5:+FILE") + M("5:FILE a.xml");
  EXPECT_EQ(bytes.size(), Parse(*mPort, bytes));
  EXPECT_EQ((std::vector<std::string>{"FILE sid=5 ack=+ status=0 names=parent.xml,child.rdf",
                                      "FILE sid=5 ack=+ status=0 names=only.xml,(none)"}),
            Take(*mPort));
}

TEST_F(ClientPortParse, UnknownAndLowerCaseKeywords) {
  Parse(*mPort, M("-UNKN (405)") + M("UNKN") + M("3:+rqst") + M("3:+user"));
  EXPECT_EQ((std::vector<std::string>{"UNKN sid=- ack=- status=405", "UNKN sid=- ack=- status=0",
                                      "RQST sid=3 ack=+ status=0", "USER sid=3 ack=+ status=0"}),
            Take(*mPort));
}

TEST_F(ClientPortParse, ABlockIsCutByItsLengthNotItsContent) {
  const std::string data("a\0BLKe\0\0BLK9:\0z", 15);
  std::string bytes = Block("7:+BLK3:", data, "BLKm") + Block("7:+BLK4:", "", "blke") +
                      Block("+BLK5:", "xy", "BLKx") + Block("7:BLK6:", "no ack", "BLKe") +
                      Block("7:+BLK7:", "q", "BLKe") + M("7:+RQST");
  EXPECT_EQ(bytes.size(), Parse(*mPort, bytes));
  EXPECT_EQ((std::vector<std::string>{"BLK sid=7 ack=+ status=0 block=3 last=0 data=" + data,
                                      "BLK sid=7 ack=+ status=0 block=4 last=1 data=",
                                      "BLK sid=0 ack=+ status=0 block=5 last=0 data=xy",
                                      "BLK sid=7 ack=+ status=0 block=7 last=1 data=q",
                                      "RQST sid=7 ack=+ status=0"}),
            Take(*mPort));
  EXPECT_FALSE(HasFailureLines(mLog));
}

TEST_F(ClientPortParse, ABlockThatCannotBeBuiltIsLoggedAndConsumed) {
  const std::string bytes = Block("7:+BLK3:", "data", "BLKm");
  owc::SetWireReallocHook([](void*, size_t) -> void* { return nullptr; });
  EXPECT_EQ(bytes.size(), Parse(*mPort, bytes));
  owc::SetWireReallocHook(nullptr);
  EXPECT_EQ(0, mLog.SeverityOf("WCOWClientPort::CreateMsgRqstBlock msgObj->SetInfo failed"));
  EXPECT_EQ(0u, mPort->GetRXMsgCount());
}

TEST_F(ClientPortParse, AckOrUnknownKeywordStopsWithTheBytesLeft) {
  const std::string first = M("5:+RQST");
  EXPECT_EQ(first.size(), Parse(*mPort, first + M("5:+ACK 3") + M("5:+RQST")));
  EXPECT_EQ(0u, Parse(*mPort, M("5:+XYZ") + M("5:+RQST")));
  EXPECT_EQ(0u, Parse(*mPort, M("") + M("5:+RQST")));
  EXPECT_EQ(1u, Take(*mPort).size());
  EXPECT_TRUE(mLog.Lines().empty());
}

TEST_F(ClientPortParse, MalformedHeadsAreLoggedAndStopTheParse) {
  const char* noColon = "WCOWClientPort::ParseRXMsg found msg with no ':' after session ID";
  const char* noKeyword = "WCOWClientPort::ParseRXMsg found msg with nothing after ack";
  EXPECT_EQ(0u, Parse(*mPort, M("12USER") + M("5:+RQST")));
  EXPECT_EQ(0, mLog.SeverityOf(noColon));
  mLog.Clear();
  EXPECT_EQ(0u, Parse(*mPort, M("12:") + M("5:+RQST")));
  EXPECT_TRUE(mLog.Has(noColon));
  EXPECT_EQ(0u, Parse(*mPort, M("5:+") + M("5:+RQST")));
  EXPECT_EQ(0, mLog.SeverityOf(noKeyword));
  mLog.Clear();
  EXPECT_EQ(0u, Parse(*mPort, M("-")));
  EXPECT_TRUE(mLog.Has(noKeyword));
  EXPECT_EQ(0u, mPort->GetRXMsgCount());
}

TEST_F(ClientPortParse, AnIncompleteMessageWaitsQuietly) {
  const std::string pieces[] = {"12",
                                "12:",
                                "5:+",
                                "5:+US",
                                "5:+USER (20",
                                "+BL",
                                "+BLK7",
                                std::string("+BLK7:\0", 7),
                                Block("+BLK7:", "abc", "BLKe").substr(0, 13)};
  for (const std::string& piece : pieces) {
    EXPECT_EQ(0u, Parse(*mPort, piece)) << piece;
  }
  EXPECT_TRUE(mLog.Lines().empty());
  EXPECT_EQ(0u, mPort->GetRXMsgCount());
}

// Every message shape, with a block whose data holds NULs and marker-like text.
std::string Conversation() {
  return M("+Tazu Srv v1.00.00 v1.00.00") + M("42:+USER") + M("42:+FLTR") +
         M("42:+FILE p.xml c.xml") + Block("42:+BLK0:", std::string("\0BLKe\0x", 7), "BLKm") +
         Block("42:+BLK1:", "end", "BLKe") + M("42:HRTB") + M("42:+RQST (204) No content") +
         M("-UNKN (400)");
}

std::vector<std::string> ParsedWhole(const std::string& bytes) {
  WCOWClientPort port;
  Parse(port, bytes);
  return Take(port);
}

TEST(ClientPortStream, MessagesSplitAtAnyPointParseAsWhole) {
  const std::string bytes = Conversation();
  const std::vector<std::string> expected = ParsedWhole(bytes);
  ASSERT_EQ(9u, expected.size());
  LogCapture log;
  for (size_t cut = 1; cut < bytes.size(); ++cut) {
    auto port = std::make_unique<WCOWClientPort>();
    ASSERT_TRUE(port->GetRXStream().Add(bytes.data(), static_cast<uint32_t>(cut)));
    port->ParseRXStream(true);
    ASSERT_TRUE(
        port->GetRXStream().Add(bytes.data() + cut, static_cast<uint32_t>(bytes.size() - cut)));
    port->ParseRXStream(true);
    ASSERT_EQ(expected, Take(*port)) << "cut at " << cut;
    ASSERT_EQ(0u, port->GetRXStream().GetTotal());
  }
  EXPECT_FALSE(HasFailureLines(log));
}

TEST(ClientPortStream, BytesFedOneByOneParseAsWhole) {
  const std::string bytes = Conversation();
  LogCapture log;
  auto port = std::make_unique<WCOWClientPort>();
  for (char c : bytes) {
    ASSERT_TRUE(port->GetRXStream().Add(&c, 1));
    port->ParseRXStream(true);
  }
  EXPECT_EQ(ParsedWhole(bytes), Take(*port));
  EXPECT_EQ(0u, port->GetRXStream().GetTotal());
  EXPECT_FALSE(HasFailureLines(log));
}

TEST(ClientPortStream, FullSizeBlocksBeyondOneWindowAreAllParsed) {
  std::string data(65535, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  std::string bytes;
  for (int i = 0; i < 5; ++i) bytes += Block("9:+BLK" + std::to_string(i) + ":", data, "BLKm");
  auto port = std::make_unique<WCOWClientPort>();
  ASSERT_TRUE(port->GetRXStream().Add(bytes.data(), static_cast<uint32_t>(bytes.size())));
  EXPECT_TRUE(port->ParseRXStream(true));
  ASSERT_EQ(5u, port->GetRXMsgCount());
  EXPECT_EQ(0u, port->GetRXStream().GetTotal());
  for (uint32_t i = 0; i < 5; ++i) {
    std::unique_ptr<WCXMLWireMsg> m(port->GetRXMsg());
    auto* b = dynamic_cast<WCXMLWireMsgRequestBlockAck*>(m.get());
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(i, b->GetBlockNumber());
    ASSERT_EQ(65535u, b->GetDataLength());
    EXPECT_EQ(data, std::string(reinterpret_cast<const char*>(b->GetData()), 65535));
  }
  EXPECT_FALSE(port->ParseRXStream(false));  // nothing new, nothing left
}

TEST(ClientPortStream, StuckBytesAreNotReparsedUntilMoreArrive) {
  LogCapture log;
  auto port = std::make_unique<WCOWClientPort>();
  const std::string bad = M("5:+");
  ASSERT_TRUE(port->GetRXStream().Add(bad.data(), static_cast<uint32_t>(bad.size())));
  EXPECT_TRUE(port->ParseRXStream(true));
  EXPECT_TRUE(port->ParseRXStream(false));
  EXPECT_TRUE(port->ParseRXStream(false));
  EXPECT_EQ(1u, log.Lines().size());
  EXPECT_EQ(bad.size(), port->GetRXStream().GetTotal());
}

class ClientPortSocket : public ::testing::Test {
 protected:
  // Calls ProcessRX until count messages are queued or the socket stays silent.
  bool ReceiveUntil(uint32_t count) {
    for (int i = 0; i < 50 && mPort->GetRXMsgCount() < count; ++i) {
      owc_test::WaitFor(mPort->GetSocket(), POLLIN);
      mPort->ProcessRX();
    }
    return mPort->GetRXMsgCount() >= count;
  }

  owc_test::Listener mListener;
  std::unique_ptr<WCOWClientPort> mPort = std::make_unique<WCOWClientPort>();
  LogCapture mLog;
};

TEST_F(ClientPortSocket, ConnectWithoutAddressOnlyLogs) {
  mPort->Connect();
  EXPECT_EQ(2, mLog.SeverityOf("WCOWClientPort::Connect connecting"));
  EXPECT_EQ(0, mLog.SeverityOf("WCOWClientPort::Connect IP info not set"));
  EXPECT_FALSE(mPort->IsOpen());
  EXPECT_EQ(16000u, mPort->GetRXTimeout());
  mPort->SetIPInfo(owc_test::kLoopback, 0);
  mPort->Connect();
  EXPECT_FALSE(mPort->IsOpen());
  EXPECT_FALSE(mPort->ProcessRX());
}

TEST_F(ClientPortSocket, ConnectsReceivesMessagesAndClosesWithShutdown) {
  mPort->SetIPInfo(owc_test::kLoopback, mListener.Port());
  mPort->Connect();
  ASSERT_TRUE(mPort->IsOpen());
  unsigned handle = static_cast<unsigned>(mPort->GetSocket());
  EXPECT_EQ(2,
            mLog.SeverityOf("WCOWClientPort::Connect assigned socket " + std::to_string(handle)));
  int server = mListener.Accept();
  ASSERT_GE(server, 0);
  ASSERT_TRUE(owc_test::WaitFor(mPort->GetSocket(), POLLOUT));
  EXPECT_TRUE(mPort->IsTXReady());
  EXPECT_EQ(16000u, mPort->GetRXTimeout());

  std::string data(40000, 'd');
  ASSERT_TRUE(owc_test::SendAll(
      server, M("+Tazu Srv v1.00.00 v1.00.00") + M("77:+USER") + Block("77:+BLK0:", data, "BLKe")));
  ASSERT_TRUE(ReceiveUntil(3));
  EXPECT_EQ(12000u, mPort->GetRXTimeout());
  std::vector<std::string> got = Take(*mPort);
  ASSERT_EQ(3u, got.size());
  EXPECT_EQ("BLK sid=77 ack=+ status=0 block=0 last=1 data=" + data, got[2]);

  const std::string request = M("77:RQST");
  uint32_t written = 0;
  ASSERT_TRUE(mPort->Write(reinterpret_cast<const uint8_t*>(request.data()),
                           static_cast<uint32_t>(request.size()), written));
  EXPECT_EQ(request.size(), written);
  ASSERT_TRUE(owc_test::WaitForBytes(server, static_cast<int>(request.size())));
  EXPECT_EQ(request, owc_test::Drain(server));

  EXPECT_TRUE(mPort->Close());
  EXPECT_EQ(2, mLog.SeverityOf("WCOWClientPort::Close closing socket " + std::to_string(handle)));
  EXPECT_FALSE(mPort->IsOpen());
  char byte;
  ASSERT_TRUE(owc_test::WaitFor(server, POLLIN));
  EXPECT_LE(recv(server, &byte, 1, MSG_DONTWAIT), 0);  // end of stream or reset
  close(server);
}

TEST_F(ClientPortSocket, ASilentServerTimesOutAfter16Seconds) {
  mPort->SetIPInfo(owc_test::kLoopback, mListener.Port());
  mPort->Connect();
  int server = mListener.Accept();
  ASSERT_GE(server, 0);
  owc_test::AdvanceMs(16000);
  EXPECT_TRUE(mPort->IsRXTimeOK());
  owc_test::AdvanceMs(50);
  EXPECT_FALSE(mPort->IsRXTimeOK());
  close(server);
}

TEST_F(ClientPortSocket, ARefusedConnectClosesThePortThroughItsCheck) {
  uint16_t deadPort = mListener.Port();
  mListener.Close();
  mPort->SetIPInfo(owc_test::kLoopback, deadPort);
  mPort->Connect();
  ASSERT_TRUE(mPort->IsOpen());
  unsigned handle = static_cast<unsigned>(mPort->GetSocket());
  ASSERT_TRUE(owc_test::WaitFor(mPort->GetSocket(), POLLOUT));
  EXPECT_FALSE(mPort->IsTXReady());
  EXPECT_FALSE(mPort->CheckConnection());
  EXPECT_FALSE(mPort->IsOpen());
  EXPECT_EQ(10061u, mPort->GetLastError());
  EXPECT_TRUE(mLog.Has("WCOWClientPort::Close closing socket " + std::to_string(handle)));
  EXPECT_FALSE(mPort->ProcessRX());
}

}  // namespace
