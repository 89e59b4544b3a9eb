// SPDX-License-Identifier: MIT
// The JetStream publisher against a real nats-server (64 KiB maximum payload, so that large
// files go in chunks): every file once and whole, repeats dropped, a server killed and
// restarted, a server not there yet, and the example consumer reading it all back.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "jetstream_support.h"

namespace owc_test {
namespace {

using owgateway::JetStreamPublisher;

::testing::Environment* const gNatsEnv =
    ::testing::AddGlobalTestEnvironment(new NatsLibraryEnvironment);

class JetStreamPublisherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (FindNatsServer().empty()) {
      GTEST_SKIP() << "nats-server is not installed (scripts/deps.sh installs it)";
    }
    server = std::make_unique<NatsServer>("n1", "127.0.0.1", 65536);
  }

  std::unique_ptr<JetStreamPublisher> NewPublisher() {
    auto publisher = std::make_unique<JetStreamPublisher>(OptionsFor({server->Url()}, log));
    std::string error;
    EXPECT_TRUE(publisher->Start(error)) << error;
    return publisher;
  }

  void PublishAll(JetStreamPublisher& publisher, const std::vector<Sample>& samples) {
    for (const auto& sample : samples) {
      std::string error;
      EXPECT_TRUE(publisher.Publish(FileOf(sample), error)) << sample.name << ": " << error;
    }
  }

  std::unique_ptr<NatsServer> server;
  LogLines log;
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return in ? out.str() : "<missing>";
}

TEST_F(JetStreamPublisherTest, EveryFileOnceAndWholeRepeatsDropped) {
  ASSERT_TRUE(server->Start()) << ReadFile(server->LogPath());
  auto publisher = NewPublisher();
  std::vector<Sample> samples = Samples(1);
  PublishAll(*publisher, samples);
  const auto first = publisher->GetStats();
  EXPECT_EQ(first.files, samples.size());
  EXPECT_EQ(first.duplicates, 0u);
  EXPECT_GT(first.messages, samples.size()) << "the large files went in chunks";

  // As after a restart of the gateway that had not acknowledged these files to the wire.
  PublishAll(*publisher, samples);
  EXPECT_EQ(publisher->GetStats().duplicates, first.messages);

  std::vector<StoredMessage> messages = ReadStream(server->Url(), "WIRE");
  EXPECT_EQ(messages.size(), first.messages);
  ExpectStreamHolds(server->Url(), samples);
  bool sawDotted = false;
  for (const auto& m : messages) {
    if (m.Header("Ow-File-Name") != "dotted.name.rdf") continue;
    sawDotted = true;
    EXPECT_EQ(m.subject, "wire.test.raw.dotted_name_rdf");
    EXPECT_EQ(m.Header("Ow-Story"), "dotted.name");
    EXPECT_EQ(m.Header("Ow-Headline"), "Headline of dotted.name");
    EXPECT_EQ(m.Header("Content-Type"), "application/rdf+xml");
  }
  EXPECT_TRUE(sawDotted);
}

// Two example consumers with their own durable names: each gets every file, on disk.
TEST_F(JetStreamPublisherTest, ExampleConsumersEachStoreEveryFile) {
  ASSERT_TRUE(server->Start());
  auto publisher = NewPublisher();
  std::vector<Sample> samples = Samples(7);
  PublishAll(*publisher, samples);
  PublishAll(*publisher, {samples[1], samples[4]});  // repeats change nothing downstream
  char dir[] = "/tmp/owc-consumers-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  for (const std::string durable : {"archive", "search"}) {
    std::string folder = std::string(dir) + "/" + durable;
    std::string command = std::string("timeout 60 ") + NATS_CONSUMER_BIN + " --count " +
                          std::to_string(samples.size()) + " --idle-exit 20 " + server->Url() +
                          " WIRE 'wire.test.>' " + durable + " " + folder + " > " + folder +
                          ".out 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(folder + ".out");
    for (const auto& sample : samples) {
      EXPECT_TRUE(ReadFile(folder + "/" + sample.name) == sample.bytes)
          << durable << " has no intact " << sample.name;
    }
  }
  // A consumer that stops half-way: the same durable name goes on where it stopped.
  std::string folder = std::string(dir) + "/resumed";
  for (size_t count : {size_t{3}, samples.size() - 3}) {
    std::string command = std::string("timeout 60 ") + NATS_CONSUMER_BIN + " --count " +
                          std::to_string(count) + " --idle-exit 20 " + server->Url() +
                          " WIRE 'wire.test.>' resumed " + folder + " >> " + folder + ".out 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(folder + ".out");
  }
  for (const auto& sample : samples) {
    EXPECT_TRUE(ReadFile(folder + "/" + sample.name) == sample.bytes)
        << "the resumed consumer has no intact " << sample.name;
  }
  std::system(("rm -rf '" + std::string(dir) + "'").c_str());
}

