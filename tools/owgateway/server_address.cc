// SPDX-License-Identifier: MIT
#include "server_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace owgateway {

Lookup ResolveServer(const std::string& host, uint32_t* address, std::string* error) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  if (rc == 0 && found != nullptr) {
    *address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return Lookup::kFound;
  }
  if (found != nullptr) freeaddrinfo(found);
  const std::string reason = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
  *error = "cannot look up the server " + host + ": " + reason;
  const bool missing = rc == EAI_NONAME || rc == EAI_NODATA || rc == EAI_ADDRFAMILY;
  return missing ? Lookup::kNoSuchName : Lookup::kFailed;
}

}  // namespace owgateway
