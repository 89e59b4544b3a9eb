// SPDX-License-Identifier: MIT
#include "transport/socket_ops.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>

#include "platform/socket_errors.h"

namespace owc {

int CreateStreamSocket(uint32_t& error) {
  error = 0;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) error = LastSocketError();
  return fd;
}

ConnectStart StartConnect(int socket, uint32_t address, uint16_t port, uint32_t* error) {
  struct sockaddr_in server = {};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(address);
  if (connect(socket, reinterpret_cast<const struct sockaddr*>(&server), sizeof server) == 0) {
    return ConnectStart::kConnected;
  }
  uint32_t code = LastSocketError();
  if (code == kSockErrInProgress || code == kSockErrWouldBlock) return ConnectStart::kPending;
  if (error != nullptr) *error = code;
  return ConnectStart::kFailed;
}

void ShutdownSocket(int socket) { shutdown(socket, SHUT_RDWR); }

DottedIPv4::DottedIPv4(uint32_t address) {
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 0xFFu,
                (address >> 16) & 0xFFu, (address >> 8) & 0xFFu, address & 0xFFu);
}

}  // namespace owc
