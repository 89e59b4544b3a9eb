// SPDX-License-Identifier: MIT
#include "listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace owwired {
namespace {

bool SetFlags(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
         ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0;
}

int Fail(int fd, const std::string& what, std::string* error) {
  *error = what + ": " + std::strerror(errno);
  if (fd >= 0) ::close(fd);
  return -1;
}

}  // namespace

int OpenListener(const std::string& address, uint16_t port, uint16_t* boundPort,
                 std::string* error) {
  sockaddr_in where{};
  where.sin_family = AF_INET;
  where.sin_port = htons(port);
  if (::inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
    *error = "not an IPv4 address: " + address;
    return -1;
  }
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return Fail(fd, "socket", error);
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on)) != 0) {
    return Fail(fd, "SO_REUSEADDR", error);
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof(where)) != 0) {
    return Fail(fd, "cannot listen on " + address + ":" + std::to_string(port), error);
  }
  if (::listen(fd, 128) != 0 || !SetFlags(fd)) return Fail(fd, "listen", error);
  socklen_t length = sizeof(where);
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&where), &length) != 0) {
    return Fail(fd, "getsockname", error);
  }
  *boundPort = ntohs(where.sin_port);
  return fd;
}

int AcceptClient(int listenFd, std::string* peer, std::string* error) {
  sockaddr_in from{};
  socklen_t length = sizeof(from);
  int fd;
  do {
    fd = ::accept(listenFd, reinterpret_cast<sockaddr*>(&from), &length);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED) return -1;
    *error = std::string("accept: ") + std::strerror(errno);
    return -2;
  }
  int on = 1;
  if (!SetFlags(fd) || ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) != 0) {
    *error = std::string("setting up a client socket: ") + std::strerror(errno);
    ::close(fd);
    return -2;
  }
  char text[INET_ADDRSTRLEN] = "?";
  ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof(text));
  *peer = std::string(text) + ":" + std::to_string(ntohs(from.sin_port));
  return fd;
}

bool OpenWakePipe(int fds[2], std::string* error) {
  if (::pipe(fds) != 0) {
    Fail(-1, "pipe", error);
    return false;
  }
  if (SetFlags(fds[0]) && SetFlags(fds[1])) return true;
  Fail(fds[0], "pipe flags", error);
  ::close(fds[1]);
  fds[0] = fds[1] = -1;
  return false;
}

void PokeWakePipe(int writeFd) {
  if (writeFd < 0) return;
  char byte = 1;
  ssize_t ignored = ::write(writeFd, &byte, 1);
  (void)ignored;
}

void DrainWakePipe(int readFd) {
  char buffer[256];
  while (::read(readFd, buffer, sizeof(buffer)) > 0) {
  }
}

}  // namespace owwired
