// SPDX-License-Identifier: MIT
// Three JetStream servers on 127.0.0.x in one cluster, a stream with three replicas, one
// server killed while files are being published: no file is lost.
#include <gtest/gtest.h>

#include "jetstream_support.h"

namespace owc_test {
namespace {

::testing::Environment* const gNatsEnv =
    ::testing::AddGlobalTestEnvironment(new NatsLibraryEnvironment);

TEST(JetStreamPublisherTest, OneServerKilledMidRunNoFileLost) {
  if (FindNatsServer().empty()) {
    GTEST_SKIP() << "nats-server is not installed (scripts/deps.sh installs it)";
  }
  std::vector<std::unique_ptr<NatsServer>> servers;
  std::vector<std::string> urls, routes;
  for (int i = 0; i < 3; ++i) {
    servers.push_back(std::make_unique<NatsServer>("c" + std::to_string(i + 1),
                                                   "127.0.0." + std::to_string(61 + i), 65536));
    urls.push_back(servers.back()->Url());
    routes.push_back(servers.back()->Route());
  }
  for (size_t i = 0; i < servers.size(); ++i) {
    std::vector<std::string> others = routes;
    others.erase(others.begin() + i);
    servers[i]->SetRoutes(others);
    ASSERT_TRUE(servers[i]->Start()) << servers[i]->LogPath();
  }

  LogLines log;
  owgateway::JetStreamOptions options = OptionsFor(urls, log);
  options.replicas = 3;
  owgateway::JetStreamPublisher publisher(options);
  std::string error;
  ASSERT_TRUE(publisher.Start(error)) << error;
  std::vector<Sample> samples = Samples(31, "-a"), more = Samples(32, "-b");
  PublishAll(publisher, samples);  // the cluster elects its leaders first; the publisher waits
  for (const auto& set : {Samples(33, "-c"), Samples(34, "-d")}) {
    more.insert(more.end(), set.begin(), set.end());
  }
  std::thread publishing([&] { PublishAll(publisher, more); });
  // The server the publisher is connected to goes, while it publishes.
  size_t victim = 0;
  for (size_t i = 0; i < servers.size(); ++i) {
    if (log.Has("connected to " + servers[i]->Url())) victim = i;
  }
  servers[victim]->Kill();
  publishing.join();
  samples.insert(samples.end(), more.begin(), more.end());
  EXPECT_EQ(publisher.GetStats().files, samples.size());
  EXPECT_TRUE(log.Has("lost the connection to NATS")) << "killed " << servers[victim]->Url();
  ExpectStreamHolds(servers[(victim + 1) % servers.size()]->Url(), samples);
}

}  // namespace
}  // namespace owc_test
