// SPDX-License-Identifier: MIT
// Reads a whole stream back, message by message in sequence order, and puts chunked files
// together again, so that a test sees what a consumer would.
#ifndef TESTS_TOOLS_JETSTREAM_STREAM_READER_H_
#define TESTS_TOOLS_JETSTREAM_STREAM_READER_H_

#include <nats/nats.h>

#include <map>
#include <string>
#include <vector>

namespace owc_test {

struct StoredMessage {
  std::string subject;
  std::map<std::string, std::string> headers;
  std::string data;
  std::string Header(const std::string& key) const {
    auto it = headers.find(key);
    return it == headers.end() ? "" : it->second;
  }
};

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
      StoredMessage stored;
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
      out.push_back(stored);
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

}  // namespace owc_test

#endif  // TESTS_TOOLS_JETSTREAM_STREAM_READER_H_
