// The wire-client interface against the reference server (in-process) and against a
// scripted raw peer, over loopback. Each test has its own 127.0.0.N: ctest runs them side
// by side. Time-outs are reached by moving the module clock.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "owclient/owclient.h"
#include "owclient/wire_messages.h"
#include "runtime/clock_thread.h"
#include "server.h"
#include "support/log_capture.h"
#include "support/raw_peer.h"
#include "support/wire_test_client.h"

namespace {

using owc_test::Loopback;
using owc_test::MessageInbox;
using owc_test::Send;

constexpr uint32_t kTicksPerSecond = 20;

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

std::string Dotted(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

// Bytes that a text parser would stumble over: NULs, a fake end marker, a fake header.
std::string TrickyFile(size_t size) {
  std::string data;
  const char pattern[] = "abc\0BLKe\0" "7:+BLK9:\0xyz";
  while (data.size() < size) data.append(pattern, sizeof pattern - 1);
  data.resize(size);
  return data;
}

class WireClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, OrbrixWireStartup(0)); }
  void TearDown() override {
    if (mHandle != 0) OrbrixWireClose(mHandle);
    OrbrixWireShutdown();
  }

  std::unique_ptr<owwired::Server> StartServer(uint32_t address, owwired::Options options) {
    options.address = Dotted(address);
    options.verbosity = 0;
    auto server = std::make_unique<owwired::Server>(options);
    std::string error;
    EXPECT_TRUE(server->Start(&error)) << error;
    return server;
  }

  void Open(uint32_t address) {
    ASSERT_EQ(0, OrbrixWireOpen(&mHandle, address, &MessageInbox::Callback, mInbox.User()));
    ASSERT_NE(0u, mHandle);
  }

  // Hello, then USER; returns the session id the server assigned.
  uint32_t Login() {
    auto hello = mInbox.Next();
    EXPECT_NE(nullptr, hello);
    if (hello == nullptr) return 0;
    EXPECT_EQ(WCXMLWireMsg::kTypeHello, hello->GetType());
    auto* user = new WCXMLWireMsgUserReq;
    EXPECT_TRUE(user->SetInfo(0, 0, nullptr));
    EXPECT_EQ(0, Send(mHandle, user));
    auto ack = mInbox.NextOfType(WCXMLWireMsg::kTypeUser);
    EXPECT_NE(nullptr, ack);
    return ack != nullptr ? ack->GetSessionID() : 0;
  }

  void SendFilterAndRequest(uint32_t session) {
    auto* filter = new WCXMLWireMsgFilterReq;
    ASSERT_TRUE(filter->SetInfo(session));
    ASSERT_TRUE(filter->AddFilter(WCXMLWireMsgFilterReq::kRequestAll));
    ASSERT_EQ(0, Send(mHandle, filter));
    auto filterAck = mInbox.NextOfType(WCXMLWireMsg::kTypeFilter);
    ASSERT_NE(nullptr, filterAck);
    EXPECT_EQ(WCXMLWireMsg::kAckPositive, filterAck->GetAckType());
    auto* request = new WCXMLWireMsgRequestReq;
    ASSERT_TRUE(request->SetInfo(session));
    ASSERT_EQ(0, Send(mHandle, request));
  }

  void Ack(uint32_t session, const char* first, const char* second) {
    auto* ack = new WCXMLWireMsgRequestAckReq;
    ASSERT_TRUE(ack->SetInfo(session));
    ASSERT_TRUE(ack->SetArg1(first));
    ASSERT_TRUE(ack->SetArg2(second));
    ASSERT_EQ(0, Send(mHandle, ack));
  }

  // Receives one announced file block by block, acknowledging each; returns its bytes.
  std::string ReceiveFile(uint32_t session, bool ackBlocks = true) {
    auto file = mInbox.NextOfType(WCXMLWireMsg::kTypeFile);
    EXPECT_NE(nullptr, file);
    if (file == nullptr) return std::string();
    auto* names = static_cast<WCXMLWireMsgRequestFileAck*>(file.get());
    Ack(session, names->GetName1(), names->GetName2());
    std::string data;
    for (uint32_t expected = 0;; ++expected) {
      auto msg = mInbox.NextOfType(WCXMLWireMsg::kTypeBlock);
      EXPECT_NE(nullptr, msg);
      if (msg == nullptr) break;
      auto* block = static_cast<WCXMLWireMsgRequestBlockAck*>(msg.get());
      EXPECT_EQ(expected, block->GetBlockNumber());
      data.append(reinterpret_cast<const char*>(block->GetData()), block->GetDataLength());
      if (ackBlocks) Ack(session, std::to_string(block->GetBlockNumber()).c_str(), nullptr);
      if (block->IsLastBlock()) break;
    }
    return data;
  }

  void AdvanceClockMs(uint32_t ms) {
    owc::ClockThread& clock = owc::ModuleClock();
    clock.AdvanceTo(clock.GetTicks() + ms / 50);
  }

  owc_test::LogCapture mLog;
  MessageInbox mInbox;
  uintptr_t mHandle = 0;
};

