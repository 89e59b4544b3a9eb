// What owgateway does with each record the gateway delivers: files reassembled into the
// output folder, HTML written beside them, stories noted for the index, counters kept.
//
// Thread: OnRecord runs on the gateway's delivery thread; the getters from any thread.
#ifndef OWGATEWAY_GATEWAY_APP_H_
#define OWGATEWAY_GATEWAY_APP_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <string>

#include "headline.h"
#include "options.h"
#include "output_folder.h"
#include "owclient/owclient.h"
#include "story_index.h"

namespace owgateway {

class GatewayApp {
 public:
  GatewayApp(const Options& options, OutputFolder& folder, StoryIndex& index);

  // The HOBW callback; user is the GatewayApp.
  static void Callback(HOBWBlockQElt* rec, uintptr_t user);
  void OnRecord(const HOBWBlockQElt& rec);
  // A failure line of the library (log callback; it must not call into the library).
  // The gateway's rendering says so when a story did not render.
  void OnLibraryFailure(const char* text);

  uint64_t Stories() const { return mStories.load(); }
  uint64_t Files() const { return mFiles.load(); }
  uint64_t Failures() const { return mFailures.load(); }
  // Monotonic seconds of the last completed file (0 before any).
  uint64_t LastFileSecond() const { return mLastFileSecond.load(); }
  // True once the output folder refused a write: every story received from then on would
  // be acknowledged to the server and lost, so the caller stops receiving.
  bool HasDiskFailed() const { return mDiskFailed.load(); }

 private:
  bool IsHtmlRecord(const HOBWBlockQElt& rec) const;
  void OnBlock(const HOBWBlockQElt& rec);
  void OnHtml(const HOBWBlockQElt& rec);
  void FileCompleted(const std::string& name, bool refused);
  void DiskFailed(const std::string& error);
  void Warn(const std::string& text);

  const Options& mOptions;
  OutputFolder& mFolder;
  StoryIndex& mIndex;
  HeadlineReader mHeadlines;
  std::string mRefusedFile;     // a file in progress whose name was refused
  std::string mCompletedBase;   // base name of the story file the last record completed
  std::map<std::string, int> mStoryParts;  // stories with one file complete: 1 XML, 2 RDF
  std::atomic<uint64_t> mStories{0};
  std::atomic<uint64_t> mFiles{0};
  std::atomic<uint64_t> mFailures{0};
  std::atomic<uint64_t> mLastFileSecond{0};
  std::atomic<bool> mDiskFailed{false};
  // Set by a render failure on the delivery thread, before the raw block that completed
  // the story is delivered there (mode 2).
  std::atomic<bool> mRenderFailed{false};
};

// Seconds on the monotonic clock.
uint64_t MonotonicSeconds();

}  // namespace owgateway

#endif  // OWGATEWAY_GATEWAY_APP_H_
