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
      : options_(std::move(options)), log_(options_.verbosity, options_.log_sink) {}
  ~Impl() { CloseFds(); }

  bool Open(std::string* error);
  void Run();
  void RequestStop() {
    stop_.store(true);
    PokeWakePipe(wake_write_.load());
  }
  void Wake() { PokeWakePipe(wake_write_.load()); }
  uint16_t port() const { return port_; }
  size_t feed_size() const { return feed_size_; }
  Counters GetCounters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return published_;
  }
  bool WaitFor(const std::function<bool(const Counters&)>& condition, int timeout_ms) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                             [&] { return condition(published_); });
  }

  std::thread thread;

 private:
  bool BuildFeed(std::string* error);
  uint64_t Now() const { return options_.clock_ms ? options_.clock_ms() : SteadyMs(); }
  void Turn();
  int Timeout();
  bool ShouldExit();
  void AcceptAll();
  void Reap();
  void CloseAll();
  void Publish();
  void CloseFds();

  Options options_;  // files moved into feed_ by Open; otherwise constant after construction
  EventLog log_;
  Feed feed_;
  std::unique_ptr<SessionTable> sessions_;
  std::unique_ptr<Context> context_;
  std::vector<std::unique_ptr<Connection>> connections_;
  int listen_fd_ = -1;
  int wake_read_ = -1;
  std::atomic<int> wake_write_{-1};
  uint16_t port_ = 0;
  size_t feed_size_ = 0;
  uint32_t next_connection_ = 0;
  uint64_t last_activity_ms_ = 0;
  uint64_t exit_deadline_ms_ = 0;
  std::atomic<bool> stop_{false};

  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Counters published_;  // guarded by mutex_
};

bool Server::Impl::BuildFeed(std::string* error) {
  for (auto& file : options_.files) {
    if (!feed_.Add(file.first, std::move(file.second))) {
      *error = "invalid or duplicate file name: " + file.first;
      return false;
    }
  }
  options_.files.clear();  // the feed holds them now; one copy is enough
  if (!options_.spool_dir.empty()) {
    std::vector<std::string> skipped;
    if (feed_.LoadSpool(options_.spool_dir, &skipped, error) < 0) return false;
    for (const std::string& name : skipped) {
      log_.Event("feed: skipped %s (unreadable, or a name that cannot travel)", name.c_str());
    }
  }
  feed_.AddGenerated(options_.generate_stories, options_.story_size);
  return true;
}

bool Server::Impl::Open(std::string* error) {
  if (context_ != nullptr) {
    *error = "the server was opened already";
    return false;
  }
  if (options_.block_size == 0 || options_.block_size > 65535) {
    *error = "the block size must be 1 to 65535";
    return false;
  }
  if (!BuildFeed(error)) return false;
  feed_size_ = feed_.size();
  int fds[2];
  if (!OpenWakePipe(fds, error)) return false;
  wake_read_ = fds[0];
  wake_write_.store(fds[1]);
  listen_fd_ = OpenListener(options_.address, options_.port, &port_, error);
  if (listen_fd_ < 0) return false;
  sessions_ = std::make_unique<SessionTable>(FirstSessionId(options_.first_session_id),
                                             options_.max_sessions);
  context_ = std::make_unique<Context>(options_, &feed_, sessions_.get(), &log_);
  log_.Event("listening on %s:%u, serving %zu files in blocks of %u bytes%s",
             options_.address.c_str(), port_, feed_size_, options_.block_size,
             options_.pipeline ? ", pipelined" : "");
  return true;
}

void Server::Impl::Run() {
  last_activity_ms_ = Now();
  while (!stop_.load()) {
    context_->now_ms = Now();
    if (ShouldExit()) break;
    Turn();
    ++context_->counters.turns;
    Publish();
  }
  CloseAll();
  context_->counters.stopped = true;
  Publish();
  const Counters& c = context_->counters;
  log_.Event("stopped: %llu connections, %llu files delivered, %llu blocks sent",
             static_cast<unsigned long long>(c.connections_accepted),
             static_cast<unsigned long long>(c.files_delivered),
             static_cast<unsigned long long>(c.blocks_sent));
}

bool Server::Impl::ShouldExit() {
  uint64_t now = context_->now_ms;
  if (context_->exit_requested) {
    if (exit_deadline_ms_ == 0) {
      exit_deadline_ms_ = now + kExitGraceMs;
      log_.Event("a session received every file and said DONE: exiting");
    }
    bool drained = std::all_of(connections_.begin(), connections_.end(),
                               [](const auto& c) { return c->PendingOutput() == 0; });
    return drained || now >= exit_deadline_ms_;
  }
  if (!connections_.empty()) last_activity_ms_ = now;
  uint64_t idle_limit = static_cast<uint64_t>(options_.idle_exit_seconds) * 1000;
  if (idle_limit > 0 && connections_.empty() && now - last_activity_ms_ >= idle_limit) {
    log_.Event("no connection for %u seconds: exiting", options_.idle_exit_seconds);
    return true;
  }
  return false;
}