TEST_F(WireClientTest, HelloThenAUserRequestAndItsAnswerThroughTheCallback) {
  auto server = StartServer(Loopback(11), owwired::Options());
  Open(Loopback(11));
  auto hello = mInbox.Next();
  ASSERT_NE(nullptr, hello);
  ASSERT_EQ(WCXMLWireMsg::kTypeHello, hello->GetType());
  auto* typed = static_cast<WCXMLWireMsgHello*>(hello.get());
  EXPECT_EQ(1u, typed->GetMajor1());
  EXPECT_EQ(0u, typed->GetMinor2());

  auto* user = new WCXMLWireMsgUserReq;
  ASSERT_TRUE(user->SetInfo(0, 0, nullptr));
  ASSERT_EQ(0, Send(mHandle, user));
  auto ack = mInbox.NextOfType(WCXMLWireMsg::kTypeUser);
  ASSERT_NE(nullptr, ack);
  EXPECT_EQ(WCXMLWireMsg::kAckPositive, ack->GetAckType());
  uint32_t id = ack->GetSessionID();
  EXPECT_TRUE(server->WaitFor([id](const owwired::Counters& c) { return c.last_session_id == id; },
                              5000));
  char line[160];
  std::snprintf(line, sizeof line,
                "WCOWClientPort::CreateMsgUser ID %u hasAck 1 ackType 43 0 acceptFlag 1.",
                ack->GetSessionID());
  EXPECT_TRUE(mLog.Has(line));
  EXPECT_TRUE(mLog.Has("WCOWClientPort::Connect connecting"));
}

TEST_F(WireClientTest, AWholeFileArrivesAsFileAndBlocksCutByTheirLengths) {
  owwired::Options options;
  const std::string content = TrickyFile(10000);
  options.files = {{"story.xml", content}};
  options.block_size = 4096;
  auto server = StartServer(Loopback(12), options);
  Open(Loopback(12));
  uint32_t session = Login();
  SendFilterAndRequest(session);
  EXPECT_TRUE(content == ReceiveFile(session));  // no dump of the bytes on failure
  ASSERT_TRUE(server->WaitFor([](const owwired::Counters& c) { return c.files_delivered == 1; },
                              5000));
  // Nothing more waits: the next request is answered 204.
  auto* request = new WCXMLWireMsgRequestReq;
  ASSERT_TRUE(request->SetInfo(session));
  ASSERT_EQ(0, Send(mHandle, request));
  auto answer = mInbox.NextOfType(WCXMLWireMsg::kTypeRequest);
  ASSERT_NE(nullptr, answer);
  EXPECT_EQ(204, answer->GetStatus());
}

TEST_F(WireClientTest, MessagesWrittenOneByteAtATimeParse) {
  owwired::Options options;
  const std::string content = TrickyFile(1500);
  options.files = {{"tiny.rdf", content}};
  options.block_size = 500;
  options.faults.one_byte_writes = true;
  auto server = StartServer(Loopback(13), options);
  Open(Loopback(13));
  uint32_t session = Login();
  SendFilterAndRequest(session);
  EXPECT_TRUE(content == ReceiveFile(session));  // no dump of the bytes on failure
}

TEST_F(WireClientTest, SeveralMessagesInOneReadAreDeliveredInOrder) {
  owwired::Options options;
  const std::string content = TrickyFile(64 * 1000);
  options.files = {{"many.xml", content}};
  options.block_size = 100;  // 640 blocks sent back to back
  options.pipeline = true;
  auto server = StartServer(Loopback(14), options);
  Open(Loopback(14));
  uint32_t session = Login();
  SendFilterAndRequest(session);
  EXPECT_TRUE(content == ReceiveFile(session));  // no dump of the bytes on failure
}

TEST_F(WireClientTest, SilenceAfterConnectingClosesThePortAfter16Seconds) {
  owwired::Options options;
  options.faults.silent_after = 1;  // the hello, then nothing
  auto server = StartServer(Loopback(15), options);
  Open(Loopback(15));
  ASSERT_NE(nullptr, mInbox.Next());
  AdvanceClockMs(15000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a few passes
  EXPECT_FALSE(mLog.HasPart("detected RX timeout"));
  AdvanceClockMs(1100);
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("closing port for"); }));
  EXPECT_TRUE(mLog.HasPart("WCOBWClientConnect::IsCnctOK detected RX timeout for "));
  EXPECT_TRUE(mLog.HasPart("WCOWClientPort::Close closing socket "));
  // A closed connection stays silent; sending is still accepted and goes nowhere.
  auto* hb = new WCXMLWireMsgHeartbeatReq;
  ASSERT_TRUE(hb->SetInfo(1));
  EXPECT_EQ(0, Send(mHandle, hb));
}

