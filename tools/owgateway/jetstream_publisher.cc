// SPDX-License-Identifier: MIT
#include "jetstream_publisher.h"

#include <nats/nats.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "message_scheme.h"

namespace owgateway {

namespace {

// How one try at publishing ended.
enum class Try { kStored, kRetry, kPermanent, kStopped };

std::string StatusText(natsStatus s, jsErrCode code) {
  std::string text = natsStatus_GetText(s);
  if (code != 0) text += " (JetStream error " + std::to_string(static_cast<int>(code)) + ")";
  const char* last = nats_GetLastError(nullptr);
  if (last != nullptr && *last != '\0' && text.find(last) == std::string::npos) {
    text += ": " + std::string(last);
  }
  return text;
}

void DefaultLog(const std::string& line) { std::fprintf(stderr, "owgateway: %s\n", line.c_str()); }

}  // namespace

struct JetStreamPublisher::Impl {
  explicit Impl(JetStreamOptions o) : options(std::move(o)) {
    if (!options.log) options.log = DefaultLog;
  }

  // The state the log lines report; a line is written when it changes.
  enum class State { kAny, kStarting, kUp, kDisconnected, kNotAcking };

  JetStreamOptions options;
  natsOptions* natsOpts = nullptr;
  natsConnection* conn = nullptr;
  jsCtx* js = nullptr;

  std::mutex mutex;
  std::condition_variable wake;
  bool stopped = false;
  bool closed = false;  // the client's closed callback ran: no callback follows
  State state = State::kStarting;

  // Used by the publishing thread only.
  bool streamReady = false;
  int64_t streamMaxMsgSize = -1;
  int64_t backoffMs = 0;

  std::atomic<uint64_t> files{0}, messages{0}, duplicates{0}, retries{0};

  bool Configure(std::string& error);
  bool ConfigureSecurity(std::string& error);
  bool Check(natsStatus s, const char* what, std::string& error);
  // Logs the line when the state changes (and was `from`, unless kAny).
  void SetState(State next, const std::string& line, State from = State::kAny);
  bool IsStopped();
  bool WaitConnected();
  bool Backoff();
  static std::string ConnectedUrl(natsConnection* nc);
  Try EnsureStream(std::string& error);
  Try CreateStream(std::string& error);
  Try CheckStreamSubjects(const jsStreamInfo& info, std::string& error);
  Try PublishFile(const CompletedFile& file, std::string& error);
  Try PublishMessage(const std::string& subject, const Headers& headers, const uint8_t* data,
                     size_t length, std::string& error);
  Try Classify(natsStatus s, jsErrCode code, std::string& error);

  static void OnConnected(natsConnection* nc, void* closure);
  static void OnDisconnected(natsConnection* nc, void* closure);
  static void OnClosed(natsConnection* nc, void* closure);
};

bool JetStreamPublisher::Impl::Check(natsStatus s, const char* what, std::string& error) {
  if (s == NATS_OK) return true;
  error = std::string(what) + ": " + StatusText(s, static_cast<jsErrCode>(0));
  return false;
}

bool JetStreamPublisher::Impl::Configure(std::string& error) {
  if (options.servers.empty()) {
    error = "no NATS address given";
    return false;
  }
  std::vector<const char*> urls;
  for (const auto& url : options.servers) urls.push_back(url.c_str());
  return Check(natsOptions_Create(&natsOpts), "NATS options", error) &&
         Check(natsOptions_SetServers(natsOpts, urls.data(), static_cast<int>(urls.size())),
               "NATS address", error) &&
         // Reconnect for ever: the wire waits meanwhile, which is the back-pressure.
         Check(natsOptions_SetMaxReconnect(natsOpts, -1), "NATS options", error) &&
         Check(natsOptions_SetReconnectWait(natsOpts, 250), "NATS options", error) &&
         Check(natsOptions_SetRetryOnFailedConnect(natsOpts, true, OnConnected, this),
               "NATS options", error) &&
         Check(natsOptions_SetReconnectedCB(natsOpts, OnConnected, this), "NATS options", error) &&
         Check(natsOptions_SetDisconnectedCB(natsOpts, OnDisconnected, this), "NATS options",
               error) &&
         Check(natsOptions_SetClosedCB(natsOpts, OnClosed, this), "NATS options", error) &&
         ConfigureSecurity(error);
}

bool JetStreamPublisher::Impl::ConfigureSecurity(std::string& error) {
  const JetStreamOptions& o = options;
  if (!o.credsFile.empty() &&
      !Check(natsOptions_SetUserCredentialsFromFiles(natsOpts, o.credsFile.c_str(), nullptr),
             "NATS credentials file", error)) {
    return false;
  }
  if (!o.user.empty() &&
      !Check(natsOptions_SetUserInfo(natsOpts, o.user.c_str(), o.password.c_str()), "NATS user",
             error)) {
    return false;
  }
  if (!o.token.empty() &&
      !Check(natsOptions_SetToken(natsOpts, o.token.c_str()), "NATS token", error)) {
    return false;
  }
  bool tls = o.tls || !o.tlsCaFile.empty() || !o.tlsCertFile.empty();
  if (tls && !Check(natsOptions_SetSecure(natsOpts, true), "NATS TLS", error)) return false;
  if (!o.tlsCaFile.empty() &&
      !Check(natsOptions_LoadCATrustedCertificates(natsOpts, o.tlsCaFile.c_str()),
             "NATS TLS CA file", error)) {
    return false;
  }
  if (!o.tlsCertFile.empty() && !Check(natsOptions_LoadCertificatesChain(
                                           natsOpts, o.tlsCertFile.c_str(), o.tlsKeyFile.c_str()),
                                       "NATS TLS certificate", error)) {
    return false;
  }
  return true;
}

std::string JetStreamPublisher::Impl::ConnectedUrl(natsConnection* nc) {
  char url[256] = "";
  if (nc == nullptr || natsConnection_GetConnectedUrl(nc, url, sizeof url) != NATS_OK) {
    return "NATS";
  }
  return url;
}

void JetStreamPublisher::Impl::SetState(State next, const std::string& line, State from) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (state == next || (from != State::kAny && state != from)) return;
    state = next;
  }
  wake.notify_all();
  options.log(line);
}

