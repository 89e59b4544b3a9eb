// SPDX-License-Identifier: MIT
// What owgateway does with each record the gateway delivers: files reassembled into the
// output folder, HTML written beside them, stories noted for the index, counters kept.
// The gateway acknowledges a block once the callback returns, so a record is on disk
// (fsync'ed, unless sync is off) before OnRecord returns, or OnRecord never returns.
//
// Thread: OnRecord runs on the gateway's delivery thread; the getters from any thread.
#ifndef OWGATEWAY_GATEWAY_APP_H
#define OWGATEWAY_GATEWAY_APP_H

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "file_publishing.h"
#include "options.h"
#include "output_folder.h"
#include "page_render.h"
#include "owclient/owclient.h"
#include "session_file.h"
#include "story_index.h"

namespace owgateway {

class GatewayApp {
 public:
  GatewayApp(const Options& options, OutputFolder& folder, StoryIndex& index,
             SessionKeeper& session);

  // The gateway's mode for owgateway's: mode 1 runs the gateway in mode 2, so that
  // stories are acknowledged after delivery and counted by their files; their raw files
  // are not written.
  uint32_t LibraryMode() const;
  // The HOBW callback; user is the GatewayApp.
  static void Callback(HOBWBlockQElt* rec, uintptr_t user);
  // Mode 2: the template and table for the pages owgateway renders itself; false when
  // they do not load.
  bool LoadTemplate(const std::string& tmpl, const std::string& xlate) {
    return mPages.Load(tmpl, xlate);
  }
  void OnRecord(const HOBWBlockQElt& rec);
  // Every completed file and page also goes to `publishing` (null: the folder only).
  void SetPublishing(FilePublishing* publishing) { mPublishing = publishing; }
  // Counts a problem shown already (or shows it first, when `text` is not empty).
  void Problem(const std::string& text) {
    if (text.empty()) ++mFailures; else Warn(text);
  }
  // A failure line of the library (log callback; it must not call into the library).
  // The gateway's rendering says so when a story did not render.
  void OnLibraryFailure(const char* text);

  uint64_t Stories() const { return mStories.load(); }
  uint64_t Files() const { return mFiles.load(); }
  uint64_t Failures() const { return mFailures.load(); }
  // Monotonic seconds of the last completed file (0 before any).
  uint64_t LastFileSecond() const { return mLastFileSecond.load(); }
  // True once the output folder refused a write. The record that failed is never
  // acknowledged: OnRecord does not return from it, and the caller ends the process
  // without stopping the gateway (which would wait for the callback).
  bool HasDiskFailed() const { return mDiskFailed.load(); }
  // The session of the last record handed over (0 before any).
  uint32_t LastSession() const { return mLastSession.load(); }

 private:
  bool IsHtmlRecord(const HOBWBlockQElt& rec) const;
  void OnBlock(const HOBWBlockQElt& rec);
  void OnHtml(const HOBWBlockQElt& rec);
  void FileCompleted(const std::string& name, bool refused);
  void Publish(const std::string& name);
  void RenderSplitStory(const std::string& name);
  // Warns of a story whose root element is in a namespace that the reading options do not
  // read as NITF. Reads the start of the file only: no parse on the delivery path.
  void CheckNamespace(const std::string& name, const std::string& base);
  void CountStory();
  [[noreturn]] void DiskFailed(const std::string& error);
  void Warn(const std::string& text);

  const Options& mOptions;
  OutputFolder& mFolder;
  StoryIndex& mIndex;
  SessionKeeper& mSession;
  PageRenderer mPages;
  FilePublishing* mPublishing = nullptr;
  std::string mRefusedFile;     // a file in progress whose name was refused
  std::string mCompletedBase;   // base name of the story file the last record completed
  std::map<std::string, int> mStoryParts;  // stories with one file complete: 1 XML, 2 RDF
  std::atomic<uint64_t> mStories{0};
  std::atomic<uint64_t> mFiles{0};
  std::atomic<uint64_t> mFailures{0};
  std::atomic<uint64_t> mLastFileSecond{0};
  std::atomic<bool> mDiskFailed{false};
  std::atomic<uint32_t> mLastSession{0};
  // Set by a render failure on the delivery thread, before the raw block that completed
  // the story is delivered there (mode 2).
  std::atomic<bool> mRenderFailed{false};
};

// Seconds on the monotonic clock.
uint64_t MonotonicSeconds();

}  // namespace owgateway

#endif  // OWGATEWAY_GATEWAY_APP_H
