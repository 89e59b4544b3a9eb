// SPDX-License-Identifier: MIT
#include "transport/tcp_port.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/clock.h"
#include "support/log_capture.h"
#include "support/raw_socket.h"
#include "support/refused_allocations.h"
#include "transport/socket_ops.h"

namespace owc_test {
namespace {

using owc::TCPPort;

std::string Format(const char* format, int fd, uint32_t code = 0) {
  char line[256];
  std::snprintf(line, sizeof line, format, static_cast<unsigned>(fd), code);
  return line;
}

std::string Pattern(size_t seed, size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((seed + i) % 251);
  return s;
}

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

bool Adopt(TCPPort& port, int fd) { return port.Open(&fd, sizeof fd); }

// The failure was logged naming handle and code, kept as the last error, and closed the port.
void ExpectClosedWith(TCPPort& port, const LogCapture& log, const char* line, int fd,
                      uint32_t code) {
  EXPECT_EQ(2, log.SeverityOf(Format(line, fd, code))) << line;
  EXPECT_EQ(code, port.GetLastError());
  EXPECT_FALSE(port.IsOpen());
}

const char kCheckFailed[] =
    "TCPPort::CheckConnection 0x%08x read check failed with error code 0x%08x.\n";

class TCPPortTest : public ::testing::Test {
 protected:
  // The port on a fresh loopback connection; the server's small receive buffer makes sends
  // partial.
  void Pair() {
    mFd = mListener.Connect();
    mServer = mListener.Accept();
    ASSERT_TRUE(Adopt(mPort, mFd));
  }
  void TearDown() override {
    if (mServer >= 0) close(mServer);
  }
  // What the server has received after got, once it holds n bytes or nothing more comes.
  std::string Receive(size_t n, std::string got = "") {
    while (got.size() < n && owc_test::WaitFor(mServer, POLLIN)) got += owc_test::Drain(mServer);
    return got;
  }

  LogCapture mLog;
  owc_test::Listener mListener{owc_test::kLoopback, 0, 4096};
  TCPPort mPort;
  int mFd = -1;
  int mServer = -1;
};

// Writes take nothing until the connect completes, which IsTXReady latches until the port
// closes. A peer's graceful close passes the check; sends after it fail without SIGPIPE.
TEST_F(TCPPortTest, ConnectingOpenPeerGoneAndClosed) {
  owc_test::Listener listener;
  uint32_t error = 0, written = 9;
  int fd = owc::CreateStreamSocket(error);
  ASSERT_TRUE(Adopt(mPort, fd));
  EXPECT_NE(0, fcntl(fd, F_GETFL) & O_NONBLOCK);
  linger hard = {};
  socklen_t size = sizeof hard;
  ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, &size));
  EXPECT_TRUE(hard.l_onoff == 1 && hard.l_linger == 0);  // closing resets the connection
  // The receive window holds several 64 KB blocks (as far as the system's maximum allows):
  // a one-block window makes the server wait for every read.
  int receive = 0, send = 0;
  size = sizeof receive;
  ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive, &size));
  ASSERT_EQ(0, getsockopt(fd, SOL_SOCKET, SO_SNDBUF, &send, &size));
  EXPECT_GT(receive, 2 * send);
  EXPECT_TRUE(mPort.Write(Bytes("hello"), 5, written));
  EXPECT_EQ(0u, written);
  owc::StartConnect(fd, owc_test::kLoopback, listener.Port());
  ASSERT_TRUE(owc_test::WaitFor(fd, POLLOUT));
  EXPECT_TRUE(mPort.IsTXReady());
  close(listener.Accept());
  ASSERT_TRUE(owc_test::WaitFor(fd, POLLIN));
  EXPECT_TRUE(mPort.CheckConnection());
  for (int i = 0; i < 200 && mPort.LowLevelSend(Bytes("data"), 4, written); ++i) {
    owc_test::WaitFor(fd, POLLERR);  // the peer's reset
  }
  // Still running: the default SIGPIPE action would have ended the process.
  ExpectClosedWith(mPort, mLog, "TCPPort::LowLevelSend %08x send failed with error code 0x%08x.\n",
                   fd, 10054);
  EXPECT_FALSE(mPort.Write(Bytes("ab"), 2, written));
  EXPECT_EQ(2, mLog.SeverityOf("TCPPort::Write ffffffff IsOpen failed.\n"));
  ASSERT_TRUE(Adopt(mPort, owc::CreateStreamSocket(error)));
  EXPECT_FALSE(mPort.IsTXReady());  // the latch went with the old socket
}

