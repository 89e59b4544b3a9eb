// SPDX-License-Identifier: MIT
// The JetStream publisher against a real nats-server (64 KiB maximum payload, so that large
// files go in chunks). A server not there yet or killed in the middle is owgateway's
// publishing test, a cluster member killed the cluster test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "jetstream_support.h"
#include "support/temp_dir.h"

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

  std::unique_ptr<NatsServer> server;
  LogLines log;
};

// Repeats, as after a restart of a gateway that had not acknowledged the files to the wire,
// are dropped by the stream. Example consumers with durable names of their own each store
// every file; one stopped half-way goes on where it stopped.
TEST_F(JetStreamPublisherTest, EveryFileOnceAndWholeAndEachExampleConsumerStoresEveryFile) {
  ASSERT_TRUE(server->Start()) << TempDir::Read(server->LogPath());
  auto publisher = NewPublisher();
  std::vector<Sample> samples = Samples(1);
  PublishAll(*publisher, samples);
  const auto first = publisher->GetStats();
  EXPECT_EQ(first.files, samples.size());
  EXPECT_EQ(first.duplicates, 0u);
  EXPECT_GT(first.messages, samples.size()) << "the large files went in chunks";
  PublishAll(*publisher, samples);
  EXPECT_EQ(publisher->GetStats().duplicates, first.messages);

  const std::vector<StoredMessage> messages = ExpectStreamHolds(server->Url(), samples);
  EXPECT_EQ(messages.size(), first.messages);
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

  TempDir dir;
  auto consume = [&](const std::string& durable, size_t count) {
    const std::string folder = dir.File(durable);
    const std::string command = std::string("timeout 60 ") + NATS_CONSUMER_BIN + " --count " +
                                std::to_string(count) + " --idle-exit 20 " + server->Url() +
                                " WIRE 'wire.test.>' " + durable + " " + folder + " >> " + folder +
                                ".out 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << TempDir::Read(folder + ".out");
  };
  consume("archive", samples.size());
  consume("search", samples.size());
  consume("resumed", 3);
  consume("resumed", samples.size() - 3);
  for (const char* durable : {"archive", "search", "resumed"}) {
    for (const auto& [name, bytes] : samples) {
      const std::string path = dir.File(durable) + "/" + name;
      EXPECT_TRUE(std::filesystem::exists(path) && TempDir::Read(path) == bytes)
          << durable << " has no intact " << name;
    }
  }
}

// With no server the publish waits, until Stop.
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

// A stream of the same name that another feed made for its subjects cannot be mended by retrying.
TEST_F(JetStreamPublisherTest, StreamWithOtherSubjectsIsAPermanentError) {
  ASSERT_TRUE(server->Start());
  LogLines otherLog;
  owgateway::JetStreamOptions options = OptionsFor({server->Url()}, otherLog);
  options.subjectPrefix = "other";
  JetStreamPublisher other(options);
  std::string failure;
  ASSERT_TRUE(other.Start(failure) && other.Publish(FileOf({"o.xml", "<o/>"}), failure)) << failure;

  auto publisher = NewPublisher();
  std::string error;
  EXPECT_FALSE(publisher->Publish(FileOf({"a.xml", "<a/>"}), error));
  EXPECT_NE(error.find("does not take the subjects wire.test.>"), std::string::npos) << error;
}

}  // namespace
}  // namespace owc_test
