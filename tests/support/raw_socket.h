// SPDX-License-Identifier: MIT
// Raw TCP over loopback, for what no well-behaved peer does: reset, stop reading, fill a small
// receive buffer. Waits are for socket events (poll with a generous limit), not the clock.
#ifndef OWCLIENT_TESTS_SUPPORT_RAW_SOCKET_H
#define OWCLIENT_TESTS_SUPPORT_RAW_SOCKET_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace owc_test {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host byte order
constexpr uint16_t kWirePort = 39030;
constexpr int kEventWaitMs = 5000;

inline uint32_t Loopback(uint8_t last) { return 0x7F000000u | last; }
inline uint32_t Ipv4Of(const std::string& dotted) {  // host byte order
  in_addr a{};
  inet_pton(AF_INET, dotted.c_str(), &a);
  return ntohl(a.s_addr);
}

inline bool WaitFor(int fd, short events, int timeoutMs = kEventWaitMs) {
  pollfd p = {fd, events, 0};
  return poll(&p, 1, timeoutMs) == 1;
}

// Waits until fd holds at least n bytes for reading.
inline bool WaitForBytes(int fd, int n) {
  for (int i = 0, available = 0; i < 100; ++i) {
    if (ioctl(fd, FIONREAD, &available) == 0 && available >= n) return true;
    WaitFor(fd, POLLIN, kEventWaitMs / 100);
  }
  return false;
}

// What has arrived, without waiting.
inline std::string Drain(int fd) {
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;) out.append(buf, size_t(n));
  return out;
}

inline bool SendAll(int fd, const std::string& bytes) {
  for (size_t sent = 0; sent < bytes.size();) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

inline sockaddr_in Ipv4(uint32_t address, uint16_t port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(address);
  a.sin_port = htons(port);
  return a;
}

// One connect attempt without delayed small sends; the socket, or -1.
inline int ConnectTo(uint32_t address, uint16_t port, int rcvBuf = 0) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (rcvBuf > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
  int on = 1;  // small requests back to back must not wait for the peer's delayed ACK
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  sockaddr_in a = Ipv4(address, port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  close(fd);
  return -1;
}

// A listening socket on address:port (port 0: an ephemeral one). A small receive buffer
// set here is inherited by accepted sockets, so a peer that stops reading fills up quickly.
class Listener {
 public:
  explicit Listener(uint32_t address = kLoopback, uint16_t port = 0, int rcvBuf = 0)
      : mFd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)), mAddress(address) {
    int one = 1;
    setsockopt(mFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (rcvBuf > 0) setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
    sockaddr_in a = Ipv4(address, port);
    mBound = bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && listen(mFd, 8) == 0;
    socklen_t size = sizeof a;
    getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &size);
    mPort = ntohs(a.sin_port);
  }
  ~Listener() { close(mFd); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;
  bool Bound() const { return mBound; }
  uint16_t Port() const { return mPort; }
  int Accept(int timeoutMs = kEventWaitMs) {
    return WaitFor(mFd, POLLIN, timeoutMs) ? accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC) : -1;
  }
  int Connect() const { return ConnectTo(mAddress, mPort); }

 private:
  int mFd;
  uint32_t mAddress;
  uint16_t mPort = 0;
  bool mBound = false;
};

// A scripted server for one connection on address:39030.
class RawPeer {
 public:
  explicit RawPeer(uint32_t address, int rcvBuf = 0) : mListener(address, kWirePort, rcvBuf) {}
  ~RawPeer() {
    if (mConn >= 0) close(mConn);
  }
  bool Bound() const { return mListener.Bound(); }
  bool Accept(int timeoutMs = kEventWaitMs) { return (mConn = mListener.Accept(timeoutMs)) >= 0; }
  bool SendAll(const std::string& bytes) { return owc_test::SendAll(mConn, bytes); }
  // Closes so that the client sees a reset rather than an end of stream.
  void Reset() {
    linger l{1, 0};
    setsockopt(mConn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(mConn);
    mConn = -1;
  }
  // Reads until what arrived since the last call contains `part`, or nothing came for
  // idleMs; true when it did. The bytes up to and including `part` are used up.
  bool ReadUntil(const std::string& part, int idleMs = kEventWaitMs) {
    size_t at;
    while ((at = mPending.find(part)) == std::string::npos) {
      const std::string more = ReadUpTo(1, idleMs);
      if (more.empty()) return false;
      mPending += more;
    }
    mPending.erase(0, at + part.size());
    return true;
  }
  // Reads until `count` bytes arrived or nothing came for idleMs.
  std::string ReadUpTo(size_t count, int idleMs = 3000) {
    std::string out;
    while (out.size() < count && WaitFor(mConn, POLLIN, idleMs)) {
      std::string more = Drain(mConn);
      if (more.empty()) break;  // end of stream
      out += more;
    }
    return out;
  }

 private:
  Listener mListener;
  int mConn = -1;
  std::string mPending;  // read by ReadUntil, not used up yet
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_RAW_SOCKET_H
