// owgateway: runs the news gateway against a wire server and writes what arrives into a
// folder (see --help).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "gateway_app.h"
#include "file_publishing.h"
#include "headline.h"
#include "options.h"
#include "output_folder.h"
#include "owclient/owclient.h"
#include "session_file.h"
#include "story_index.h"

namespace owgateway {
namespace {

std::atomic<bool> gStop{false};
// Set by the library's log line for a DONE from the server: the interface reports it no
// other way (the session then stays idle until it is stopped).
std::atomic<bool> gServerDone{false};
constexpr char kServerDoneLine[] = "HOBWThread::ProcessStateAux received done";
constexpr uint64_t kNewSessionPauseSeconds = 5;
constexpr uint32_t kDrainMs = 3000;

void OnSignal(int) { gStop = true; }

void InstallSignals() {
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int gVerbosity = 1;

// Library lines quote what the server sent (file names among it): control characters are
// shown as \xNN, so that a name cannot drive the operator's terminal.
void LibraryLog(const char* text, int32_t severity, uintptr_t app) {
  if (std::strstr(text, kServerDoneLine) != nullptr) gServerDone = true;
  if (severity == 0 && app != 0) reinterpret_cast<GatewayApp*>(app)->OnLibraryFailure(text);
  if (severity > 0 && gVerbosity < 2) return;
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == '\n') --n;
  const std::string line = EscapeControls(std::string(text, n));
  std::fprintf(stderr, "owgateway: [lib] %s\n", line.c_str());
}

void Say(const std::string& text) { std::fprintf(stderr, "owgateway: %s\n", text.c_str()); }

bool ReadFile(const std::string& path, std::string& content, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::stringstream s;
  s << in.rdbuf();
  content = s.str();
  return true;
}

class Runner {
 public:
  explicit Runner(const Options& o)
      : mOptions(o),
        mFolder(o.outDir, o.sync),
        mIndex(o.serverText, o.indexStories),
        mKeeper(mFolder),
        mApp(o, mFolder, mIndex, mKeeper) {
    mFolder.SetWarn(&Say);
  }

  int Run();

 private:
  // 0 to go on, else the exit status.
  int Prepare();
  bool StartSession(uint8_t resume, std::string& error);
  void StopSession(bool sendDone);
  bool NewSessionAfterDone();
  void Tick(uint64_t now);
  void Progress(uint64_t now);
  void SaveSession();
  void WriteIndex();
  void SeedIndex();
  [[noreturn]] void ExitOnDiskFailure();
  bool StartPublishing();
  void StopGateway(bool sendDone);
  [[noreturn]] void ExitOnPublishStop();
  bool Stopping() const {
    return gStop || mFolderFailed || mApp.HasDiskFailed() ||
           (mOptions.count != 0 && mApp.Stories() >= mOptions.count);
  }

