// SPDX-License-Identifier: MIT
#include "transport/tcp_port.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include "platform/socket_errors.h"
#include "runtime/trace_log.h"

namespace owc {

TCPPort::~TCPPort() { TCPPort::Close(); }

bool TCPPort::Open(const void* info, uint32_t size) {
  if (info == nullptr || size != sizeof(int)) {
    TraceLog(kLevelFailure, "TCPPort::Open invalid open info.\n");
    return false;
  }
  if (IsOpen()) return true;
  mSocket = *static_cast<const int*>(info);
  if (!SetOptions()) {
    Close();
    return false;
  }
  ResetStatsStart();
  return true;
}

bool TCPPort::CreateSocket(unsigned& handle, uint32_t& error) {
  DropCreated();
  mCreatedSocket = CreateStreamSocket(error);
  handle = static_cast<unsigned>(mCreatedSocket);
  return mCreatedSocket != kInvalidSocket;
}

bool TCPPort::OpenCreated() {
  int socket = mCreatedSocket;
  mCreatedSocket = kInvalidSocket;
  return socket != kInvalidSocket && Open(&socket, sizeof socket);
}

void TCPPort::DropCreated() {
  if (mCreatedSocket != kInvalidSocket) close(mCreatedSocket);
  mCreatedSocket = kInvalidSocket;
}

ConnectStart TCPPort::StartConnect(uint32_t address, uint16_t port, uint32_t& error) {
  return owc::StartConnect(mSocket, address, port, &error);
}

void TCPPort::Shutdown() {
  if (IsOpen()) ShutdownSocket(mSocket);
}

bool TCPPort::SetOptions() {
  // Linger on with time 0: closing resets the connection and drops unsent bytes.
  struct linger hardClose = {1, 0};
  if (setsockopt(mSocket, SOL_SOCKET, SO_LINGER, &hardClose, sizeof hardClose) != 0) {
    TraceLogF(kLevelFailure, "TCPPort::Open 0x%08x set linger mode failed.\n", LogHandle());
    return false;
  }
  int receiveSize = kReceiveBufferSize;
  if (setsockopt(mSocket, SOL_SOCKET, SO_RCVBUF, &receiveSize, sizeof receiveSize) != 0) {
    TraceLogF(kLevelFailure, "TCPPort::Open 0x%08x set RX buffer failed.\n", LogHandle());
    return false;
  }
  int bufferSize = kSocketBufferSize;
  if (setsockopt(mSocket, SOL_SOCKET, SO_SNDBUF, &bufferSize, sizeof bufferSize) != 0) {
    TraceLogF(kLevelFailure, "TCPPort::Open 0x%08x set TX buffer failed.\n", LogHandle());
    return false;
  }
  int nonBlocking = 1;
  if (ioctl(mSocket, FIONBIO, &nonBlocking) != 0) {
    TraceLogF(kLevelFailure, "TCPPort::Open 0x%08x set non-blocking mode failed.\n", LogHandle());
    return false;
  }
  // The protocol is a dialogue of small messages (an ACK, then the next RQST): without
  // this, the second waits for the peer's delayed acknowledgement of the first, some
  // 40 ms per file. Best effort: a socket without it still works, only slower.
  int noDelay = 1;
  setsockopt(mSocket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  return true;
}

bool TCPPort::Close() {
  DropCreated();
  if (!IsOpen()) return true;
  ClearOverflow();
  close(mSocket);
  mSocket = kInvalidSocket;
  mTXReady = false;
  mPeerEnded = false;
  return true;
}

void TCPPort::FailWith(const char* line, uint32_t code) {
  TraceLogF(kLevelProgress, line, LogHandle(), code);
  SetLastError(code);
  Close();
}

bool TCPPort::CheckConnection() {
  if (!IsOpen()) {
    TraceLogF(kLevelProgress, "TCPPort::CheckConnection 0x%08x IsOpen failed.\n", LogHandle());
    return false;
  }
  uint8_t byte;
  if (recv(mSocket, &byte, 1, MSG_PEEK) >= 0) return true;
  uint32_t code = LastSocketError();
  if (IsTransientSocketError(code)) return true;
  FailWith("TCPPort::CheckConnection 0x%08x read check failed with error code 0x%08x.\n", code);
  return false;
}

bool TCPPort::IsTXReady() {
  if (!IsOpen()) return false;
  if (mTXReady) return true;
  struct pollfd check = {mSocket, POLLOUT, 0};
  int result = poll(&check, 1, 0);
  if (result < 0 || (check.revents & POLLNVAL) != 0) {
    uint32_t code = result < 0 ? LastSocketError() : kSockErrNotSocket;
    if (IsTransientSocketError(code)) return false;
    TraceLogF(kLevelProgress, "TCPPort::IsTXReady 0x%08x write check failed.\n", LogHandle());
    SetLastError(code);
    Close();
    return false;
  }
  // A failed or never-started connect also shows POLLOUT here, together with an error or
  // hang-up; only a healthy socket counts as writable (the connection check reports the
  // error).
  if ((check.revents & POLLOUT) != 0 && (check.revents & (POLLERR | POLLHUP)) == 0) {
    mTXReady = true;
  }
  return mTXReady;
}

bool TCPPort::GetRXCount(uint32_t& count) {
  count = 0;
  if (!IsOpen()) return false;
  int available = 0;
  if (ioctl(mSocket, FIONREAD, &available) != 0) {
    FailWith("TCPPort::GetRXCount 0x%08x ioctlsocket failed with error code 0x%08x.\n",
             LastSocketError());
    return false;
  }
  count = available > 0 ? static_cast<uint32_t>(available) : 0;
  return true;
}

bool TCPPort::IsRXReady() {
  uint32_t count;
  return GetRXCount(count) && count != 0;
}

bool TCPPort::Read(uint8_t* buf, uint32_t len, uint32_t& n) {
  n = 0;
  if (!IsOpen()) return false;
  if (len == 0 || buf == nullptr) return true;
  uint32_t available;
  if (!GetRXCount(available)) return false;  // the port is closed
  if (available == 0) return true;
  return ReadSome(buf, len, n);
}

bool TCPPort::ReadSome(uint8_t* buf, uint32_t len, uint32_t& n) {
  n = 0;
  if (!IsOpen()) return false;
  if (len == 0 || buf == nullptr) return true;
  ssize_t received = recv(mSocket, buf, len, MSG_DONTWAIT);
  if (received < 0) {
    uint32_t code = LastSocketError();
    if (IsTransientSocketError(code)) return true;
    FailWith("TCPPort::Read 0x%08x failed with error code 0x%08x.\n", code);
    return false;
  }
  if (received == 0) mPeerEnded = true;
  n = static_cast<uint32_t>(received);
  CountRX(n);
  return true;
}

bool TCPPort::LowLevelSend(const uint8_t* buf, uint32_t len, uint32_t& sent) {
  sent = 0;
  if (!IsOpen()) {
    TraceLogF(kLevelProgress, "TCPPort::LowLevelSend %08x IsOpen failed.\n", LogHandle());
    return false;
  }
  ssize_t result = send(mSocket, buf, len, MSG_NOSIGNAL);
  if (result >= 0) {
    sent = static_cast<uint32_t>(result);
    CountTX(sent);
    return true;
  }
  uint32_t code = LastSocketError();
  if (IsTransientSocketError(code)) return true;
  FailWith("TCPPort::LowLevelSend %08x send failed with error code 0x%08x.\n", code);
  return false;
}

bool TCPPort::Write(const uint8_t* buf, uint32_t len, uint32_t& written) {
  written = 0;
  if (!IsOpen()) {
    TraceLogF(kLevelProgress, "TCPPort::Write %08x IsOpen failed.\n", LogHandle());
    return false;
  }
  if (!IsTXReady()) return true;
  if (HasOverflow()) {
    bool flushed = false;
    if (!FlushOverflow(len, flushed)) return false;
    if (!flushed) return true;
  }
  if (len == 0 || buf == nullptr) return true;
  uint32_t allowed = GetPaceAllowance(len);
  if (allowed == 0) return true;
  unsigned handle = LogHandle();  // the lines below name the socket even after a close
  uint32_t sent = 0;
  if (!LowLevelSend(buf, allowed, sent)) {
    TraceLogF(kLevelProgress, "TCPPort::Write %08x LowLevelSend failed at pace.\n", handle);
    return false;
  }
  if (sent != len) {
    TraceLogF(kLevelProgress,
              "TCPPort::Write AddToOverflowBuf %08x, bytesWritten = %ld, bufLen = %ld.\n", handle,
              static_cast<long>(sent), static_cast<long>(len));
    if (!AddToOverflowBuf(buf + sent, len - sent)) {
      TraceLogF(kLevelFailure, "TCPPort::Write %08x AddToOverflowBuf failed.\n", handle);
      Close();
      return false;
    }
  }
  written = len;
  return true;
}

bool TCPPort::FlushOverflow(uint32_t len, bool& flushed) {
  unsigned handle = LogHandle();
  uint32_t held = GetOverflowLen();
  uint32_t sent = 0;
  if (!LowLevelSend(GetOverflowBuf(), held, sent)) return false;
  if (!WroteOverflowBuf(sent)) {
    Close();  // sent more than was held: the socket's count cannot be trusted
    return false;
  }
  flushed = sent == held;
  if (flushed) return true;
  TraceLogF(kLevelProgress,
            "TCPPort::Write Socket = %08x Overflow bytesWritten = %ld, OverflowLen = %ld, "
            "bufLen = %ld.\n",
            handle, static_cast<long>(sent), static_cast<long>(held), static_cast<long>(len));
  if (GetOverflowLen() > kOverflowWarnBytes) {
    TraceLogF(kLevelProgress, "TCPPort::Write %08x overflow data exceeds 2048 = %ld.\n", handle,
              static_cast<long>(GetOverflowLen()));
  }
  return true;
}

void TCPPort::SetName(const char* name) { mName = name != nullptr ? name : ""; }

uint32_t TCPPort::GetPeerAddress() const {
  if (!IsOpen()) return 0;
  struct sockaddr_in peer = {};
  socklen_t size = sizeof peer;
  if (getpeername(mSocket, reinterpret_cast<struct sockaddr*>(&peer), &size) != 0 ||
      peer.sin_family != AF_INET) {
    return 0;
  }
  return ntohl(peer.sin_addr.s_addr);
}

void TCPPort::DumpBuf(const uint8_t* data, uint32_t len) {
  constexpr uint32_t kMaxBytes = 32;
  constexpr uint32_t kPerLine = 8;
  if (data == nullptr) return;
  uint32_t count = len < kMaxBytes ? len : kMaxBytes;
  for (uint32_t start = 0; start < count; start += kPerLine) {
    char line[64];
    int pos = std::snprintf(line, sizeof line, "TCPPort::DumpBuf | Data =");
    for (uint32_t i = start; i < count && i < start + kPerLine; ++i) {
      pos += std::snprintf(line + pos, sizeof line - pos, " %02X", data[i]);
    }
    std::snprintf(line + pos, sizeof line - pos, "\n");
    TraceLog(kLevelProgress, line);
  }
}

}  // namespace owc
