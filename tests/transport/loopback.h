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

inline bool WaitFor(int fd, short events) {
  pollfd p = {fd, events, 0};
  return poll(&p, 1, kEventWaitMs) == 1;
}

// A listening socket on an ephemeral port; accepted sockets inherit rcvBuf when > 0.
class Listener {
 public:
  explicit Listener(int rcvBuf = 0) : mFd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (rcvBuf > 0) setsockopt(mFd, SOL_SOCKET, SO_RCVBUF, &rcvBuf, sizeof rcvBuf);
    sockaddr_in a = Address(0);
    bind(mFd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(mFd, 8);
    socklen_t size = sizeof a;
    getsockname(mFd, reinterpret_cast<sockaddr*>(&a), &size);
    mPort = ntohs(a.sin_port);
  }
  ~Listener() { close(mFd); }
  Listener(const Listener&) = delete;
  uint16_t Port() const { return mPort; }
  int Accept() { return WaitFor(mFd, POLLIN) ? accept4(mFd, nullptr, nullptr, SOCK_CLOEXEC) : -1; }
  int Connect() const {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a = Address(mPort);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
    close(fd);
    return -1;
  }

 private:
  static sockaddr_in Address(uint16_t port) {
    sockaddr_in a = {};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(kLoopback);
    a.sin_port = htons(port);
    return a;
  }
  int mFd;
  uint16_t mPort = 0;
};

// Waits until fd holds at least n bytes for reading.
inline bool WaitForBytes(int fd, int n) {
  for (int i = 0, available = 0; i < 100; ++i) {
    if (ioctl(fd, FIONREAD, &available) == 0 && available >= n) return true;
    pollfd p = {fd, POLLIN, 0};
    poll(&p, 1, kEventWaitMs / 100);
  }
  return false;
}

inline std::string Drain(int fd) {
  std::string out;
  char buf[65536];
  for (ssize_t n; (n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
    out.append(buf, static_cast<size_t>(n));
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

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_TRANSPORT_LOOPBACK_H
