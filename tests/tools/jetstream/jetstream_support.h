// SPDX-License-Identifier: MIT
// What the JetStream tests share: sample files, a publisher that records its log lines,
// and the check that a stream holds every file once and whole.
#ifndef TESTS_TOOLS_JETSTREAM_JETSTREAM_SUPPORT_H_
#define TESTS_TOOLS_JETSTREAM_JETSTREAM_SUPPORT_H_

#include <gtest/gtest.h>
#include <nats/nats.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
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

// A file's name and bytes, as the wire server's feed lists them.
using Sample = std::pair<std::string, std::string>;

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
  file.fileName = sample.first;
  file.storyName = owgateway::StoryNameOf(sample.first);
  file.headline = file.storyName.empty() ? "" : "Headline of " + file.storyName;
  file.receivedUnixMs = 1796528887123;
  file.data = reinterpret_cast<const uint8_t*>(sample.second.data());
  file.length = sample.second.size();
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

// Every message of `stream` once by its Nats-Msg-Id, and the files reassembled are exactly
// `samples`; returns the messages.
inline std::vector<StoredMessage> ExpectStreamHolds(const std::string& url,
                                                    const std::vector<Sample>& samples,
                                                    const std::string& stream = "WIRE") {
  std::vector<StoredMessage> messages = ReadStream(url, stream);
  std::set<std::string> ids;
  for (const auto& m : messages) {
    EXPECT_TRUE(ids.insert(m.Header("Nats-Msg-Id")).second)
        << "stored twice: " << m.Header("Nats-Msg-Id") << " on " << m.subject;
  }
  std::map<std::string, std::string> files = Reassemble(messages);
  EXPECT_EQ(files.size(), samples.size());
  for (const auto& [name, bytes] : samples) {
    auto it = files.find(name);
    if (it == files.end()) {
      ADD_FAILURE() << name << " is missing";
    } else {
      EXPECT_TRUE(it->second == bytes)
          << name << ": " << it->second.size() << " bytes stored, " << bytes.size() << " sent";
    }
  }
  return messages;
}

}  // namespace owc_test

#endif  // TESTS_TOOLS_JETSTREAM_JETSTREAM_SUPPORT_H_
