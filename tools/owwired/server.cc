// SPDX-License-Identifier: MIT
#include "server.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "connection.h"
#include "context.h"
#include "dialog.h"
#include "listener.h"

namespace owwired {
namespace {

// After --exit-when-done is met, answers still queued get this long to leave.
constexpr uint64_t kExitGraceMs = 2000;

uint64_t SteadyMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

// Ids differ from one run to the next, so a client resuming an id of an earlier run gets a
// new session instead of someone else's cursor.
uint32_t FirstSessionId(uint32_t configured) {
  if (configured != 0) return configured;
  return 1 + static_cast<uint32_t>(std::time(nullptr) % 1000000) * 100;
}

}  // namespace

class Server::Impl {
 public:
  explicit Impl(Options options)
      : mOptions(std::move(options)), mLog(mOptions.verbosity, mOptions.logSink) {}
  ~Impl() { CloseFds(); }

  bool Open(std::string* error);
  void Run();
  void RequestStop() {
    mStop.store(true);
    PokeWakePipe(mWakeWrite.load());
  }
  void Wake() { PokeWakePipe(mWakeWrite.load()); }
  uint16_t Port() const { return mPort; }
  size_t FeedSize() const { return mFeedSize; }
  Counters GetCounters() const {
    std::lock_guard<std::mutex> lock(mUtex);
    return mPublished;
  }
  bool WaitFor(const std::function<bool(const Counters&)>& condition, int timeoutMs) const {
    std::unique_lock<std::mutex> lock(mUtex);
    return mChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return condition(mPublished); });
  }

  std::thread thread;

 private:
  bool BuildFeed(std::string* error);
  uint64_t Now() const { return mOptions.clockMs ? mOptions.clockMs() : SteadyMs(); }
  void Turn();
  int Timeout();
  bool ShouldExit();
  void AcceptAll();
  void Reap();
  void CloseAll();
  void Publish();
  void CloseFds();

  Options mOptions;  // files moved into mFeed by Open; otherwise constant after construction
  EventLog mLog;
  Feed mFeed;
  std::unique_ptr<SessionTable> mSessions;
  std::unique_ptr<Context> mContext;
  std::vector<std::unique_ptr<Connection>> mConnections;
  int mListenFd = -1;
  int mWakeRead = -1;
  std::atomic<int> mWakeWrite{-1};
  uint16_t mPort = 0;
  size_t mFeedSize = 0;
  uint32_t mNextConnection = 0;
  uint64_t mLastActivityMs = 0;
  uint64_t mExitDeadlineMs = 0;
  std::atomic<bool> mStop{false};

  mutable std::mutex mUtex;
  mutable std::condition_variable mChanged;
  Counters mPublished;  // guarded by mMutex
};

bool Server::Impl::BuildFeed(std::string* error) {
  for (auto& file : mOptions.files) {
    if (!mFeed.Add(file.first, std::move(file.second))) {
      *error = "invalid or duplicate file name: " + file.first;
      return false;
    }
  }
  mOptions.files.clear();  // the feed holds them now; one copy is enough
  if (!mOptions.spoolDir.empty()) {
    std::vector<std::string> skipped;
    if (mFeed.LoadSpool(mOptions.spoolDir, &skipped, error) < 0) return false;
    for (const std::string& name : skipped) {
      mLog.Event("feed: skipped %s (unreadable, or a name that cannot travel)", name.c_str());
    }
  }
  mFeed.AddGenerated(mOptions.generateStories, mOptions.storySize);
  return true;
}

