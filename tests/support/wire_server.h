// SPDX-License-Identifier: MIT
// The reference server in-process and quiet, for tests that link owwired_core.
#ifndef OWCLIENT_TESTS_SUPPORT_WIRE_SERVER_H
#define OWCLIENT_TESTS_SUPPORT_WIRE_SERVER_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "server.h"

namespace owc_test {

// When it cannot listen on address, that fails the test and the server is returned idle.
inline std::unique_ptr<owwired::Server> StartServer(const std::string& address,
                                                    owwired::Options options) {
  options.address = address;
  options.verbosity = 0;
  auto server = std::make_unique<owwired::Server>(std::move(options));
  std::string error;
  if (!server->Start(&error)) ADD_FAILURE() << address << ": " << error;
  return server;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_WIRE_SERVER_H
