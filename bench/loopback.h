// SPDX-License-Identifier: MIT
// Plain loopback TCP between two threads of a benchmark: the limit transfers and the round
// trip floor both set up their connection this way.
#ifndef OWBENCH_LOOPBACK_H
#define OWBENCH_LOOPBACK_H

#include <netinet/in.h>

#include <cstddef>
#include <string>

namespace owbench {

// A socket listening on `address` at a port the kernel picks, written to `bound`; -1 on
// failure.
int ListenOn(const std::string& address, sockaddr_in* bound);
// A socket connected to `to`, with Nagle's delay off; -1 on failure.
int ConnectTo(const sockaddr_in& to);
// Turns Nagle's delay off, as the gateway and the server do.
void SetNoDelay(int fd);
// Blocking reads and writes of exactly `len` bytes; false when the connection ends first.
bool ReadAll(int fd, char* buf, size_t len);
bool WriteAll(int fd, const char* buf, size_t len);

}  // namespace owbench

#endif  // OWBENCH_LOOPBACK_H
