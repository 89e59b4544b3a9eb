// SPDX-License-Identifier: MIT
// The wire server's address: a name or a dotted IPv4 address, looked up once at the start
// (the library connects to an IPv4 address; reconnections go to the same one).
#ifndef OWGATEWAY_SERVER_ADDRESS_H
#define OWGATEWAY_SERVER_ADDRESS_H

#include <cstdint>
#include <string>

namespace owgateway {

enum class Lookup { kFound, kNoSuchName, kFailed };

// The first IPv4 address of `host` in host byte order. kNoSuchName: the name does not
// exist (a mistake in the configuration); kFailed: the lookup itself failed (no name
// server reachable), which may pass. `error` says which in one line.
Lookup ResolveServer(const std::string& host, uint32_t* address, std::string* error);

}  // namespace owgateway

#endif  // OWGATEWAY_SERVER_ADDRESS_H
