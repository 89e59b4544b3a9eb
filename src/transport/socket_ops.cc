#include "transport/socket_ops.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "platform/socket_errors.h"

namespace owc {

int CreateStreamSocket(uint32_t& error) {
  error = 0;
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (fd < 0) error = LastSocketError();
  return fd;
}

uint32_t StartConnect(int socket, uint32_t address, uint16_t port) {
  struct sockaddr_in server = {};
  server.sin_family = AF_INET;
  server.sin_port = htons(port);
  server.sin_addr.s_addr = htonl(address);
  if (connect(socket, reinterpret_cast<const struct sockaddr*>(&server), sizeof server) == 0) {
    return 0;
  }
  return LastSocketError();
}

void ShutdownSocket(int socket) { shutdown(socket, SHUT_RDWR); }

}  // namespace owc
