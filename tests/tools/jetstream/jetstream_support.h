// SPDX-License-Identifier: MIT
// What the JetStream tests share: sample files, a publisher that records its log lines,
// and the check that a stream holds every file once and whole.
#ifndef TESTS_TOOLS_JETSTREAM_JETSTREAM_SUPPORT_H_
#define TESTS_TOOLS_JETSTREAM_JETSTREAM_SUPPORT_H_

#include <gtest/gtest.h>
#include <nats/nats.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "jetstream_publisher.h"
#include "message_scheme.h"
#include "nats_server.h"
#include "stream_reader.h"

namespace owc_test {

// libnats keeps threads and memory for the whole process until nats_Close.
class NatsLibraryEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { nats_Close(); }
};

struct Sample {
  std::string name;
  std::string bytes;
};

// Bytes of every value, NULs too, from a seed.
inline std::string Bytes(size_t length, uint32_t seed) {
  std::string out(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    seed = seed * 1103515245u + 12345u;
    out[i] = static_cast<char>(seed >> 24);
  }
  return out;
}

// With the servers' 64 KiB maximum payload: files in one message, one just too large for
// one, and several chunks.
inline std::vector<Sample> Samples(uint32_t seed, const std::string& tag = "") {
  return {
      {"empty" + tag + ".txt", ""},
      {"tea-harvest" + tag + ".xml", Bytes(900, seed + 1)},
      {"tea-harvest" + tag + ".rdf", Bytes(10000, seed + 2)},
      {"two words" + tag + ".xml", Bytes(65536 - 300, seed + 3)},
      {"dotted.name" + tag + ".rdf", Bytes(3 * 65536 + 7, seed + 4)},
      {"river-ice" + tag + ".xml", Bytes(1000000, seed + 5)},
      // A long name: a cut subject token, and long ids in every chunk's headers.
      {std::string(200, 'n') + tag + ".rdf", Bytes(150000, seed + 6)},
  };
}

inline owgateway::CompletedFile FileOf(const Sample& sample) {
  owgateway::CompletedFile file;
  file.fileName = sample.name;
  file.storyName = owgateway::StoryNameOf(sample.name);
  file.headline = file.storyName.empty() ? "" : "Headline of " + file.storyName;
  file.receivedUnixMs = 1796528887123;
  file.data = reinterpret_cast<const uint8_t*>(sample.bytes.data());
  file.length = sample.bytes.size();
  return file;
}

struct LogLines {
  std::mutex mutex;
  std::vector<std::string> lines;
  bool Has(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex);
    for (const auto& line : lines) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }
};

inline owgateway::JetStreamOptions OptionsFor(const std::vector<std::string>& urls, LogLines& log) {
  owgateway::JetStreamOptions options;
  options.servers = urls;
  options.stream = "WIRE";
  options.subjectPrefix = "wire.test";
  options.ackWaitMs = 2000;
  options.retryMaxMs = 300;
  options.log = [&log](const std::string& line) {
    std::lock_guard<std::mutex> lock(log.mutex);
    log.lines.push_back(line);
  };
  return options;
}

// Polls `done` for up to `seconds`; tests never assert how long something took.
template <typename Done>
bool WaitFor(Done done, int seconds) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

// Every message once by its Nats-Msg-Id, and the files reassembled are the samples.
inline void ExpectStreamHolds(const std::string& url, const std::vector<Sample>& samples) {
  std::vector<StoredMessage> messages = ReadStream(url, "WIRE");
  std::set<std::string> ids;
  for (const auto& m : messages) {
    EXPECT_TRUE(ids.insert(m.Header("Nats-Msg-Id")).second)
        << "stored twice: " << m.Header("Nats-Msg-Id") << " on " << m.subject;
  }
  std::map<std::string, std::string> expected;
  for (const auto& s : samples) expected[s.name] = s.bytes;
  std::map<std::string, std::string> files = Reassemble(messages);
  EXPECT_EQ(files.size(), expected.size());
  for (const auto& entry : expected) {
    auto it = files.find(entry.first);
    ASSERT_NE(it, files.end()) << entry.first << " is missing";
    EXPECT_TRUE(it->second == entry.second)
        << entry.first << ": " << it->second.size() << " bytes stored, " << entry.second.size()
        << " published";
  }
}

}  // namespace owc_test

#endif  // TESTS_TOOLS_JETSTREAM_JETSTREAM_SUPPORT_H_
