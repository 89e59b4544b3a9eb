// Starts an in-process owwired for one test, on its own loopback address so that test
// processes run side by side, and keeps the server's log lines for assertions.
#ifndef OWWIRED_TESTS_SERVER_FIXTURE_H_
#define OWWIRED_TESTS_SERVER_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "counters.h"
#include "options.h"
#include "raw_client.h"
#include "server.h"

namespace owwired_test {

class ServerTest : public ::testing::Test {
 protected:
  static constexpr uint16_t kPort = 39030;

  // Options for 127.0.0.`host` with the log captured. Each test uses a host of its own
  // (200 to 254 in this suite).
  owwired::Options OptionsFor(int host);

  // Starts the server; fails the test when it cannot listen.
  void Start(const owwired::Options& options);

  // Connects `client` to the server.
  void Connect(RawClient* client);

  // Waits until the published counters satisfy `condition`.
  template <typename Condition>
  bool WaitFor(Condition condition) {
    return server_->WaitFor(condition, RawClient::kWaitMs);
  }

  owwired::Counters counters() { return server_->GetCounters(); }

  // True when some captured log line contains `text`.
  bool Logged(const std::string& text);

  void TearDown() override {
    if (server_) server_->Stop();
  }

  std::string address_;
  std::unique_ptr<owwired::Server> server_;

 private:
  std::mutex log_mutex_;
  std::vector<std::string> log_lines_;  // guarded by log_mutex_
};

}  // namespace owwired_test

#endif  // OWWIRED_TESTS_SERVER_FIXTURE_H_
