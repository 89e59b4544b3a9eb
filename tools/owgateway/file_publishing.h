// SPDX-License-Identifier: MIT
// Hands each file owgateway completes to a Publisher before the callback that completed it
// returns, so that the wire server is acknowledged only once the log has the file. A raw file
// is published from the output folder, mapped read-only (the kernel pages it in as the
// publisher reads it: a large story is never copied onto the heap); a page from the bytes
// just written.
//
// With publishOnly the folder is a staging area. A published file is removed once the server
// has surely taken the acknowledgement of its last block: when a block of another file
// arrives (the next file is asked for only after that acknowledgement), or at a clean stop.
// Before that, the server may send the last block again and the file must still be there to
// be recognised as done. In mode 2 a story's two files stay until its page is published.
//
// Thread: the gateway's delivery thread, but for Stop and Stuck (any thread).
#ifndef OWGATEWAY_FILE_PUBLISHING_H
#define OWGATEWAY_FILE_PUBLISHING_H

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "output_folder.h"
#include "publisher.h"

namespace owgateway {

class FilePublishing {
 public:
  // problem: a file that is not published (skipped); the line to show, or "" when the
  // publisher has shown it already. Counted as a problem either way.
  FilePublishing(Publisher& publisher, OutputFolder& folder, bool publishOnly,
                 std::function<void(const std::string&)> problem);

  // Before a raw block is written: in publish-only mode, the files of earlier deliveries
  // leave the folder.
  void BlockArrives(const std::string& name, uint32_t blockNum);
  // A raw file complete in the folder (also one in place already whose last block came
  // again after a restart: the log drops the repeat). awaitsPage: a story file of mode 2,
  // kept in a staging folder until its page is published.
  void RawFile(const std::string& name, bool awaitsPage);
  // A page as written to the folder. storyFiles: the story's raw files waited for it (mode 2).
  void Page(const std::string& name, const uint8_t* data, size_t length, bool storyFiles);
  // Publish-only, at a clean stop: what waits leaves the folder.
  void RemovePublished();

  // Ends a publish that waits, and every later one: the delivery thread then waits in its
  // callback for good, its block not acknowledged, and the caller ends the process.
  void Stop() { mPublisher.Stop(); }
  // True once a publish ended that way.
  bool Stuck() const { return mStuck.load(); }
  uint64_t Published() const { return mPublished.load(); }

 private:
  // False when the file was skipped for good.
  bool Publish(CompletedFile& file);
  void Staged(const std::string& name);

  Publisher& mPublisher;
  OutputFolder& mFolder;
  const bool mPublishOnly;
  std::function<void(const std::string&)> mProblem;
  std::vector<std::string> mToRemove;  // published, waiting for the server's acknowledgement
  std::atomic<bool> mStuck{false};
  std::atomic<uint64_t> mPublished{0};
};

}  // namespace owgateway

#endif  // OWGATEWAY_FILE_PUBLISHING_H
