// SPDX-License-Identifier: MIT
// The socket calls that a transport's owner makes around a TCPPort: creating the stream
// socket, starting its connect and shutting it down. They keep the layers above free of
// direct socket calls. Errors are socket error numbers (platform/socket_errors.h).
#ifndef OWCLIENT_TRANSPORT_SOCKET_OPS_H
#define OWCLIENT_TRANSPORT_SOCKET_OPS_H

#include <cstdint>

namespace owc {

// A new IPv4 TCP socket (close-on-exec), or -1 with error set.
int CreateStreamSocket(uint32_t& error);

enum class ConnectStart { kConnected, kPending, kFailed };

// Starts a connect to address:port, both in host byte order: connected at once, pending
// while a non-blocking attempt is under way (its outcome shows on the socket later), or
// failed, with *error (when given) the socket error number.
ConnectStart StartConnect(int socket, uint32_t address, uint16_t port, uint32_t* error = nullptr);

// Shuts the socket down in both directions; errors are of no interest to a closer.
void ShutdownSocket(int socket);

// An IPv4 address in host byte order as dotted decimal ("192.0.2.7") for log lines.
struct DottedIPv4 {
  explicit DottedIPv4(uint32_t address);
  char text[16];
};

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_SOCKET_OPS_H
