// SPDX-License-Identifier: MIT
#include "loopback.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

namespace owbench {

int ListenOn(const std::string& address, sockaddr_in* bound) {
  const int listener = socket(AF_INET, SOCK_STREAM, 0);
  *bound = sockaddr_in{};
  bound->sin_family = AF_INET;
  inet_pton(AF_INET, address.c_str(), &bound->sin_addr);
  socklen_t len = sizeof *bound;
  if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(bound), sizeof *bound) != 0 ||
      listen(listener, 1) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(bound), &len) != 0) {
    if (listener >= 0) close(listener);
    return -1;
  }
  return listener;
}

int ConnectTo(const sockaddr_in& to) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    close(fd);
    return -1;
  }
  SetNoDelay(fd);
  return fd;
}

void SetNoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool ReadAll(int fd, char* buf, size_t len) {
  while (len > 0) {
    ssize_t got = recv(fd, buf, len, 0);
    if (got <= 0) return false;
    buf += got;
    len -= static_cast<size_t>(got);
  }
  return true;
}

bool WriteAll(int fd, const char* buf, size_t len) {
  while (len > 0) {
    ssize_t sent = send(fd, buf, len, MSG_NOSIGNAL);
    if (sent <= 0) return false;
    buf += sent;
    len -= static_cast<size_t>(sent);
  }
  return true;
}

}  // namespace owbench
