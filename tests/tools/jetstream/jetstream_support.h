// SPDX-License-Identifier: MIT
// What the JetStream tests share: sample files, a publisher that records its log lines, and a
// stream read back the way a consumer sees it, checked to hold every file once and whole.
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
// one, and several chunks; the long name cuts its subject token and lengthens every header.
inline std::vector<Sample> Samples(uint32_t seed, const std::string& tag = "") {
  return {
      {"empty" + tag + ".txt", ""},
      {"tea-harvest" + tag + ".xml", Bytes(900, seed + 1)},
      {"tea-harvest" + tag + ".rdf", Bytes(10000, seed + 2)},
      {"two words" + tag + ".xml", Bytes(65536 - 300, seed + 3)},
      {"dotted.name" + tag + ".rdf", Bytes(3 * 65536 + 7, seed + 4)},
      {"river-ice" + tag + ".xml", Bytes(1000000, seed + 5)},
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

inline void PublishAll(owgateway::JetStreamPublisher& publisher,
                       const std::vector<Sample>& samples) {
  for (const auto& sample : samples) {
    std::string error;
    EXPECT_TRUE(publisher.Publish(FileOf(sample), error)) << sample.first << ": " << error;
  }
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

struct StoredMessage {
  std::string subject;
  std::map<std::string, std::string> headers;
  std::string data;
  std::string Header(const std::string& key) const {
    auto it = headers.find(key);
    return it == headers.end() ? "" : it->second;
  }
};

// The whole stream in sequence order.
inline std::vector<StoredMessage> ReadStream(const std::string& url, const std::string& stream) {
  std::vector<StoredMessage> out;
  natsConnection* conn = nullptr;
  jsCtx* js = nullptr;
  jsStreamInfo* info = nullptr;
  if (natsConnection_ConnectTo(&conn, url.c_str()) != NATS_OK ||
      natsConnection_JetStream(&js, conn, nullptr) != NATS_OK ||
      js_GetStreamInfo(&info, js, stream.c_str(), nullptr, nullptr) != NATS_OK) {
    out.push_back(StoredMessage{"<cannot read the stream>", {}, ""});
  } else {
    for (uint64_t seq = info->State.FirstSeq; seq <= info->State.LastSeq && seq > 0; ++seq) {
      natsMsg* msg = nullptr;
      if (js_GetMsg(&msg, js, stream.c_str(), seq, nullptr, nullptr) != NATS_OK) continue;
      StoredMessage& stored = out.emplace_back();
      stored.subject = natsMsg_GetSubject(msg);
      stored.data.assign(natsMsg_GetData(msg), natsMsg_GetDataLength(msg));
      const char** keys = nullptr;
      int count = 0;
      if (natsMsgHeader_Keys(msg, &keys, &count) == NATS_OK) {
        for (int i = 0; i < count; ++i) {
          const char* value = nullptr;
          natsMsgHeader_Get(msg, keys[i], &value);
          stored.headers[keys[i]] = value != nullptr ? value : "";
        }
        free(static_cast<void*>(keys));
      }
      natsMsg_Destroy(msg);
    }
  }
  jsStreamInfo_Destroy(info);
  jsCtx_Destroy(js);
  natsConnection_Destroy(conn);
  return out;
}

// Files by name, chunks put in place by their offsets. A file whose chunks are not all
// there (or come twice) shows as "<incomplete>".
inline std::map<std::string, std::string> Reassemble(const std::vector<StoredMessage>& messages) {
  std::map<std::string, std::string> files;
  std::map<std::string, std::map<size_t, const StoredMessage*>> chunked;
  for (const auto& m : messages) {
    if (m.Header("Ow-Chunks").empty()) {
      files[m.Header("Ow-File-Name")] = m.data;
    } else {
      chunked[m.Header("Ow-File-Id")][std::stoul(m.Header("Ow-Chunk"))] = &m;
    }
  }
  for (const auto& entry : chunked) {
    const StoredMessage& first = *entry.second.begin()->second;
    std::string& file = files[first.Header("Ow-File-Name")];
    file.assign(std::stoul(first.Header("Ow-Size")), '\0');
    bool complete = entry.second.size() == std::stoul(first.Header("Ow-Chunks")) &&
                    entry.second.rbegin()->second->Header("Ow-Final") == "1";
    for (const auto& chunk : entry.second) {
      size_t offset = std::stoul(chunk.second->Header("Ow-Offset"));
      if (offset + chunk.second->data.size() > file.size()) complete = false;
      if (complete) file.replace(offset, chunk.second->data.size(), chunk.second->data);
    }
    if (!complete) file = "<incomplete>";
  }
  return files;
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
    EXPECT_TRUE(it != files.end() && it->second == bytes)
        << name << ": " << (it == files.end() ? "missing" : std::to_string(it->second.size()))
        << " bytes stored, " << bytes.size() << " sent";
  }
  return messages;
}

}  // namespace owc_test

#endif  // TESTS_TOOLS_JETSTREAM_JETSTREAM_SUPPORT_H_