bool Server::Impl::Open(std::string* error) {
  if (mContext != nullptr) {
    *error = "the server was opened already";
    return false;
  }
  if (mOptions.blockSize == 0 || mOptions.blockSize > 65535) {
    *error = "the block size must be 1 to 65535";
    return false;
  }
  if (!BuildFeed(error)) return false;
  mFeedSize = mFeed.Size();
  int fds[2];
  if (!OpenWakePipe(fds, error)) return false;
  mWakeRead = fds[0];
  mWakeWrite.store(fds[1]);
  mListenFd = OpenListener(mOptions.address, mOptions.port, &mPort, error);
  if (mListenFd < 0) return false;
  mSessions = std::make_unique<SessionTable>(FirstSessionId(mOptions.firstSessionId),
                                             mOptions.maxSessions);
  mContext = std::make_unique<Context>(mOptions, &mFeed, mSessions.get(), &mLog);
  mLog.Event("listening on %s:%u, serving %zu files in blocks of %u bytes%s",
             mOptions.address.c_str(), mPort, mFeedSize, mOptions.blockSize,
             mOptions.pipeline ? ", pipelined" : "");
  return true;
}

void Server::Impl::Run() {
  mLastActivityMs = Now();
  while (!mStop.load()) {
    mContext->nowMs = Now();
    if (ShouldExit()) break;
    Turn();
    ++mContext->counters.turns;
    Publish();
  }
  CloseAll();
  mContext->counters.stopped = true;
  Publish();
  const Counters& c = mContext->counters;
  mLog.Event("stopped: %llu connections, %llu files delivered, %llu blocks sent",
             static_cast<unsigned long long>(c.connectionsAccepted),
             static_cast<unsigned long long>(c.filesDelivered),
             static_cast<unsigned long long>(c.blocksSent));
}

bool Server::Impl::ShouldExit() {
  uint64_t now = mContext->nowMs;
  if (mContext->exitRequested) {
    if (mExitDeadlineMs == 0) {
      mExitDeadlineMs = now + kExitGraceMs;
      mLog.Event("a session received every file and said DONE: exiting");
    }
    bool drained = std::all_of(mConnections.begin(), mConnections.end(),
                               [](const auto& c) { return c->PendingOutput() == 0; });
    return drained || now >= mExitDeadlineMs;
  }
  if (!mConnections.empty()) mLastActivityMs = now;
  uint64_t idleLimit = static_cast<uint64_t>(mOptions.idleExitSeconds) * 1000;
  if (idleLimit > 0 && mConnections.empty() && now - mLastActivityMs >= idleLimit) {
    mLog.Event("no connection for %u seconds: exiting", mOptions.idleExitSeconds);
    return true;
  }
  return false;
}

int Server::Impl::Timeout() {
  uint64_t now = mContext->nowMs;
  uint64_t wakeAt = UINT64_MAX;
  for (const auto& connection : mConnections) {
    uint64_t release = connection->NextRelease();
    if (release != 0) wakeAt = std::min(wakeAt, release);
  }
  if (mOptions.idleExitSeconds > 0 && mConnections.empty()) {
    wakeAt = std::min(
        wakeAt, mLastActivityMs + static_cast<uint64_t>(mOptions.idleExitSeconds) * 1000);
  }
  if (mContext->exitRequested) wakeAt = std::min(wakeAt, now + 10);
  if (wakeAt == UINT64_MAX) return -1;
  return wakeAt <= now ? 0 : static_cast<int>(std::min<uint64_t>(wakeAt - now, INT_MAX));
}

void Server::Impl::Turn() {
  std::vector<pollfd> fds;
  fds.reserve(mConnections.size() + 2);
  fds.push_back({mWakeRead, POLLIN, 0});
  fds.push_back({mListenFd, static_cast<short>(mContext->exitRequested ? 0 : POLLIN), 0});
  for (const auto& connection : mConnections) {
    fds.push_back({connection->Fd(), connection->PollEvents(), 0});
  }
  if (::poll(fds.data(), fds.size(), Timeout()) < 0) {
    if (errno == EINTR) return;
    mLog.Error("poll: %s", std::strerror(errno));
    mStop.store(true);
    return;
  }
  mContext->nowMs = Now();
  if (fds[0].revents != 0) DrainWakePipe(mWakeRead);
  size_t polled = mConnections.size();  // accepting appends; only these were polled
  if ((fds[1].revents & POLLIN) != 0) AcceptAll();
  for (size_t i = 0; i < polled; ++i) {
    short events = fds[i + 2].revents;
    if ((events & POLLNVAL) != 0) {
      mConnections[i]->Drop("invalid socket");
    } else if ((events & POLLIN) != 0) {
      mConnections[i]->OnReadable();
    } else if ((events & (POLLHUP | POLLERR)) != 0) {
      mConnections[i]->Drop("connection lost");  // a hang-up without input left to read
    }
  }
  for (const auto& connection : mConnections) connection->Flush();
  Reap();
}