void JetStreamPublisher::Impl::OnConnected(natsConnection* nc, void* closure) {
  auto* self = static_cast<Impl*>(closure);
  self->SetState(State::kUp, "connected to " + ConnectedUrl(nc));
}

void JetStreamPublisher::Impl::OnDisconnected(natsConnection*, void* closure) {
  auto* self = static_cast<Impl*>(closure);
  {
    std::lock_guard<std::mutex> lock(self->mutex);
    if (self->stopped) return;  // our own close
  }
  self->SetState(State::kDisconnected,
                 "lost the connection to NATS; stories wait until it is back");
}

void JetStreamPublisher::Impl::OnClosed(natsConnection*, void* closure) {
  auto* self = static_cast<Impl*>(closure);
  std::lock_guard<std::mutex> lock(self->mutex);
  self->closed = true;
  self->wake.notify_all();
}

bool JetStreamPublisher::Impl::IsStopped() {
  std::lock_guard<std::mutex> lock(mutex);
  return stopped;
}

// Polls the client's status: its callbacks only speed the wake-up.
bool JetStreamPublisher::Impl::WaitConnected() {
  while (natsConnection_Status(conn) != NATS_CONN_STATUS_CONNECTED) {
    std::unique_lock<std::mutex> lock(mutex);
    if (stopped) return false;
    wake.wait_for(lock, std::chrono::milliseconds(200));
  }
  return !IsStopped();
}

bool JetStreamPublisher::Impl::Backoff() {
  ++retries;
  backoffMs = backoffMs == 0 ? options.retryMinMs : std::min(backoffMs * 2, options.retryMaxMs);
  std::unique_lock<std::mutex> lock(mutex);
  wake.wait_for(lock, std::chrono::milliseconds(backoffMs), [this] { return stopped; });
  return !stopped;
}

Try JetStreamPublisher::Impl::Classify(natsStatus s, jsErrCode code, std::string& error) {
  error = StatusText(s, code);
  if (code == JSStreamMessageExceedsMaximumErr || code == JSStreamNotMatchErr ||
      s == NATS_MAX_PAYLOAD) {
    return Try::kPermanent;
  }
  // No responders: no stream (deleted, or its leader being elected) takes the subject now.
  if (s == NATS_NO_RESPONDERS) streamReady = false;
  return Try::kRetry;
}

