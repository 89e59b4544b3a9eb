#include "transport/tcp_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/log_capture.h"
#include "transport/clock_helper.h"
#include "transport/loopback.h"
#include "transport/socket_ops.h"
#include "transport/transport_alloc.h"

namespace {

using owc::TCPPort;
using owc_test::Listener;
using owc_test::LogCapture;

std::string Format(const char* format, unsigned a, unsigned b = 0) {
  char line[256];
  std::snprintf(line, sizeof line, format, a, b);
  return line;
}

std::string Pattern(size_t seed, size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((seed + i) % 251);
  return s;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

bool Adopt(TCPPort& port, int fd) { return port.Open(&fd, sizeof fd); }

// A port on the client side of a fresh loopback connection, and the server's socket.
class TCPPortPair : public ::testing::Test {
 protected:
  explicit TCPPortPair(int serverRcvBuf = 0) : mListener(serverRcvBuf) {}
  void SetUp() override {
    int client = owc_test::ConnectTo(mListener);
    ASSERT_GE(client, 0);
    mServer = mListener.Accept();
    ASSERT_GE(mServer, 0);
    ASSERT_TRUE(Adopt(mPort, client));
    mHandle = static_cast<unsigned>(client);
  }
  void TearDown() override {
    if (mServer >= 0) close(mServer);
  }
  void CloseServer(bool reset) {
    if (reset) owc_test::SetHardClose(mServer);
    close(mServer);
    mServer = -1;
  }

  Listener mListener;
  TCPPort mPort;
  int mServer = -1;
  unsigned mHandle = 0;
};

// The server side reads slowly: a small receive buffer makes the client's sends partial.
class TCPPortSlowPeer : public TCPPortPair {
 protected:
  TCPPortSlowPeer() : TCPPortPair(4096) {}
};

TEST(TCPPortOpen, RejectsOpenInfoOfAnotherSize) {
  LogCapture log;
  TCPPort port;
  uint64_t info = 3;
  EXPECT_FALSE(port.Open(&info, sizeof info));
  EXPECT_EQ(0, log.SeverityOf("TCPPort::Open invalid open info.\n"));
  EXPECT_FALSE(port.IsOpen());
}

TEST(TCPPortOpen, AFailingOptionIsLoggedAndClosesTheHandle) {
  LogCapture log;
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  TCPPort port;
  EXPECT_FALSE(Adopt(port, pipeFds[0]));
  EXPECT_EQ(0,
            log.SeverityOf(Format("TCPPort::Open 0x%08x set linger mode failed.\n", pipeFds[0])));
  EXPECT_FALSE(port.IsOpen());
  EXPECT_EQ(-1, port.GetSocket());
  EXPECT_EQ(-1, fcntl(pipeFds[0], F_GETFD));  // closed by the port
  close(pipeFds[1]);
}

TEST_F(TCPPortPair, OpenMakesTheSocketNonBlockingWithHardClose) {
  int fd = mPort.GetSocket();
  EXPECT_TRUE(mPort.IsOpen());
  EXPECT_NE(0, fcntl(fd, F_GETFL) & O_NONBLOCK);
  linger hard = {};
  socklen_t size = sizeof hard;
  ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, &size));
  EXPECT_EQ(1, hard.l_onoff);
  EXPECT_EQ(0, hard.l_linger);
  int buffer = 0;
  size = sizeof buffer;
  ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, &size));
  EXPECT_GE(buffer, TCPPort::kSocketBufferSize);
  EXPECT_EQ(owc_test::kLoopback, mPort.GetPeerAddress());

  int other = socket(AF_INET, SOCK_STREAM, 0);
  EXPECT_TRUE(Adopt(mPort, other));  // already open: nothing changes
  EXPECT_EQ(fd, mPort.GetSocket());
  close(other);

  EXPECT_TRUE(mPort.Close());
  EXPECT_FALSE(mPort.IsOpen());
  EXPECT_EQ(0u, mPort.GetPeerAddress());
  EXPECT_TRUE(mPort.Close());
}

