#include "server_fixture.h"

namespace owwired_test {

owwired::Options ServerTest::OptionsFor(int host) {
  owwired::Options options;
  address_ = "127.0.0." + std::to_string(host);
  options.address = address_;
  options.port = kPort;
  options.first_session_id = 1000;
  options.log_sink = [this](const std::string& line) {
    std::lock_guard<std::mutex> lock(log_mutex_);
    log_lines_.push_back(line);
  };
  return options;
}

void ServerTest::Start(const owwired::Options& options) {
  server_ = std::make_unique<owwired::Server>(options);
  std::string error;
  ASSERT_TRUE(server_->Start(&error)) << error;
}

void ServerTest::Connect(RawClient* client) {
  ASSERT_TRUE(client->Connect(address_, server_->port()));
}

bool ServerTest::Logged(const std::string& text) {
  std::lock_guard<std::mutex> lock(log_mutex_);
  for (const std::string& line : log_lines_) {
    if (line.find(text) != std::string::npos) return true;
  }
  return false;
}

}  // namespace owwired_test