Try JetStreamPublisher::Impl::CheckStreamSubjects(const jsStreamInfo& info, std::string& error) {
  const jsStreamConfig* config = info.Config;
  streamMaxMsgSize = config != nullptr ? config->MaxMsgSize : -1;
  bool raw = false, html = false;
  for (int i = 0; config != nullptr && i < config->SubjectsLen; ++i) {
    raw = raw || SubjectMatches(config->Subjects[i], options.subjectPrefix + ".raw.x");
    html = html || SubjectMatches(config->Subjects[i], options.subjectPrefix + ".html.x");
  }
  if (raw && html) return Try::kStored;
  error = "the stream " + options.stream + " does not take the subjects " + options.subjectPrefix +
          ".>";
  return Try::kPermanent;
}

Try JetStreamPublisher::Impl::CreateStream(std::string& error) {
  std::string subject = options.subjectPrefix + ".>";
  const char* subjects[] = {subject.c_str()};
  jsStreamConfig config;
  jsStreamConfig_Init(&config);
  config.Name = options.stream.c_str();
  config.Subjects = subjects;
  config.SubjectsLen = 1;
  config.Storage = js_FileStorage;
  config.Replicas = options.replicas;
  config.Duplicates = options.duplicateWindowMs * 1000000;  // nanoseconds
  jsStreamInfo* info = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus s = js_AddStream(&info, js, &config, nullptr, &code);
  if (s == NATS_OK) {
    options.log("created the stream " + options.stream + " for " + subject);
    jsStreamInfo_Destroy(info);
    streamMaxMsgSize = -1;
    return Try::kStored;
  }
  error = "cannot create the stream " + options.stream + ": " + StatusText(s, code);
  if (code == JSStreamSubjectOverlapErr || code == JSStreamReplicasNotSupportedErr) {
    return Try::kPermanent;
  }
  return Try::kRetry;
}

Try JetStreamPublisher::Impl::EnsureStream(std::string& error) {
  if (streamReady) return Try::kStored;
  jsStreamInfo* info = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  natsStatus s = js_GetStreamInfo(&info, js, options.stream.c_str(), nullptr, &code);
  Try result;
  if (s == NATS_OK) {
    result = CheckStreamSubjects(*info, error);
    jsStreamInfo_Destroy(info);
  } else if (code == JSStreamNotFoundErr || s == NATS_NOT_FOUND) {
    result = CreateStream(error);
  } else {
    error = "cannot look up the stream " + options.stream + ": " + StatusText(s, code);
    result = Try::kRetry;
  }
  streamReady = result == Try::kStored;
  return result;
}

Try JetStreamPublisher::Impl::PublishMessage(const std::string& subject, const Headers& headers,
                                             const uint8_t* data, size_t length,
                                             std::string& error) {
  natsMsg* msg = nullptr;
  natsStatus s = natsMsg_Create(&msg, subject.c_str(), nullptr, reinterpret_cast<const char*>(data),
                                static_cast<int>(length));
  for (size_t i = 0; s == NATS_OK && i < headers.size(); ++i) {
    s = natsMsgHeader_Set(msg, headers[i].first.c_str(), headers[i].second.c_str());
  }
  if (s != NATS_OK) {
    natsMsg_Destroy(msg);
    error = "cannot build a message: " + StatusText(s, static_cast<jsErrCode>(0));
    return Try::kPermanent;
  }
  jsPubOptions pubOptions;
  jsPubOptions_Init(&pubOptions);
  pubOptions.MaxWait = options.ackWaitMs;
  pubOptions.ExpectStream = options.stream.c_str();
  jsPubAck* ack = nullptr;
  jsErrCode code = static_cast<jsErrCode>(0);
  s = js_PublishMsg(&ack, js, msg, &pubOptions, &code);
  natsMsg_Destroy(msg);
  if (s != NATS_OK) return Classify(s, code, error);
  ++messages;
  if (ack != nullptr && ack->Duplicate) ++duplicates;
  jsPubAck_Destroy(ack);
  return Try::kStored;
}

