// SPDX-License-Identifier: MIT
// Where a completed file goes besides (or instead of) the output folder: a distributed log
// such as a JetStream stream. The session code hands each completed file to a Publisher and
// acknowledges the file's last block to the wire server only after Publish returned true,
// so a file the server counts as delivered is already stored downstream.
//
// Another log (a Kafka topic, say) is one more subclass; the session code does not change.
#ifndef OWGATEWAY_PUBLISHER_H
#define OWGATEWAY_PUBLISHER_H

#include <cstdint>
#include <string>

namespace owgateway {

// One completed file as the gateway reassembled it. The bytes are borrowed for the
// duration of Publish only.
struct CompletedFile {
  enum class Kind { kRaw, kHtml };
  Kind kind = Kind::kRaw;
  std::string fileName;        // the name the server gave it, e.g. "tea-harvest.xml"
  std::string storyName;       // the story's base name, e.g. "tea-harvest"; empty for other files
  std::string headline;        // empty when not known
  int64_t receivedUnixMs = 0;  // wall-clock time the last block arrived
  const uint8_t* data = nullptr;
  size_t length = 0;
};

const char* KindName(CompletedFile::Kind kind);  // "raw" or "html"

// The story's base name ("tea-harvest" for "tea-harvest.xml" or ".htm"), or "" when the
// file is no story file.
std::string StoryNameOf(const std::string& fileName);

class Publisher {
 public:
  virtual ~Publisher() = default;

  // Stores the file downstream and returns once the log acknowledged all of it. While the
  // log is unreachable it waits and retries (holding nothing beyond this one file), so the
  // caller's thread is the back-pressure. Returns false only when
  //  - Stop() was called (error says "stopped"): the file may or may not be stored; do not
  //    acknowledge it, it comes again after a restart and the log drops the repeat; or
  //  - the file can never be stored as it is (a permanent error, e.g. it exceeds the
  //    stream's limits, or the stream does not take our subjects): error says why; the
  //    caller decides whether to skip the file or stop.
  // Publishing the same file again (same kind, name and bytes) is harmless: the log keeps
  // one copy.
  virtual bool Publish(const CompletedFile& file, std::string& error) = 0;

  // Ends a Publish that waits, now and for every later call. Any thread.
  virtual void Stop() = 0;
};

}  // namespace owgateway

#endif  // OWGATEWAY_PUBLISHER_H