TEST(TCPPortClosed, OperationsFailAndNameTheInvalidHandle) {
  LogCapture log;
  TCPPort port;
  uint32_t n = 7;
  EXPECT_FALSE(port.Write(Bytes("ab"), 2, n));
  EXPECT_EQ(0u, n);
  EXPECT_TRUE(log.Has("TCPPort::Write ffffffff IsOpen failed.\n"));
  EXPECT_FALSE(port.LowLevelSend(Bytes("ab"), 2, n));
  EXPECT_TRUE(log.Has("TCPPort::LowLevelSend ffffffff IsOpen failed.\n"));
  EXPECT_FALSE(port.CheckConnection());
  EXPECT_EQ(2, log.SeverityOf("TCPPort::CheckConnection 0xffffffff IsOpen failed.\n"));
  EXPECT_FALSE(port.Read(reinterpret_cast<uint8_t*>(&n), 4, n));
  EXPECT_FALSE(port.GetRXCount(n));
  EXPECT_FALSE(port.IsTXReady());
  EXPECT_FALSE(port.IsRXReady());
}

TEST(TCPPortConnect, WriteBeforeTheConnectCompletesTakesNothing) {
  uint32_t error = 0;
  int fd = owc::CreateStreamSocket(error);
  ASSERT_GE(fd, 0);
  TCPPort port;
  ASSERT_TRUE(Adopt(port, fd));
  EXPECT_FALSE(port.IsTXReady());
  uint32_t written = 9;
  EXPECT_TRUE(port.Write(Bytes("hello"), 5, written));
  EXPECT_EQ(0u, written);
  EXPECT_FALSE(port.HasOverflow());
  EXPECT_TRUE(port.IsOpen());
}

TEST(TCPPortConnect, CompletionIsLatchedByIsTXReadyAndClearedByClose) {
  Listener listener;
  uint32_t error = 0;
  int fd = owc::CreateStreamSocket(error);
  TCPPort port;
  ASSERT_TRUE(Adopt(port, fd));
  uint32_t started = owc::StartConnect(fd, owc_test::kLoopback, listener.Port());
  EXPECT_TRUE(started == 0 || started == 10036) << started;
  ASSERT_TRUE(owc_test::WaitFor(fd, POLLOUT));
  EXPECT_TRUE(port.IsTXReady());
  EXPECT_TRUE(port.CheckConnection());
  port.Close();
  EXPECT_FALSE(port.IsTXReady());
}

TEST(TCPPortConnect, ARefusedConnectIsNeverWritableAndFailsTheCheck) {
  LogCapture log;
  uint16_t deadPort;
  {
    Listener gone;
    deadPort = gone.Port();
  }
  uint32_t error = 0;
  int fd = owc::CreateStreamSocket(error);
  TCPPort port;
  ASSERT_TRUE(Adopt(port, fd));
  owc::StartConnect(fd, owc_test::kLoopback, deadPort);
  ASSERT_TRUE(owc_test::WaitFor(fd, POLLOUT));
  EXPECT_FALSE(port.IsTXReady());
  EXPECT_FALSE(port.CheckConnection());
  EXPECT_EQ(10061u, port.GetLastError());
  EXPECT_TRUE(log.Has(Format(
      "TCPPort::CheckConnection 0x%08x read check failed with error code 0x%08x.\n", fd, 10061)));
}