// One try at the whole file: the stream, then every message in order. A retry sends the
// file again from its first message; the repeats carry the same ids and are dropped.
Try JetStreamPublisher::Impl::PublishFile(const CompletedFile& file, std::string& error) {
  if (!WaitConnected()) return Try::kStopped;
  Try stream = EnsureStream(error);
  if (stream != Try::kStored) return stream;
  const std::string id = MessageId(file);
  const std::string subject = SubjectFor(options.subjectPrefix, file);
  const Headers headers = FileHeaders(file, id);
  int64_t maxPayload = natsConnection_GetMaxPayload(conn);
  if (streamMaxMsgSize > 0) maxPayload = std::min(maxPayload, streamMaxMsgSize);
  ChunkPlan plan;
  // The client adds the expected stream as one more header.
  const size_t clientHeaderBytes =
      std::strlen("Nats-Expected-Stream: \r\n") + options.stream.size();
  if (!PlanChunks(file.length, maxPayload, EncodedHeaderBytes(headers) + clientHeaderBytes,
                  MaxChunkHeaderBytes(id, file.length), plan, error)) {
    return Try::kPermanent;
  }
  if (plan.count == 1) return PublishMessage(subject, headers, file.data, file.length, error);
  for (size_t i = 0; i < plan.count; ++i) {
    Headers chunk = headers;
    chunk.erase(chunk.begin());  // the chunk's own Nats-Msg-Id replaces the file's
    size_t offset = i * plan.chunkBytes;
    Headers extra = ChunkHeaders(id, i, plan.count, offset);
    chunk.insert(chunk.begin(), extra.begin(), extra.end());
    size_t length = std::min(plan.chunkBytes, file.length - offset);
    Try result = PublishMessage(subject, chunk, file.data + offset, length, error);
    if (result != Try::kStored) return result;
  }
  return Try::kStored;
}

JetStreamPublisher::JetStreamPublisher(JetStreamOptions options)
    : mImpl(std::make_unique<Impl>(std::move(options))) {}

JetStreamPublisher::~JetStreamPublisher() {
  Stop();
  Impl& impl = *mImpl;
  if (impl.conn != nullptr) {
    natsConnection_Close(impl.conn);
    // The closed callback is the connection's last: once it ran, none can reach a
    // destroyed Impl. Bounded, in case the client never calls it.
    std::unique_lock<std::mutex> lock(impl.mutex);
    bool closed = impl.wake.wait_for(lock, std::chrono::seconds(10), [&] { return impl.closed; });
    lock.unlock();
    if (!closed) {
      impl.options.log("the NATS client did not confirm the close; its state is left in place");
      static_cast<void>(mImpl.release());  // a late callback finds live memory
      return;
    }
  }
  jsCtx_Destroy(impl.js);
  natsConnection_Destroy(impl.conn);
  natsOptions_Destroy(impl.natsOpts);
}

bool JetStreamPublisher::Start(std::string& error) {
  Impl& impl = *mImpl;
  if (!impl.Configure(error)) return false;
  natsStatus s = natsConnection_Connect(&impl.conn, impl.natsOpts);
  if (s == NATS_NOT_YET_CONNECTED) {
    // Unless the connected callback came first.
    impl.SetState(Impl::State::kDisconnected,
                  "cannot reach NATS at " + impl.options.servers.front() +
                      " yet; stories wait until it is there",
                  Impl::State::kStarting);
  } else if (s == NATS_OK) {
    impl.SetState(Impl::State::kUp, "connected to " + Impl::ConnectedUrl(impl.conn));
  } else {
    error = "cannot connect to NATS: " + StatusText(s, static_cast<jsErrCode>(0));
    return false;
  }
  return impl.Check(natsConnection_JetStream(&impl.js, impl.conn, nullptr), "JetStream", error);
}

bool JetStreamPublisher::Publish(const CompletedFile& file, std::string& error) {
  Impl& impl = *mImpl;
  if (impl.conn == nullptr) {
    error = "the publisher was not started";
    return false;
  }
  impl.backoffMs = 0;
  for (;;) {
    if (impl.IsStopped()) break;
    Try result = impl.PublishFile(file, error);
    if (result == Try::kStored) {
      ++impl.files;
      impl.SetState(Impl::State::kUp, "JetStream acknowledges again", Impl::State::kNotAcking);
      return true;
    }
    if (result == Try::kPermanent) {
      impl.options.log("cannot publish " + EscapeName(file.fileName) + ": " + error);
      return false;
    }
    if (result == Try::kStopped) break;
    if (natsConnection_Status(impl.conn) == NATS_CONN_STATUS_CONNECTED) {
      impl.SetState(Impl::State::kNotAcking,
                    "JetStream does not acknowledge (" + error + "); retrying");
    }
    if (!impl.Backoff()) break;
  }
  error = "stopped";
  return false;
}

void JetStreamPublisher::Stop() {
  {
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    mImpl->stopped = true;
  }
  mImpl->wake.notify_all();
}

JetStreamPublisher::Stats JetStreamPublisher::GetStats() const {
  Stats stats;
  stats.files = mImpl->files;
  stats.messages = mImpl->messages;
  stats.duplicates = mImpl->duplicates;
  stats.retries = mImpl->retries;
  return stats;
}

}  // namespace owgateway
