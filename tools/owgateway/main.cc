// owgateway: runs the news gateway against a wire server and writes what arrives into a
// folder (see --help).
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "gateway_app.h"
#include "options.h"
#include "output_folder.h"
#include "owclient/owclient.h"
#include "story_index.h"

namespace owgateway {
namespace {

const char kStateFile[] = ".owgateway-session";
std::atomic<bool> gStop{false};

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
  if (severity == 0 && app != 0) reinterpret_cast<GatewayApp*>(app)->OnLibraryFailure(text);
  if (severity > 0 && gVerbosity < 2) return;
  size_t n = std::strlen(text);
  while (n > 0 && text[n - 1] == '\n') --n;
  const std::string line = EscapeControls(std::string(text, n));
  std::fprintf(stderr, "owgateway: [lib] %s\n", line.c_str());
}

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

bool ReadSession(const std::string& path, uint32_t& id) {
  std::ifstream in(path);
  unsigned long value = 0;
  if (!(in >> value) || value == 0 || value > 0xFFFFFFFFul) return false;
  id = static_cast<uint32_t>(value);
  return true;
}

class Runner {
 public:
  explicit Runner(const Options& o)
      : mOptions(o), mFolder(o.outDir), mIndex(o.serverText), mApp(o, mFolder, mIndex) {}

  int Run();

 private:
  bool Start(std::string& error);
  void Tick(uint64_t now);
  void Progress(uint64_t now);
  void SaveSession();
  void WriteIndex();
  void DrainQueue();
  bool FolderFailed() const { return mFolderFailed || mApp.HasDiskFailed(); }

  const Options& mOptions;
  OutputFolder mFolder;
  StoryIndex mIndex;
  GatewayApp mApp;
  std::string mTemplate;
  std::string mXlate;
  uint32_t mSession = 0;
  uint32_t mSavedSession = 0;
  uint64_t mStartSecond = 0;
  uint64_t mLastProgress = 0;
  uint64_t mLastQuietWarning = 0;
  bool mFolderFailed = false;  // the state file or the index could not be written
};

bool Runner::Start(std::string& error) {
  if (!mFolder.Prepare(error)) return false;
  if (mOptions.mode != 0) {
    if (!ReadFile(mOptions.templateFile, mTemplate, error)) return false;
    if (!mOptions.xlateFile.empty() && !ReadFile(mOptions.xlateFile, mXlate, error)) return false;
  }
  uint8_t resume = 0;
  if (mOptions.resumeGiven) {
    resume = 1;
    mSession = mOptions.resumeId;
  } else if (!mOptions.fresh && ReadSession(mFolder.FullPath(kStateFile), mSession)) {
    resume = 1;
  }
  if (resume) std::fprintf(stderr, "owgateway: resuming session %u\n", mSession);
  // Stories as feeds send them (NITF namespaces, Latin-1, HTML entities), unless the
  // user asks for the documents to be read exactly as described.
  OBConvertSetReadOptions(mOptions.strict ? 0 : OBCONVERT_READ_REAL_FEEDS);
  OrbrixWireSetLogCallback(&LibraryLog, reinterpret_cast<uintptr_t>(&mApp));
  OrbrixWireStartup(mOptions.logFile.empty() ? 0 : UINTPTR_MAX);
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

void Runner::SaveSession() {
  if (mSession == 0 || mSession == mSavedSession) return;
  std::string text = std::to_string(mSession) + "\n";
  std::string error;
  if (mFolder.WriteFile(kStateFile, text.data(), text.size(), error)) {
    mSavedSession = mSession;
  } else {
    std::fprintf(stderr, "owgateway: %s\n", error.c_str());
    mFolderFailed = true;
  }
}

void Runner::WriteIndex() {
  std::string html;
  if (!mIndex.RenderIfChanged(html)) return;
  std::string error;
  if (!mFolder.WriteFile("index.html", html.data(), html.size(), error)) {
    std::fprintf(stderr, "owgateway: %s\n", error.c_str());
    mFolderFailed = true;
  }
}

void Runner::Progress(uint64_t now) {
  HOBWStats stats{};
  HOBWGetStats(&stats);
  if (stats.mSessionValid) mSession = stats.mSessionID;
  SaveSession();
  if (stats.mMessagesLost) {
    std::fprintf(stderr, "owgateway: the server reports messages lost (reading too slowly)\n");
  }
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

// The gateway discards the blocks still queued for delivery when it stops, and the server
// has counted them delivered: give the delivery thread a few seconds to hand them over.
void Runner::DrainQueue() {
  for (int i = 0; i < 100; ++i) {
    HOBWStats stats{};
    if (!HOBWGetStats(&stats) || stats.mQueueLen == 0) return;
    usleep(30 * 1000);
  }
  std::fprintf(stderr, "owgateway: stopping with blocks still queued for delivery\n");
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

int Runner::Run() {
  std::string error;
  mStartSecond = MonotonicSeconds();
  mLastProgress = mStartSecond;
  mLastQuietWarning = mStartSecond;
  if (!Start(error)) {
    std::fprintf(stderr, "owgateway: %s\n", error.c_str());
    return 1;
  }
  if (mOptions.verbosity > 0) {
    std::fprintf(stderr, "owgateway: receiving from %s:39030 in mode %u into %s\n",
                 mOptions.serverText.c_str(), mOptions.mode, mOptions.outDir.c_str());
  }
  uint64_t lastTick = 0;
  while (!gStop && !FolderFailed() && (mOptions.count == 0 || mApp.Stories() < mOptions.count)) {
    usleep(50 * 1000);
    uint64_t now = MonotonicSeconds();
    if (now != lastTick) {
      lastTick = now;
      Tick(now);
    }
  }
  Progress(MonotonicSeconds());
  if (!FolderFailed()) DrainQueue();
  // Every story received after the folder failed would be acknowledged and lost: stop
  // without DONE, so that the server keeps the rest for the session a restart resumes.
  bool failed = FolderFailed();
  HOBWStop(mOptions.sendDone && !failed ? 1 : 0);
  OrbrixWireShutdown();
  OrbrixWireSetLogCallback(nullptr, 0);
  WriteIndex();
  // A session ended with DONE cannot be resumed.
  if (mOptions.sendDone && !failed) unlink(mFolder.FullPath(kStateFile).c_str());
  uint64_t elapsed = MonotonicSeconds() - mStartSecond;
  std::printf("owgateway: %" PRIu64 " stories, %" PRIu64 " files, %.1f MB in %" PRIu64
              " s into %s (%" PRIu64 " problems)\n",
              mApp.Stories(), mApp.Files(), static_cast<double>(mFolder.BytesWritten()) / 1e6,
              elapsed, mOptions.outDir.c_str(), mApp.Failures());
  if (!failed) return 0;
  std::fprintf(stderr,
               "owgateway: stopped because %s cannot be written; the files written so far are "
               "complete, and a restart resumes session %u\n",
               mOptions.outDir.c_str(), mSession);
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
  gVerbosity = options.verbosity;
  InstallSignals();
  Runner runner(options);
  return runner.Run();
}