  const Options& mOptions;
  OutputFolder mFolder;
  StoryIndex mIndex;
  SessionKeeper mKeeper;
  GatewayApp mApp;
  std::unique_ptr<Publisher> mPublisher;
  std::unique_ptr<FilePublishing> mPublishing;
  std::string mTemplate;
  std::string mXlate;
  uint32_t mSession = 0;
  uint64_t mStartSecond = 0;
  uint64_t mLastProgress = 0;
  uint64_t mLastQuietWarning = 0;
  bool mFolderFailed = false;  // the state file or the index could not be written
};

int Runner::Prepare() {
  std::string error;
  if (!mFolder.Prepare(error)) {
    Say(error);
    return 1;
  }
  if (mOptions.mode != 0) {
    if (!ReadFile(mOptions.templateFile, mTemplate, error) ||
        (!mOptions.xlateFile.empty() && !ReadFile(mOptions.xlateFile, mXlate, error))) {
      Say(error);
      return 1;
    }
  }
  if (mOptions.mode == 2 && !mApp.LoadTemplate(mTemplate, mXlate)) {
    Say("the template or the translation table does not load");
    return 1;
  }
  if (mOptions.resumeGiven) {
    mSession = mOptions.resumeId;
  } else if (!mOptions.fresh) {
    const std::string path = mFolder.FullPath(kSessionFile);
    if (ReadSessionFile(path, mSession) == SessionRead::kUnreadable) {
      // Guessing would either resume an unrelated session or log in anew and have the
      // server deliver everything again: the user decides.
      Say("cannot read the session file " + path +
          " (empty, cut short or corrupt); start with --fresh to log in anew, or with --resume "
          "ID");
      return 2;
    }
    mKeeper.Loaded(mSession);
  }
  SeedIndex();
  return StartPublishing() ? 0 : 1;
}

// Connects in the background: a log that is down now is waited for by the first publish.
bool Runner::StartPublishing() {
  if (!mOptions.publish.enabled) return true;
  std::string error;
  mPublisher = StartPublisher(mOptions.publish, &error);
  if (mPublisher == nullptr) {
    Say(error);
    return false;
  }
  mPublishing = std::make_unique<FilePublishing>(
      *mPublisher, mFolder, mOptions.publish.publishOnly,
      [this](const std::string& text) { mApp.Problem(text); });
  mApp.SetPublishing(mPublishing.get());
  return true;
}

void Runner::SeedIndex() {
  std::vector<std::pair<std::string, int64_t>> files;
  for (const OutputFolder::Entry& e : mFolder.List()) files.emplace_back(e.name, e.mtime);
  mIndex.Seed(files);
}

bool Runner::StartSession(uint8_t resume, std::string& error) {
  if (resume) Say("resuming session " + std::to_string(mSession));
  gServerDone = false;
  // Stories as feeds send them (NITF namespaces, Latin-1, HTML entities), unless the
  // user asks for the documents to be read exactly as described.
  OBConvertSetReadOptions(mOptions.strict ? 0 : OBCONVERT_READ_REAL_FEEDS);
  OrbrixWireSetLogCallback(&LibraryLog, reinterpret_cast<uintptr_t>(&mApp));
  OrbrixWireStartup(mOptions.logFile.empty() ? 0 : UINTPTR_MAX);
  // A block is acknowledged once the callback that writes it has returned.
  HOBWSetOptions(HOBW_ACK_AFTER_DELIVERY);
  uint8_t ok = HOBWStartWithTemplate(
      mOptions.server, &GatewayApp::Callback, reinterpret_cast<uintptr_t>(&mApp), mOptions.mode,
      mTemplate.empty() ? nullptr : mTemplate.data(), static_cast<uint32_t>(mTemplate.size()),
      mXlate.empty() ? nullptr : mXlate.data(), static_cast<uint32_t>(mXlate.size()), resume,
      mSession);
  if (!ok) {
    error = "the gateway refused to start (does the template or translation table load?)";
    OrbrixWireShutdown();
    return false;
  }
  return true;
}

// With acknowledgement after delivery a block still queued was never acknowledged and
// comes again on resumption; draining first only saves the server sending it again.
void Runner::StopSession(bool sendDone) {
  if (HOBWDrain(kDrainMs) == 1 && !mApp.HasDiskFailed()) {
    Say("stopping with blocks still queued; the server sends them again on resumption");
  }
  if (mApp.HasDiskFailed()) ExitOnDiskFailure();
  // After the drain, so that a log that is there still takes what was queued; a publish
  // that waits for one that is not ends now, its file not acknowledged.
  if (gStop && mPublishing != nullptr) mPublishing->Stop();
  StopGateway(sendDone);
  OrbrixWireShutdown();
  OrbrixWireSetLogCallback(nullptr, 0);
}

// Stopping the gateway waits for the callback that runs; one whose publish was stopped never
// returns, and the process ends instead.
void Runner::StopGateway(bool sendDone) {
  if (mPublishing == nullptr) {
    HOBWStop(sendDone ? 1 : 0);
    return;
  }
  std::atomic<bool> stopped{false};
  std::thread watch([this, &stopped] {
    while (!stopped) {
      if (mPublishing->Stuck()) ExitOnPublishStop();
      usleep(20 * 1000);
    }
  });
  HOBWStop(sendDone ? 1 : 0);
  stopped = true;
  watch.join();
  if (mOptions.publish.publishOnly) mPublishing->RemovePublished();
}

// The main thread waits in HOBWStop meanwhile, so the session and the index are ours.
void Runner::ExitOnPublishStop() {
  if (mSession == 0) mSession = mApp.LastSession();
  SaveSession();
  WriteIndex();
  std::printf("owgateway: %" PRIu64 " stories, %" PRIu64 " files, %.1f MB into %s (%" PRIu64
              " problems)\n",
              mApp.Stories(), mApp.Files(), static_cast<double>(mFolder.BytesWritten()) / 1e6,
              mOptions.outDir.c_str(), mApp.Failures());
  Say("stopped while a file waited for JetStream; it was not acknowledged, and a restart "
      "resumes session " + std::to_string(mSession) + " with it");
  std::fflush(nullptr);
  std::_Exit(0);
}

// The server ended the session: it cannot be resumed, so its file goes, and after a pause
// a new login starts a new session (which the server may feed from its start again).
bool Runner::NewSessionAfterDone() {
  const uint32_t ended = mApp.LastSession() != 0 ? mApp.LastSession() : mSession;
  Say("the server ended session " + std::to_string(ended) +
      " (DONE); logging in anew in " + std::to_string(kNewSessionPauseSeconds) + " s");
  StopSession(false);
  mKeeper.Forget();
  mSession = 0;
  for (int i = 0; i < static_cast<int>(kNewSessionPauseSeconds) * 20 && !gStop; ++i) {
    usleep(50 * 1000);
  }
  if (gStop) return false;
  std::string error;
  if (StartSession(0, error)) return true;
  Say(error);
  return false;
}

void Runner::SaveSession() {
  std::string error;
  if (!mKeeper.Save(mSession, error)) {
    Say(error);
    mFolderFailed = true;
  }
}

// Headlines are read here, on the main thread, from the first bytes of each file only.
void Runner::WriteIndex() {
  for (const auto& wanted : mIndex.HeadlinesWanted()) {
    const std::string head = mFolder.ReadHead(wanted.second, kHeadlineReadLimit);
    const bool html = wanted.second.size() > 4 &&
                      wanted.second.compare(wanted.second.size() - 4, 4, ".htm") == 0;
    mIndex.SetHeadline(wanted.first, html ? HeadlineFromHtml(head.data(), head.size())
                                          : HeadlineFromXml(head));
  }
  std::string html;
  if (!mIndex.RenderIfChanged(html)) return;
  std::string error;
  if (!mFolder.WriteFile("index.html", html.data(), html.size(), false, error)) {
    Say(error);
    mFolderFailed = true;
  }
}

void Runner::Progress(uint64_t now) {
  HOBWStats stats{};
  HOBWGetStats(&stats);
  if (stats.mSessionValid) mSession = stats.mSessionID;
  SaveSession();
  if (stats.mMessagesLost) Say("the server reports messages lost (reading too slowly)");
  if (mOptions.verbosity == 0 || mOptions.progressSeconds == 0) return;
  if (now < mLastProgress + mOptions.progressSeconds) return;
  mLastProgress = now;
  uint64_t elapsed = now > mStartSecond ? now - mStartSecond : 1;
  std::fprintf(stderr,
               "owgateway: %" PRIu64 " stories, %" PRIu64 " files, %.1f MB, %.1f stories/s\n",
               mApp.Stories(), mApp.Files(), static_cast<double>(mFolder.BytesWritten()) / 1e6,
               static_cast<double>(mApp.Stories()) / static_cast<double>(elapsed));
  std::fprintf(stderr,
               "owgateway: connected %u, session %u%s, files %u (today %u), %u s since the last "
               "file (max %u), queue %u\n",
               stats.mConnected, stats.mSessionID, stats.mSessionValid ? "" : " (none)",
               stats.mFilesTotal, stats.mFilesToday, stats.mSecsSinceLastFile,
               stats.mMaxSecsBetweenFiles, stats.mQueueLen);
}

void Runner::Tick(uint64_t now) {
  Progress(now);
  WriteIndex();
  if (mOptions.quietWarnSeconds == 0) return;
  uint64_t last = mApp.LastFileSecond() != 0 ? mApp.LastFileSecond() : mStartSecond;
  if (now >= last + mOptions.quietWarnSeconds &&
      now >= mLastQuietWarning + mOptions.quietWarnSeconds) {
    mLastQuietWarning = now;
    std::fprintf(stderr, "owgateway: no file has arrived for %" PRIu64 " s\n", now - last);
  }
}

// The delivery thread waits in the callback that failed, its record unacknowledged:
// stopping the gateway would wait for it, so the process ends here. What is on disk is
// whole, and the session stays with the server for the restart.
void Runner::ExitOnDiskFailure() {
  if (mSession == 0) mSession = mApp.LastSession();
  SaveSession();
  WriteIndex();
  std::printf("owgateway: %" PRIu64 " stories, %" PRIu64 " files, %.1f MB into %s (%" PRIu64
              " problems)\n",
              mApp.Stories(), mApp.Files(), static_cast<double>(mFolder.BytesWritten()) / 1e6,
              mOptions.outDir.c_str(), mApp.Failures());
  Say("stopped because " + mOptions.outDir +
      " cannot be written; the files written so far are complete, and a restart resumes "
      "session " + std::to_string(mSession));
  std::fflush(nullptr);
  std::_Exit(1);
}

int Runner::Run() {
  mStartSecond = MonotonicSeconds();
  mLastProgress = mStartSecond;
  mLastQuietWarning = mStartSecond;
  if (int status = Prepare()) return status;
  std::string error;
  if (!StartSession(mSession != 0 ? 1 : 0, error)) {
    Say(error);
    return 1;
  }
  if (mOptions.verbosity > 0) {
    std::fprintf(stderr, "owgateway: receiving from %s:39030 in mode %u into %s\n",
                 mOptions.serverText.c_str(), mOptions.mode, mOptions.outDir.c_str());
  }
  uint64_t lastTick = 0;
  bool running = true;
  while (!Stopping()) {
    usleep(50 * 1000);
    if (gServerDone.exchange(false) && !(running = NewSessionAfterDone())) break;
    uint64_t now = MonotonicSeconds();
    if (now != lastTick) {
      lastTick = now;
      Tick(now);
    }
  }
  if (mApp.HasDiskFailed()) ExitOnDiskFailure();
  if (running) {
    Progress(MonotonicSeconds());
    // Without DONE after a failure, so that the server keeps the rest for the restart.
    StopSession(mOptions.sendDone && !mFolderFailed);
  }
  WriteIndex();
  // A session ended with DONE cannot be resumed.
  if (mOptions.sendDone && !mFolderFailed) mKeeper.Forget();
  uint64_t elapsed = MonotonicSeconds() - mStartSecond;
  std::printf("owgateway: %" PRIu64 " stories, %" PRIu64 " files, %.1f MB in %" PRIu64
              " s into %s (%" PRIu64 " problems)\n",
              mApp.Stories(), mApp.Files(), static_cast<double>(mFolder.BytesWritten()) / 1e6,
              elapsed, mOptions.outDir.c_str(), mApp.Failures());
  if (!mFolderFailed) return 0;
  Say("stopped because " + mOptions.outDir +
      " cannot be written; the files written so far are complete, and a restart resumes "
      "session " + std::to_string(mSession));
  return 1;
}

}  // namespace
}  // namespace owgateway

int main(int argc, char** argv) {
  using namespace owgateway;
  Options options;
  std::string error;
  switch (ParseOptions(argc, argv, options, error)) {
    case ParseResult::kHelp:
      std::fputs(HelpText(), stdout);
      return 0;
    case ParseResult::kVersion:
      std::printf("owgateway %d.%d.%d\n", OWCLIENT_VERSION_MAJOR, OWCLIENT_VERSION_MINOR,
                  OWCLIENT_VERSION_PATCH);
      return 0;
    case ParseResult::kError:
      std::fprintf(stderr, "owgateway: %s (see --help)\n", error.c_str());
      return 2;
    case ParseResult::kRun:
      break;
  }
  if (options.publish.enabled && !HaveJetStream()) {
    std::fprintf(stderr, "owgateway: %s\n", NoJetStreamText());
    return 2;
  }
  gVerbosity = options.verbosity;
  InstallSignals();
  Runner runner(options);
  return runner.Run();
}
