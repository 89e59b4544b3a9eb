// SPDX-License-Identifier: MIT
// The listening socket and the loop's wake-up pipe: the only socket set-up outside the loop.
#ifndef OWWIRED_LISTENER_H
#define OWWIRED_LISTENER_H

#include <cstdint>
#include <string>

namespace owwired {

// A non-blocking TCP socket listening on `address` (IPv4, dotted) and `port` with
// SO_REUSEADDR. Returns the descriptor and sets `boundPort`, or -1 with `error` set.
int OpenListener(const std::string& address, uint16_t port, uint16_t* boundPort,
                 std::string* error);

// Accepts one pending connection as a non-blocking socket without Nagle's delay. Returns the
// descriptor, -1 when none is pending, or -2 on another error (with `error` set). `peer`
// receives "address:port".
int AcceptClient(int listenFd, std::string* peer, std::string* error);

// A non-blocking, close-on-exec pipe; false with `error` set.
bool OpenWakePipe(int fds[2], std::string* error);

// Writes one byte to a wake pipe; async-signal-safe, ignores a full pipe.
void PokeWakePipe(int writeFd);

// Reads everything waiting in a wake pipe.
void DrainWakePipe(int readFd);

}  // namespace owwired

#endif  // OWWIRED_LISTENER_H
