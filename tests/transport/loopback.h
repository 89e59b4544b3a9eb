// Real TCP connections over 127.0.0.1 for transport and client-port tests. Waits here
// are for socket events (poll with a generous limit), never for the clock.
#ifndef OWCLIENT_TESTS_TRANSPORT_LOOPBACK_H
#define OWCLIENT_TESTS_TRANSPORT_LOOPBACK_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace owc_test {

constexpr uint32_t kLoopback = 0x7F000001;  // 127.0.0.1, host byte order
constexpr int kEventWaitMs = 5000;

inline sockaddr_in LoopbackAddress(uint16_t port) {
  sockaddr_in a = {};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(kLoopback);
  a.sin_port = htons(port);
  return a;
}

// A listening socket on an ephemeral loopback port. rcvBuf > 0 sets the receive buffer
// that accepted sockets inherit.
class Listener {
 public:
  explicit Listener(int rcvBuf = 0) {
    mFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (rcvBuf > 0) setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
    sockaddr_in a = LoopbackAddress(0);
    bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(mFd, 8);
    socklen_t size = sizeof a;
    getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &size);
    mPort = ntohs(a.sin_port);
  }
  ~Listener() { Close(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  void Close() {
    if (mFd >= 0) close(mFd);
    mFd = -1;
  }
  int Fd() const { return mFd; }
  uint16_t Port() const { return mPort; }
  // The next connection, or -1 when none came.
  int Accept() {
    pollfd p = {mFd, POLLIN, 0};
    if (poll(&p, 1, kEventWaitMs) != 1) return -1;
    return accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int mFd = -1;
  uint16_t mPort = 0;
};

// A blocking socket connected to the listener (the side a TCPPort adopts).
inline int ConnectTo(const Listener& listener) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = LoopbackAddress(listener.Port());
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool WaitFor(int fd, short events) {
  pollfd p = {fd, events, 0};
  return poll(&p, 1, kEventWaitMs) == 1;
}

// Waits until fd holds at least n bytes for reading.
inline bool WaitForBytes(int fd, int n) {
  for (int i = 0; i < 100; ++i) {
    int available = 0;
    ioctl(fd, FIONREAD, &available);
    if (available >= n) return true;
    pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, kEventWaitMs / 100);
  }
  return false;
}

// Closing this side resets the connection.
inline void SetHardClose(int fd) {
  linger hard = {1, 0};
  setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
}

// Everything readable now (non-blocking reads until none is left).
inline std::string Drain(int fd) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = recv(fd, buf, sizeof buf, MSG_DONTWAIT);
    if (n <= 0) return out;
    out.append(buf, static_cast<size_t>(n));
  }
}

inline bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_TRANSPORT_LOOPBACK_H
