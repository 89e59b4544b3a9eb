// The socket calls that a transport's owner makes around a TCPPort: creating the stream
// socket, starting its connect and shutting it down. They keep the layers above free of
// direct socket calls. Errors are socket error numbers (platform/socket_errors.h).
#ifndef OWCLIENT_TRANSPORT_SOCKET_OPS_H
#define OWCLIENT_TRANSPORT_SOCKET_OPS_H

#include <cstdint>

namespace owc {

// A new IPv4 TCP socket (close-on-exec), or -1 with error set.
int CreateStreamSocket(uint32_t& error);

// Starts a connect to address:port, both in host byte order. Returns 0 when connected at
// once, the "in progress" or "would block" code while a non-blocking attempt is under
// way, or the error.
uint32_t StartConnect(int socket, uint32_t address, uint16_t port);

// Shuts the socket down in both directions; errors are of no interest to a closer.
void ShutdownSocket(int socket);

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_SOCKET_OPS_H