TEST_F(TCPPortTest, FailedOpensChecksAndConnectsAreLoggedAndLeaveThePortClosed) {
  uint64_t info = 3;
  EXPECT_FALSE(mPort.Open(&info, sizeof info));
  EXPECT_EQ(0, mLog.SeverityOf("TCPPort::Open invalid open info.\n"));
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  EXPECT_FALSE(Adopt(mPort, fds[0]));
  EXPECT_EQ(0, mLog.SeverityOf(Format("TCPPort::Open 0x%08x set linger mode failed.\n", fds[0])));
  EXPECT_EQ(-1, fcntl(fds[0], F_GETFD));  // closed by the port
  close(fds[1]);

  uint32_t error = 0;
  int fd = owc::CreateStreamSocket(error);
  ASSERT_TRUE(Adopt(mPort, fd));
  close(fd);  // behind the port's back
  EXPECT_FALSE(mPort.IsTXReady());
  ExpectClosedWith(mPort, mLog, "TCPPort::IsTXReady 0x%08x write check failed.\n", fd, 10038);

  uint16_t closed = owc_test::Listener().Port();  // nobody listens there now
  fd = owc::CreateStreamSocket(error);
  ASSERT_TRUE(Adopt(mPort, fd));
  owc::StartConnect(fd, owc_test::kLoopback, closed);
  ASSERT_TRUE(owc_test::WaitFor(fd, POLLOUT));
  EXPECT_FALSE(mPort.IsTXReady());  // writable only with the error
  EXPECT_FALSE(mPort.CheckConnection());
  ExpectClosedWith(mPort, mLog, kCheckFailed, fd, 10061);
  // Bytes before a peer's reset are read, then the check reports the reset.
  ASSERT_NO_FATAL_FAILURE(Pair());
  ASSERT_TRUE(owc_test::SendAll(mServer, "tail"));
  ASSERT_TRUE(owc_test::WaitForBytes(mFd, 4));
  linger hard = {1, 0};
  setsockopt(mServer, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
  close(mServer);
  mServer = -1;
  ASSERT_TRUE(owc_test::WaitFor(mFd, POLLERR));
  uint8_t buf[16];
  uint32_t n = 0;
  ASSERT_TRUE(mPort.Read(buf, sizeof buf, n));
  EXPECT_EQ("tail", std::string(reinterpret_cast<char*>(buf), n));
  EXPECT_FALSE(mPort.CheckConnection());
  ExpectClosedWith(mPort, mLog, kCheckFailed, mFd, 10054);
}

TEST_F(TCPPortTest, PartialSendsAreHeldAndGoOutBeforeNewBytesWithoutLossOrRepeat) {
  ASSERT_NO_FATAL_FAILURE(Pair());
  const std::string first = Pattern(0, 4 << 20), second = Pattern(7, 1000);
  uint32_t written = 0;
  ASSERT_TRUE(mPort.Write(Bytes(first), first.size(), written));
  EXPECT_EQ(first.size(), written);  // all taken: the rest is held
  EXPECT_TRUE(mPort.IsTXReady());    // latched, though the send buffer is full
  ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  EXPECT_EQ(0u, written);  // refused while overflow remains
  EXPECT_TRUE(mLog.HasPart(Format("TCPPort::Write Socket = %08x Overflow bytesWritten = ", mFd)));
  EXPECT_TRUE(mLog.HasPart(Format("TCPPort::Write %08x overflow data exceeds 2048 = ", mFd)));
  std::string received;
  for (int i = 0; i < 100000 && (written == 0 || mPort.HasOverflow()); ++i) {
    owc_test::WaitFor(mServer, POLLIN);
    received += owc_test::Drain(mServer);
    uint32_t none = 0;
    ASSERT_TRUE(written == 0 ? mPort.Write(Bytes(second), second.size(), written)
                             : mPort.Write(nullptr, 0, none));
  }
  const std::string expected = first + second;
  EXPECT_TRUE(expected == Receive(expected.size(), received));
}

TEST_F(TCPPortTest, PacedWriteHoldsTheExcessFlushesItUnpacedAndClosesWhenItCannotHoldIt) {
  ASSERT_NO_FATAL_FAILURE(Pair());
  mPort.SetPaceRate(8000);  // 10,000 bytes per window
  const std::string first = Pattern(0, 15000), second = Pattern(3, 100);
  uint32_t written = 0;
  ASSERT_TRUE(mPort.Write(Bytes(first), first.size(), written));
  EXPECT_EQ(15000u, written);
  EXPECT_EQ(2, mLog.SeverityOf(Format(
                   "TCPPort::Write AddToOverflowBuf %08x, bytesWritten = 10000, bufLen = 15000.\n",
                   mFd)));
  ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  EXPECT_EQ(0u, written);  // overflow went out; the window's budget is spent
  EXPECT_TRUE(first == Receive(first.size()));
  owc_test::AdvanceMs(10000);
  ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  EXPECT_EQ(0u, written);  // the window's start + 10 s has not passed
  owc_test::AdvanceMs(50);
  ASSERT_TRUE(mPort.Write(Bytes(second), second.size(), written));
  EXPECT_EQ(100u, written);
  EXPECT_EQ(second, Receive(second.size()));

  owc_test::AdvanceMs(10050);
  EXPECT_FALSE(WithAllowed(0, [&] { return mPort.Write(Bytes(first), first.size(), written); }));
  EXPECT_EQ(0u, written);
  EXPECT_EQ(0, mLog.SeverityOf(Format("TCPPort::Write %08x AddToOverflowBuf failed.\n", mFd)));
  EXPECT_FALSE(mPort.IsOpen());
}

// Only the bytes go to the log: nothing of them may be printed as text.
TEST_F(TCPPortTest, LogsAtMostThirtyTwoBytesEightToALineInUpperCaseHex) {
  const std::string bytes("\x00\x41\x7f\xff\n\x80 \x1b\xab\x10\t", 11);
  mPort.DumpBuf(Bytes(bytes), 11);
  mPort.DumpBuf(Bytes(bytes), 0);
  mPort.DumpBuf(Bytes(Pattern(8, 40)), 40);
  std::vector<std::string> texts;
  for (const LogCapture::Line& line : mLog.Lines()) {
    texts.push_back(line.text);
    EXPECT_EQ(2, line.severity) << line.text;
  }
  const std::string d = "TCPPort::DumpBuf | Data = ";
  EXPECT_EQ(
      (std::vector<std::string>{d + "00 41 7F FF 0A 80 20 1B\n", d + "AB 10 09\n",
                                d + "08 09 0A 0B 0C 0D 0E 0F\n", d + "10 11 12 13 14 15 16 17\n",
                                d + "18 19 1A 1B 1C 1D 1E 1F\n", d + "20 21 22 23 24 25 26 27\n"}),
      texts);
}

}  // namespace
}  // namespace owc_test
