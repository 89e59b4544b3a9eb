// SPDX-License-Identifier: MIT
#include "runner.h"

#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>

#include "cli.h"
#include "conversion.h"
#include "file_io.h"
#include "headline.h"
#include "log_route.h"
#include "owclient/owclient.h"
#include "progress.h"
#include "samples.h"
#include "signals.h"
#include "template_check.h"

namespace owgateway {
namespace {

constexpr uint64_t kNewSessionPauseSeconds = 5;
constexpr uint32_t kDrainMs = 3000;
constexpr uint32_t kDoneWaitSeconds = 12;  // HOBWStop's wait for the answer to DONE

double MonotonicTime() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

}  // namespace

Runner::Runner(const Options& options, uint32_t address)
    : mOptions(options),
      mAddress(address),
      mFolder(options.outDir, options.sync),
      mIndex(options.ServerText(), options.indexStories),
      mKeeper(mFolder),
      mApp(mOptions, mFolder, mIndex, mKeeper),
      mConnection(options.ServerText(),
                  [this](const std::string& text, bool problem) {
                    if (problem || mOptions.verbosity > 0) Say(text);
                  }),
      mStartTime(MonotonicTime()),
      mProgress(options.count, mStartTime) {
  mFolder.SetWarn([this](const std::string& text) { Say(text); });
}

void Runner::Say(const std::string& text) const { owtool::PrintError("owgateway", text); }

void Runner::Tell(const std::string& text) const {
  if (mOptions.verbosity > 0) Say(text);
}

void Runner::OnLibraryLine(const std::string& line, int32_t severity) {
  mConnection.OnLibraryLine(line);
  if (severity == 0) mApp.OnLibraryFailure(line.c_str());
}

// Modes 1 and 2: the template (the sample one unless named) and the table, read and
// checked before anything connects, so that a bad template never meets the feed.
int Runner::LoadTemplates() {
  if (mOptions.mode == 0) return 0;
  if (mOptions.templateFile.empty()) {
    Samples samples;
    std::string searched;
    if (!FindSamples(&samples, &searched)) {
      Say("modes 1 and 2 need a template: --template FILE (no sample template in " + searched +
          ")");
      return kExitUsage;
    }
    mOptions.templateFile = samples.tmpl;
    if (mOptions.xlateFile.empty()) mOptions.xlateFile = samples.xlate;
    Tell("using the sample template " + samples.tmpl +
         (mOptions.xlateFile.empty() ? "" : " and the table " + mOptions.xlateFile));
  }
  std::string error;
  if (!owtool::ReadWholeFile(mOptions.templateFile, &mTemplate, &error) ||
      (!mOptions.xlateFile.empty() && !owtool::ReadWholeFile(mOptions.xlateFile, &mXlate, &error))) {
    Say(error);
    return kExitUsage;
  }
  const std::string problem = owtool::TemplateProblem(mTemplate);
  if (!problem.empty()) {
    Say(mOptions.templateFile + ": " + problem);
    return kExitUsage;
  }
  owtool::LastLibraryFailure();  // the reason must be this load's
  if (mApp.LoadTemplate(mTemplate, mXlate)) return 0;
  const std::string reason = owtool::LastLibraryFailure();
  owtool::Environment probe;
  const bool tableAtFault = !mXlate.empty() && probe.Load(mTemplate, "") == 0;
  Say((tableAtFault ? mOptions.xlateFile + ": the translation table"
                    : mOptions.templateFile + ": the template") +
      " does not load" + (reason.empty() ? "" : ": " + reason));
  return kExitUsage;
}

int Runner::Prepare() {
  if (int status = LoadTemplates()) return status;
  // The client refuses only what retrying cannot mend (a URL, a credentials or certificate
  // file): a configuration to fix, found before the folder is made.
  if (!CreatePublisher()) return kExitUsage;
  std::string error;
  if (!mFolder.Prepare(error)) {
    Say(error);
    return kExitFailed;
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
      return kExitUsage;
    }
    mKeeper.Loaded(mSession);
  }
  SeedIndex();
  StartPublishing();
  return 0;
}