TEST(TCPPortConnect, AWriteCheckOnAVanishedHandleClosesThePort) {
  LogCapture log;
  uint32_t error = 0;
  int fd = owc::CreateStreamSocket(error);
  TCPPort port;
  ASSERT_TRUE(Adopt(port, fd));
  close(fd);  // behind the port's back
  EXPECT_FALSE(port.IsTXReady());
  EXPECT_EQ(2, log.SeverityOf(Format("TCPPort::IsTXReady 0x%08x write check failed.\n", fd)));
  EXPECT_EQ(10038u, port.GetLastError());
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(TCPPortPair, ReadsTakeWhatTheSocketHolds) {
  ASSERT_TRUE(owc_test::SendAll(mServer, Pattern(0, 100)));
  ASSERT_TRUE(owc_test::WaitForBytes(mPort.GetSocket(), 100));
  uint32_t count = 0;
  ASSERT_TRUE(mPort.GetRXCount(count));
  EXPECT_EQ(100u, count);
  EXPECT_TRUE(mPort.IsRXReady());

  uint8_t buf[128];
  uint32_t n = 0;
  EXPECT_TRUE(mPort.Read(buf, 0, n));
  EXPECT_EQ(0u, n);
  ASSERT_TRUE(mPort.Read(buf, 40, n));
  ASSERT_EQ(40u, n);
  ASSERT_TRUE(mPort.Read(buf + 40, sizeof buf - 40, n));
  ASSERT_EQ(60u, n);
  EXPECT_EQ(Pattern(0, 100), std::string(reinterpret_cast<char*>(buf), 100));
  ASSERT_TRUE(mPort.Read(buf, sizeof buf, n));
  EXPECT_EQ(0u, n);
  EXPECT_FALSE(mPort.IsRXReady());

  owc::IOPortStats stats;
  ASSERT_TRUE(mPort.GetStats(stats));
  EXPECT_EQ(100u, stats.mRXTotal);
}

TEST_F(TCPPortPair, AGracefulPeerClosePassesTheCheck) {
  CloseServer(false);
  ASSERT_TRUE(owc_test::WaitFor(mPort.GetSocket(), POLLIN));
  EXPECT_TRUE(mPort.CheckConnection());
  EXPECT_TRUE(mPort.IsOpen());
}

TEST_F(TCPPortPair, APeerResetIsLoggedWithItsErrorAndClosesThePort) {
  LogCapture log;
  ASSERT_TRUE(owc_test::SendAll(mServer, "tail"));
  ASSERT_TRUE(owc_test::WaitForBytes(mPort.GetSocket(), 4));
  CloseServer(true);
  ASSERT_TRUE(owc_test::WaitFor(mPort.GetSocket(), POLLERR));
  // Bytes that arrived before the reset are still read; the check then reports it.
  uint8_t buf[16];
  uint32_t n = 0;
  ASSERT_TRUE(mPort.Read(buf, sizeof buf, n));
  EXPECT_EQ(4u, n);
  EXPECT_FALSE(mPort.CheckConnection());
  EXPECT_EQ(2, log.SeverityOf(Format(
                   "TCPPort::CheckConnection 0x%08x read check failed with error code 0x%08x.\n",
                   mHandle, 10054)));
  EXPECT_EQ(10054u, mPort.GetLastError());
  EXPECT_FALSE(mPort.IsOpen());
  EXPECT_FALSE(mPort.Read(buf, sizeof buf, n));
}

TEST_F(TCPPortPair, SendingToAVanishedPeerFailsWithoutSigpipe) {
  LogCapture log;
  CloseServer(false);
  uint32_t sent = 0;
  for (int i = 0; i < 200; ++i) {
    if (!mPort.LowLevelSend(Bytes("data"), 4, sent)) break;
    owc_test::WaitFor(mPort.GetSocket(), POLLERR);  // the peer's reset
  }
  // Still running: the default SIGPIPE action would have ended the process.
  EXPECT_FALSE(mPort.IsOpen());
  EXPECT_EQ(10054u, mPort.GetLastError());
  EXPECT_TRUE(log.Has(
      Format("TCPPort::LowLevelSend %08x send failed with error code 0x%08x.\n", mHandle, 10054)));
}

TEST(TCPPortRXCount, AFailedCountIsLoggedAndClosesThePort) {
  LogCapture log;
  Listener listener;
  int fd = dup(listener.Fd());  // a listening socket has no byte count
  TCPPort port;
  ASSERT_TRUE(Adopt(port, fd));
  uint32_t count = 5;
  EXPECT_FALSE(port.GetRXCount(count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(2, log.SeverityOf(
                   Format("TCPPort::GetRXCount 0x%08x ioctlsocket failed with error code 0x%08x.\n",
                          fd, 10022)));
  EXPECT_EQ(10022u, port.GetLastError());
  EXPECT_FALSE(port.IsOpen());
}

TEST_F(TCPPortSlowPeer, OverflowIsSentBeforeNewBytesWithoutLossOrRepeat) {
  LogCapture log;
  const std::string first = Pattern(0, 4 << 20);
  uint32_t written = 0;
  ASSERT_TRUE(mPort.Write(Bytes(first), first.size(), written));
  EXPECT_EQ(first.size(), written);  // all taken: the rest is held
  ASSERT_TRUE(mPort.HasOverflow());
  EXPECT_TRUE(
      log.HasPart(Format("TCPPort::Write AddToOverflowBuf %08x, bytesWritten = ", mHandle)));

  const std::string second = Pattern(7, 1000);
  ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  EXPECT_EQ(0u, written);  // refused while overflow remains
  EXPECT_TRUE(
      log.HasPart(Format("TCPPort::Write Socket = %08x Overflow bytesWritten = ", mHandle)));
  EXPECT_TRUE(log.HasPart(Format("TCPPort::Write %08x overflow data exceeds 2048 = ", mHandle)));

  std::string received;
  for (int i = 0; i < 100000 && written == 0; ++i) {
    owc_test::WaitFor(mServer, POLLIN);
    received += owc_test::Drain(mServer);
    ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  }
  ASSERT_EQ(second.size(), written);
  uint32_t none = 0;
  for (int i = 0; i < 100000 && mPort.HasOverflow(); ++i) {
    owc_test::WaitFor(mServer, POLLIN);
    received += owc_test::Drain(mServer);
    ASSERT_TRUE(mPort.Write(nullptr, 0, none));
  }
  const std::string expected = first + second;
  while (received.size() < expected.size() && owc_test::WaitFor(mServer, POLLIN)) {
    received += owc_test::Drain(mServer);
  }
  ASSERT_EQ(expected.size(), received.size());
  EXPECT_TRUE(expected == received);
  owc::IOPortStats stats;
  ASSERT_TRUE(mPort.GetStats(stats));
  EXPECT_EQ(expected.size(), stats.mTXTotal);
}

TEST_F(TCPPortPair, PacedWriteHoldsTheExcessAndFlushesItUnpaced) {
  LogCapture log;
  mPort.SetPaceRate(8000);  // 10,000 bytes per window
  const std::string first = Pattern(0, 15000);
  uint32_t written = 0;
  ASSERT_TRUE(mPort.Write(Bytes(first), first.size(), written));
  EXPECT_EQ(15000u, written);
  EXPECT_EQ(5000u, mPort.GetOverflowLen());
  EXPECT_EQ(2, log.SeverityOf(Format(
                   "TCPPort::Write AddToOverflowBuf %08x, bytesWritten = 10000, bufLen = 15000.\n",
                   mHandle)));

  const std::string second = Pattern(3, 100);
  ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  EXPECT_EQ(0u, written);  // overflow went out; the window's budget is spent
  EXPECT_FALSE(mPort.HasOverflow());
  ASSERT_TRUE(owc_test::WaitForBytes(mServer, 15000));
  EXPECT_TRUE(first == owc_test::Drain(mServer));

  owc_test::AdvanceMs(10050);
  ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  EXPECT_EQ(100u, written);
  ASSERT_TRUE(owc_test::WaitForBytes(mServer, 100));
  EXPECT_EQ(second, owc_test::Drain(mServer));
}

TEST_F(TCPPortPair, AnOverflowThatCannotGrowClosesThePort) {
  LogCapture log;
  mPort.SetPaceRate(8000);
  const std::string bytes = Pattern(0, 15000);
  uint32_t written = 0;
  owc::SetTransportAllocHook([](size_t) { return false; });
  EXPECT_FALSE(mPort.Write(Bytes(bytes), bytes.size(), written));
  owc::SetTransportAllocHook(nullptr);
  EXPECT_EQ(0u, written);
  EXPECT_TRUE(log.Has("IOPort::AddToOverflowBuf new UBYTE [] failed.\n"));
  EXPECT_EQ(0, log.SeverityOf(Format("TCPPort::Write %08x AddToOverflowBuf failed.\n", mHandle)));
  EXPECT_FALSE(mPort.IsOpen());
}

TEST(TCPPortDump, LogsUpTo32BytesEightToALine) {
  LogCapture log;
  TCPPort port;
  uint8_t data[40];
  for (int i = 0; i < 40; ++i) data[i] = static_cast<uint8_t>(i + 0xF0);
  port.DumpBuf(data, 10);
  ASSERT_EQ(2u, log.Lines().size());
  EXPECT_EQ("TCPPort::DumpBuf | Data = F0 F1 F2 F3 F4 F5 F6 F7\n", log.Lines()[0].text);
  EXPECT_EQ("TCPPort::DumpBuf | Data = F8 F9\n", log.Lines()[1].text);
  EXPECT_EQ(2, log.Lines()[0].severity);
  log.Clear();
  port.DumpBuf(data, 40);
  ASSERT_EQ(4u, log.Lines().size());
  EXPECT_EQ("TCPPort::DumpBuf | Data = 08 09 0A 0B 0C 0D 0E 0F\n", log.Lines()[3].text);
}

}  // namespace