void Server::Impl::AcceptAll() {
  for (;;) {
    std::string peer;
    std::string error;
    int fd = AcceptClient(mListenFd, &peer, &error);
    if (fd == -1) return;
    if (fd == -2) return mLog.Error("%s", error.c_str());
    if (mConnections.size() >= mOptions.maxClients) {
      ++mContext->counters.connectionsRefused;
      mLog.Event("refused %s: %zu clients connected already", peer.c_str(), mConnections.size());
      ::close(fd);
      continue;
    }
    uint32_t number = ++mNextConnection;
    uint32_t faultyLimit = mOptions.faults.faultyConnections;
    bool faulty = faultyLimit == 0 || number <= faultyLimit;
    ++mContext->counters.connectionsAccepted;
    mLog.Event("conn %u: connected from %s", number, peer.c_str());
    mConnections.push_back(std::make_unique<Connection>(fd, number, faulty, mContext.get()));
    mConnections.back()->Greet();
  }
}

void Server::Impl::Reap() {
  auto finished = [this](std::unique_ptr<Connection>& connection) {
    if (!connection->Finished()) return false;
    mLastActivityMs = mContext->nowMs;  // idleness starts when the last client leaves
    ReleaseSession(connection.get(), mContext.get());
    mLog.Detail("conn %u: socket closed", connection->Number());
    return true;
  };
  mConnections.erase(std::remove_if(mConnections.begin(), mConnections.end(), finished),
                     mConnections.end());
  mContext->counters.connectionsOpen = mConnections.size();
}

void Server::Impl::CloseAll() {
  for (auto& connection : mConnections) ReleaseSession(connection.get(), mContext.get());
  mConnections.clear();
  mContext->counters.connectionsOpen = 0;
  if (mListenFd >= 0) ::close(mListenFd);
  mListenFd = -1;
}

void Server::Impl::Publish() {
  {
    std::lock_guard<std::mutex> lock(mUtex);
    mPublished = mContext->counters;
  }
  mChanged.notify_all();
}

void Server::Impl::CloseFds() {
  if (mListenFd >= 0) ::close(mListenFd);
  if (mWakeRead >= 0) ::close(mWakeRead);
  int writeFd = mWakeWrite.exchange(-1);
  if (writeFd >= 0) ::close(writeFd);
}

Server::Server(Options options) : mImpl(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { Stop(); }

bool Server::Open(std::string* error) { return mImpl->Open(error); }

void Server::Run() { mImpl->Run(); }

bool Server::Start(std::string* error) {
  if (!mImpl->Open(error)) return false;
  mImpl->thread = std::thread([this] { mImpl->Run(); });
  return true;
}

void Server::RequestStop() { mImpl->RequestStop(); }

void Server::Stop() {
  mImpl->RequestStop();
  if (mImpl->thread.joinable()) mImpl->thread.join();
}

void Server::Wake() { mImpl->Wake(); }

uint16_t Server::Port() const { return mImpl->Port(); }

size_t Server::FeedSize() const { return mImpl->FeedSize(); }

Counters Server::GetCounters() const { return mImpl->GetCounters(); }

bool Server::WaitFor(const std::function<bool(const Counters&)>& condition, int timeoutMs) const {
  return mImpl->WaitFor(condition, timeoutMs);
}

}  // namespace owwired