// Connects in the background: a log that is down now is waited for by the first publish.
bool Runner::CreatePublisher() {
  if (!mOptions.publish.enabled) return true;
  std::string error;
  mPublisher = StartPublisher(mOptions.publish, &error);
  if (mPublisher == nullptr) Say(error);
  return mPublisher != nullptr;
}

void Runner::StartPublishing() {
  if (mPublisher == nullptr) return;
  mPublishing = std::make_unique<FilePublishing>(
      *mPublisher, mFolder, mOptions.publish.publishOnly,
      [this](const std::string& text) { mApp.Problem(text); });
  mApp.SetPublishing(mPublishing.get());
}

void Runner::SeedIndex() {
  std::vector<std::pair<std::string, int64_t>> files;
  for (const OutputFolder::Entry& e : mFolder.List()) files.emplace_back(e.name, e.mtime);
  mIndex.Seed(files);
}

bool Runner::StartSession(uint8_t resume, std::string& error) {
  if (resume) Tell("resuming session " + std::to_string(mSession));
  // Stories as feeds send them (NITF namespaces, Latin-1, HTML entities), unless the
  // user asks for the documents to be read exactly as described.
  OBConvertSetReadOptions(mOptions.strict ? 0 : OBCONVERT_READ_REAL_FEEDS);
  OrbrixWireSetServerPort(mOptions.serverPort);
  OrbrixWireStartup(mOptions.logFile ? UINTPTR_MAX : 0);
  // A block is acknowledged once the callback that writes it has returned; the count's
  // hold (GatewayApp) is set there, so no file beyond it is asked for.
  HOBWSetOptions(HOBW_ACK_AFTER_DELIVERY);
  HOBWHoldRequests(0);
  mConnection.TakeServerDone();
  uint8_t ok = HOBWStartWithTemplate(
      mAddress, &GatewayApp::Callback, reinterpret_cast<uintptr_t>(&mApp), mApp.LibraryMode(),
      mTemplate.empty() ? nullptr : mTemplate.data(), static_cast<uint32_t>(mTemplate.size()),
      mXlate.empty() ? nullptr : mXlate.data(), static_cast<uint32_t>(mXlate.size()), resume,
      mSession);
  if (!ok) {
    error = "the gateway refused to start";
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
  if (StopRequested() && mPublishing != nullptr) mPublishing->Stop();
  StopGateway(sendDone);
  OrbrixWireShutdown();
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
  Summary(stdout);
  Say("stopped while a file waited for JetStream; it was not acknowledged, and a restart "
      "resumes session " + std::to_string(mSession) + " with it");
  std::fflush(nullptr);
  std::_Exit(kExitOk);
}

// The end of the run: DONE only when asked for, connected and nothing failed, and the
// session file kept unless the server answered it.
void Runner::StopForGood() {
  HOBWStats stats{};
  HOBWGetStats(&stats);
  bool sendDone = mOptions.sendDone && !mFolderFailed;
  if (sendDone && stats.mConnected == 0) {
    Tell("stopping: not connected, so no DONE is sent; the session is kept");
    sendDone = false;
  } else if (StopRequested()) {
    Tell(sendDone ? "stopping: waiting up to " + std::to_string(kDoneWaitSeconds) +
                       " s for the server's DONE answer; Ctrl-C again to stop now"
                 : "stopping: writing what was received; Ctrl-C again to stop now");
  }
  Progress(MonotonicSeconds());
  mConnection.TakeServerDone();
  StopSession(sendDone);
  if (!sendDone) return;
  if (mConnection.TakeServerDone()) {
    mKeeper.Forget();  // a session ended with DONE cannot be resumed
  } else {
    Say("the server did not answer DONE; the session is kept");
  }
}

// The server ended the session: it cannot be resumed, so its file goes, and after a pause
// a new login starts a new session (which the server may feed from its start again).
bool Runner::NewSessionAfterDone() {
  const uint32_t ended = mApp.LastSession() != 0 ? mApp.LastSession() : mSession;
  Say("the server ended session " + std::to_string(ended) + " (DONE); logging in anew in " +
      std::to_string(kNewSessionPauseSeconds) + " s");
  StopSession(false);
  mKeeper.Forget();
  mSession = 0;
  for (int i = 0; i < static_cast<int>(kNewSessionPauseSeconds) * 20 && !StopRequested(); ++i) {
    usleep(50 * 1000);
  }
  if (StopRequested()) return false;
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
  if (!mFolder.WriteOwnFile("index.html", html.data(), html.size(), false, error)) {
    Say(error);
    mFolderFailed = true;
  }
}

// SIGHUP asks services to reopen their log files; the library holds none open.
void Runner::NoteHangup() {
  if (TakeHangup() && mOptions.verbosity > 1) {
    Say("SIGHUP: nothing to reopen; the library opens its log file for every line");
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
  const Totals totals{mApp.Stories(), mApp.Files(), mFolder.BytesWritten()};
  Say(mProgress.Next(totals, MonotonicTime(), std::time(nullptr), stats.mConnected != 0));
}

void Runner::Tick(uint64_t now) {
  Progress(now);
  WriteIndex();
  if (mOptions.quietWarnSeconds == 0) return;
  uint64_t last = mApp.LastFileSecond() != 0 ? mApp.LastFileSecond() : mStartSecond;
  if (now >= last + mOptions.quietWarnSeconds &&
      now >= mLastQuietWarning + mOptions.quietWarnSeconds) {
    mLastQuietWarning = now;
    Say("no file has arrived for " + owtool::FormatSeconds(static_cast<double>(now - last)));
  }
}

void Runner::Summary(std::FILE* to) const {
  std::fprintf(to, "owgateway: %" PRIu64 " stories, %" PRIu64 " files, %s in %s into %s (%" PRIu64
                   " problems)\n",
               mApp.Stories(), mApp.Files(), FormatBytes(mFolder.BytesWritten()).c_str(),
               owtool::FormatSeconds(MonotonicTime() - mStartTime).c_str(),
               mOptions.outDir.c_str(), mApp.Failures());
}

// The delivery thread waits in the callback that failed, its record unacknowledged:
// stopping the gateway would wait for it, so the process ends here. What is on disk is
// whole, and the session stays with the server for the restart.
void Runner::ExitOnDiskFailure() {
  if (mSession == 0) mSession = mApp.LastSession();
  SaveSession();
  WriteIndex();
  Summary(stdout);
  Say("stopped because " + mOptions.outDir +
      " cannot be written; the files written so far are complete, and a restart resumes "
      "session " + std::to_string(mSession));
  std::fflush(nullptr);
  std::_Exit(kExitFailed);
}

bool Runner::Stopping() const {
  return StopRequested() || mFolderFailed || mApp.HasDiskFailed() || CountReached();
}

int Runner::Run() {
  mStartSecond = MonotonicSeconds();
  mLastProgress = mStartSecond;
  mLastQuietWarning = mStartSecond;
  if (int status = Prepare()) return status;
  std::string error;
  if (!StartSession(mSession != 0 ? 1 : 0, error)) {
    Say(error);
    return kExitFailed;
  }
  Tell("receiving from " + mOptions.ServerText() + " in mode " + std::to_string(mOptions.mode) +
       " into " + mOptions.outDir);
  mConnection.Open();
  uint64_t lastTick = 0;
  bool running = true;
  while (!Stopping()) {
    usleep(50 * 1000);
    NoteHangup();
    if (mConnection.TakeServerDone() && !(running = NewSessionAfterDone())) break;
    uint64_t now = MonotonicSeconds();
    if (now != lastTick) {
      lastTick = now;
      Tick(now);
    }
  }
  if (mApp.HasDiskFailed()) ExitOnDiskFailure();
  if (running) StopForGood();
  WriteIndex();
  Summary(stdout);
  if (!mFolderFailed) return kExitOk;
  Say("stopped because " + mOptions.outDir +
      " cannot be written; the files written so far are complete, and a restart resumes "
      "session " + std::to_string(mSession));
  return kExitFailed;
}

}  // namespace owgateway