int Server::Impl::Timeout() {
  uint64_t now = context_->now_ms;
  uint64_t wake_at = UINT64_MAX;
  for (const auto& connection : connections_) {
    uint64_t release = connection->NextRelease();
    if (release != 0) wake_at = std::min(wake_at, release);
  }
  if (options_.idle_exit_seconds > 0 && connections_.empty()) {
    wake_at = std::min(
        wake_at, last_activity_ms_ + static_cast<uint64_t>(options_.idle_exit_seconds) * 1000);
  }
  if (context_->exit_requested) wake_at = std::min(wake_at, now + 10);
  if (wake_at == UINT64_MAX) return -1;
  return wake_at <= now ? 0 : static_cast<int>(std::min<uint64_t>(wake_at - now, INT_MAX));
}

void Server::Impl::Turn() {
  std::vector<pollfd> fds;
  fds.reserve(connections_.size() + 2);
  fds.push_back({wake_read_, POLLIN, 0});
  fds.push_back({listen_fd_, static_cast<short>(context_->exit_requested ? 0 : POLLIN), 0});
  for (const auto& connection : connections_) {
    fds.push_back({connection->fd(), connection->PollEvents(), 0});
  }
  if (::poll(fds.data(), fds.size(), Timeout()) < 0) {
    if (errno == EINTR) return;
    log_.Error("poll: %s", std::strerror(errno));
    stop_.store(true);
    return;
  }
  context_->now_ms = Now();
  if (fds[0].revents != 0) DrainWakePipe(wake_read_);
  size_t polled = connections_.size();  // accepting appends; only these were polled
  if ((fds[1].revents & POLLIN) != 0) AcceptAll();
  for (size_t i = 0; i < polled; ++i) {
    short events = fds[i + 2].revents;
    if ((events & POLLNVAL) != 0) {
      connections_[i]->Drop("invalid socket");
    } else if ((events & POLLIN) != 0) {
      connections_[i]->OnReadable();
    } else if ((events & (POLLHUP | POLLERR)) != 0) {
      connections_[i]->Drop("connection lost");  // a hang-up without input left to read
    }
  }
  for (const auto& connection : connections_) connection->Flush();
  Reap();
}

void Server::Impl::AcceptAll() {
  for (;;) {
    std::string peer;
    std::string error;
    int fd = AcceptClient(listen_fd_, &peer, &error);
    if (fd == -1) return;
    if (fd == -2) return log_.Error("%s", error.c_str());
    if (connections_.size() >= options_.max_clients) {
      ++context_->counters.connections_refused;
      log_.Event("refused %s: %zu clients connected already", peer.c_str(), connections_.size());
      ::close(fd);
      continue;
    }
    uint32_t number = ++next_connection_;
    uint32_t faulty_limit = options_.faults.faulty_connections;
    bool faulty = faulty_limit == 0 || number <= faulty_limit;
    ++context_->counters.connections_accepted;
    log_.Event("conn %u: connected from %s", number, peer.c_str());
    connections_.push_back(std::make_unique<Connection>(fd, number, faulty, context_.get()));
    connections_.back()->Greet();
  }
}

void Server::Impl::Reap() {
  auto finished = [this](std::unique_ptr<Connection>& connection) {
    if (!connection->Finished()) return false;
    last_activity_ms_ = context_->now_ms;  // idleness starts when the last client leaves
    ReleaseSession(connection.get(), context_.get());
    log_.Detail("conn %u: socket closed", connection->number());
    return true;
  };
  connections_.erase(std::remove_if(connections_.begin(), connections_.end(), finished),
                     connections_.end());
  context_->counters.connections_open = connections_.size();
}

void Server::Impl::CloseAll() {
  for (auto& connection : connections_) ReleaseSession(connection.get(), context_.get());
  connections_.clear();
  context_->counters.connections_open = 0;
  if (listen_fd_ >= 0) ::close(listen_fd_);
  listen_fd_ = -1;
}

void Server::Impl::Publish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    published_ = context_->counters;
  }
  changed_.notify_all();
}

void Server::Impl::CloseFds() {
  if (listen_fd_ >= 0) ::close(listen_fd_);
  if (wake_read_ >= 0) ::close(wake_read_);
  int write_fd = wake_write_.exchange(-1);
  if (write_fd >= 0) ::close(write_fd);
}

Server::Server(Options options) : impl_(std::make_unique<Impl>(std::move(options))) {}

Server::~Server() { Stop(); }

bool Server::Open(std::string* error) { return impl_->Open(error); }

void Server::Run() { impl_->Run(); }

bool Server::Start(std::string* error) {
  if (!impl_->Open(error)) return false;
  impl_->thread = std::thread([this] { impl_->Run(); });
  return true;
}

void Server::RequestStop() { impl_->RequestStop(); }

void Server::Stop() {
  impl_->RequestStop();
  if (impl_->thread.joinable()) impl_->thread.join();
}

void Server::Wake() { impl_->Wake(); }

uint16_t Server::port() const { return impl_->port(); }

size_t Server::feed_size() const { return impl_->feed_size(); }

Counters Server::GetCounters() const { return impl_->GetCounters(); }

bool Server::WaitFor(const std::function<bool(const Counters&)>& condition, int timeout_ms) const {
  return impl_->WaitFor(condition, timeout_ms);
}

}  // namespace owwired