TEST_F(WireClientTest, AfterTheUserAnswerSilenceTimesOutAfter12Seconds) {
  owwired::Options options;
  options.faults.silent_after = 2;  // hello and the USER answer
  auto server = StartServer(Loopback(16), options);
  Open(Loopback(16));
  Login();
  AdvanceClockMs(12100);
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("detected RX timeout for"); }));
  EXPECT_TRUE(mLog.HasPart("WCOBWClientConnect::IsCnctOK closing port for "));
}

TEST_F(WireClientTest, APeerResetIsLoggedWithItsErrorAndClosesThePort) {
  owc_test::RawPeer peer(Loopback(17));
  ASSERT_TRUE(peer.Bound());
  Open(Loopback(17));
  ASSERT_TRUE(peer.Accept());
  ASSERT_TRUE(peer.SendAll(std::string("+Tazu wire v1.00.00 v1.00.00\0", 29)));
  ASSERT_NE(nullptr, mInbox.Next());
  peer.Reset();
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("closing port for"); }));
  // 10054: connection reset by peer, seen by the liveness check or by the read.
  EXPECT_TRUE(mLog.HasPart("failed with error code 0x00002746.\n"));
}

TEST_F(WireClientTest, AStalledPeerFillsTheOverflowWithoutLosingOrRepeatingABytes) {
  owc_test::RawPeer peer(Loopback(18), 4096);
  ASSERT_TRUE(peer.Bound());
  Open(Loopback(18));
  ASSERT_TRUE(peer.Accept());
  std::string expected;
  for (int i = 0; i < 40; ++i) {
    auto* msg = new WCXMLWireMsgUserReq;
    ASSERT_TRUE(msg->SetInfo(1, static_cast<uint32_t>(i), nullptr));
    std::string payload(60000, static_cast<char>('a' + i % 26));
    payload[0] = static_cast<char>(i);
    ASSERT_TRUE(msg->AppendData(payload.data(), static_cast<uint32_t>(payload.size())));
    expected.append(msg->GetMsgBuf(), msg->GetMsgLen());
    ASSERT_EQ(0, Send(mHandle, msg));
  }
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("TCPPort::Write AddToOverflowBuf"); }));
  std::string received = peer.ReadUpTo(expected.size());
  ASSERT_EQ(expected.size(), received.size());
  EXPECT_TRUE(expected == received);
}

TEST_F(WireClientTest, APeerThatGoesAwayWhileWeSendRaisesNoSigpipe) {
  static std::atomic<int> sigpipes{0};
  struct sigaction action {};
  action.sa_handler = [](int) { ++sigpipes; };
  struct sigaction old {};
  sigaction(SIGPIPE, &action, &old);
  {
    owc_test::RawPeer peer(Loopback(19));
    ASSERT_TRUE(peer.Bound());
    Open(Loopback(19));
    ASSERT_TRUE(peer.Accept());
    peer.Reset();
  }
  for (int i = 0; i < 50; ++i) {
    auto* msg = new WCXMLWireMsgHeartbeatReq;
    ASSERT_TRUE(msg->SetInfo(3));
    Send(mHandle, msg);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(WaitUntil([&] { return mLog.HasPart("closing port for"); }));
  sigaction(SIGPIPE, &old, nullptr);
  EXPECT_EQ(0, sigpipes.load());
}

TEST_F(WireClientTest, HandleZeroAndClosedHandlesAreAnsweredWithoutTouchingTheMessage) {
  auto* msg = new WCXMLWireMsgHeartbeatReq;
  ASSERT_TRUE(msg->SetInfo(5));
  EXPECT_EQ(2, OrbrixWireTXMsg(0, msg));
  EXPECT_EQ(0, OrbrixWireClose(0));
  Open(Loopback(20));  // nobody listens: the connect fails later, the handle is valid now
  uintptr_t closed = mHandle;
  EXPECT_EQ(0, OrbrixWireClose(closed));
  mHandle = 0;
  EXPECT_TRUE(mLog.HasPart("WCXMLGWClientThread::Close cnct 0x"));
  EXPECT_EQ(2, OrbrixWireTXMsg(closed, msg));  // still ours
  delete msg;
  EXPECT_EQ(1, OrbrixWireOpen(nullptr, Loopback(20), nullptr, 0));
}

TEST(WireClientStartup, ALogCallbackSetBeforeStartupSeesTheThreadStart) {
  owc_test::LogCapture log;
  ASSERT_EQ(1, OrbrixWireStartup(0));
  ASSERT_TRUE(WaitUntil([&] { return log.Has("WCXMLGWClientThread::Run thread started"); }));
  EXPECT_EQ(1, log.SeverityOf("WCXMLGWClientThread::Run thread started"));
  EXPECT_EQ(1, OrbrixWireShutdown());
  EXPECT_EQ(1, log.SeverityOf("WCXMLGWClientThread::Run thread terminated"));
}

}  // namespace
