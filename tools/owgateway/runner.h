// SPDX-License-Identifier: MIT
// One run of owgateway: checks what it was given before it connects (the template, the
// folder, the session file), runs the gateway session and reports on it until the count is
// reached or a signal comes, then stops it without losing a block.
//
// Thread: the main thread, but for OnLibraryLine (the library's threads).
#ifndef OWGATEWAY_RUNNER_H
#define OWGATEWAY_RUNNER_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "connection_report.h"
#include "file_publishing.h"
#include "gateway_app.h"
#include "options.h"
#include "output_folder.h"
#include "progress_line.h"
#include "session_file.h"
#include "story_index.h"

namespace owgateway {

class Runner {
 public:
  // address: the server's, resolved, in host byte order.
  Runner(const Options& options, uint32_t address);

  // The exit status.
  int Run();
  // Every line the library logs (library_route.h's observer); must not call the library.
  void OnLibraryLine(const std::string& line, int32_t severity);

 private:
  // 0 to go on, else the exit status.
  int LoadTemplates();
  int Prepare();
  bool StartSession(uint8_t resume, std::string& error);
  void StopSession(bool sendDone);
  void StopForGood();
  bool NewSessionAfterDone();
  void Tick(uint64_t now);
  void NoteHangup();
  void Progress(uint64_t now);
  void SaveSession();
  void WriteIndex();
  void SeedIndex();
  void Summary(std::FILE* to) const;
  [[noreturn]] void ExitOnDiskFailure();
  bool CreatePublisher();
  void StartPublishing();
  void StopGateway(bool sendDone);
  [[noreturn]] void ExitOnPublishStop();
  bool CountReached() const { return mOptions.count != 0 && mApp.Stories() >= mOptions.count; }
  bool Stopping() const;
  void Say(const std::string& text) const;
  void Tell(const std::string& text) const;  // unless -q

  Options mOptions;  // the template and table filled in with the samples when used
  const uint32_t mAddress;
  OutputFolder mFolder;
  StoryIndex mIndex;
  SessionKeeper mKeeper;
  GatewayApp mApp;
  ConnectionReport mConnection;
  std::unique_ptr<Publisher> mPublisher;         // with --publish
  std::unique_ptr<FilePublishing> mPublishing;
  std::string mTemplate;
  std::string mXlate;
  uint32_t mSession = 0;
  uint64_t mStartSecond = 0;
  double mStartTime = 0;
  ProgressLine mProgress;
  uint64_t mLastProgress = 0;
  uint64_t mLastQuietWarning = 0;
  bool mFolderFailed = false;  // the state file or the index could not be written
};

}  // namespace owgateway

#endif  // OWGATEWAY_RUNNER_H