std::vector<Sample> ThreeSets(uint32_t seed, const std::string& tag) {
  std::vector<Sample> samples;
  for (int i = 0; i < 3; ++i) {
    std::vector<Sample> set = Samples(seed + 10 * i, tag + std::to_string(i));
    samples.insert(samples.end(), set.begin(), set.end());
  }
  return samples;
}

// First killed at a moment of the run's choosing (between files or within a chunked one),
// then killed between two files, with the next one waiting for it.
TEST_F(JetStreamPublisherTest, ServerKilledMidRunPublishWaitsAndNothingIsLost) {
  ASSERT_TRUE(server->Start());
  auto publisher = NewPublisher();
  std::vector<Sample> running = ThreeSets(100, "-run");
  std::thread publishing([&] { PublishAll(*publisher, running); });
  ASSERT_TRUE(WaitFor([&] { return publisher->GetStats().files >= 2; }, 60));
  server->Kill();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  ASSERT_TRUE(server->Start()) << ReadFile(server->LogPath());
  publishing.join();

  std::vector<Sample> waiting = ThreeSets(200, "-wait");
  server->Kill();
  const uint64_t atKill = publisher->GetStats().files;
  std::atomic<bool> done{false};
  std::thread blocked([&] {
    PublishAll(*publisher, waiting);
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(publisher->GetStats().files, atKill) << "stored with no server";
  EXPECT_FALSE(done);
  ASSERT_TRUE(server->Start()) << ReadFile(server->LogPath());
  blocked.join();
  EXPECT_TRUE(log.Has("lost the connection to NATS"));
  running.insert(running.end(), waiting.begin(), waiting.end());
  ExpectStreamHolds(server->Url(), running);
}

TEST_F(JetStreamPublisherTest, ServerNotThereAtStartPublishWaitsForIt) {
  auto publisher = NewPublisher();  // nothing listens on the server's port yet
  std::vector<Sample> samples = Samples(21);
  std::atomic<bool> done{false};
  std::thread publishing([&] {
    PublishAll(*publisher, {samples[1], samples[5]});
    done = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_FALSE(done) << "published with no server";
  EXPECT_TRUE(log.Has("cannot reach NATS"));
  ASSERT_TRUE(server->Start());
  publishing.join();
  EXPECT_TRUE(log.Has("connected to"));
  ExpectStreamHolds(server->Url(), {samples[1], samples[5]});
}

TEST_F(JetStreamPublisherTest, StopEndsAWaitingPublish) {
  auto publisher = NewPublisher();
  Sample sample{"waiting.xml", "<x/>"};
  bool published = true;
  std::string error;
  std::thread publishing([&] { published = publisher->Publish(FileOf(sample), error); });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  publisher->Stop();
  publishing.join();
  EXPECT_FALSE(published);
  EXPECT_EQ(error, "stopped");
  EXPECT_FALSE(publisher->Publish(FileOf(sample), error)) << "stays stopped";
}

// A stream of the same name that does not take our subjects cannot be mended by retrying.
TEST_F(JetStreamPublisherTest, StreamWithOtherSubjectsIsAPermanentError) {
  ASSERT_TRUE(server->Start());
  natsConnection* conn = nullptr;
  jsCtx* js = nullptr;
  ASSERT_EQ(natsConnection_ConnectTo(&conn, server->Url().c_str()), NATS_OK);
  ASSERT_EQ(natsConnection_JetStream(&js, conn, nullptr), NATS_OK);
  const char* subjects[] = {"other.>"};
  jsStreamConfig config;
  jsStreamConfig_Init(&config);
  config.Name = "WIRE";
  config.Subjects = subjects;
  config.SubjectsLen = 1;
  jsStreamInfo* info = nullptr;
  ASSERT_EQ(js_AddStream(&info, js, &config, nullptr, nullptr), NATS_OK);
  jsStreamInfo_Destroy(info);
  jsCtx_Destroy(js);
  natsConnection_Destroy(conn);

  auto publisher = NewPublisher();
  std::string error;
  EXPECT_FALSE(publisher->Publish(FileOf({"a.xml", "<a/>"}), error));
  EXPECT_NE(error.find("does not take the subjects wire.test.>"), std::string::npos) << error;
}

}  // namespace
}  // namespace owc_test
