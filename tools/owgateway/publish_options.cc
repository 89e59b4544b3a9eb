// SPDX-License-Identifier: MIT
#include "publish_options.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "message_scheme.h"
#ifdef OWGATEWAY_WITH_JETSTREAM
#include "jetstream_publisher.h"
#endif

namespace owgateway {

namespace {

using owtool::Value;

bool IsTokenText(const std::string& text, const char* forbidden) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c <= ' ' || c >= 0x7F || std::strchr(forbidden, c) != nullptr) return false;
  }
  return true;
}

// A subject prefix is one or more tokens: no wildcard, no empty token.
bool IsSubjectPrefix(const std::string& text) {
  if (!IsTokenText(text, "*>")) return false;
  return text.front() != '.' && text.back() != '.' && text.find("..") == std::string::npos;
}

bool NeedsPublish(int id) { return id != kOptPublish; }

}  // namespace

std::vector<owtool::OptionSpec> PublishOptionRows() {
  return {
      {kOptPublish, 0, "publish", Value::kRequired, "URLS",
       "also publish every completed file to a JetStream stream; URLS is "
       "nats://HOST:PORT[,HOST:PORT...]"},
      {kOptStream, 0, "stream", Value::kRequired, "NAME",
       "the stream (default WIRE), created when missing"},
      {kOptSubject, 0, "subject", Value::kRequired, "PREFIX",
       "subjects PREFIX.<kind>.<name> (default wire.<feed>)"},
      {kOptReplicas, 0, "replicas", Value::kRequired, "N",
       "replicas of a stream owgateway creates (default 1)"},
      {kOptNatsCreds, 0, "nats-creds", Value::kRequired, "FILE", "NATS credentials file"},
      {kOptNatsUser, 0, "nats-user", Value::kRequired, "USER", "NATS user"},
      {kOptNatsPassword, 0, "nats-password", Value::kRequired, "PASS",
       "NATS password (better: OWGATEWAY_NATS_PASSWORD)"},
      {kOptNatsToken, 0, "nats-token", Value::kRequired, "TOKEN",
       "NATS token (better: OWGATEWAY_NATS_TOKEN)"},
      {kOptNatsTls, 0, "nats-tls", Value::kNone, nullptr, "require TLS to NATS"},
      {kOptNatsCa, 0, "nats-ca", Value::kRequired, "FILE", "trust these CAs for NATS (turns TLS on)"},
      {kOptNatsCert, 0, "nats-cert", Value::kRequired, "FILE", "client certificate for NATS"},
      {kOptNatsKey, 0, "nats-key", Value::kRequired, "FILE", "its private key"},
      {kOptPublishOnly, 0, "publish-only", Value::kNone, nullptr,
       "the folder is a staging area: a file leaves it once published"},
  };
}

bool IsPublishOption(int id) { return id >= kOptPublish && id <= kOptPublishOnly; }

bool ApplyPublishOption(int id, const char* value, PublishSettings* s, std::string* error) {
  JetStreamOptions& js = s->jetstream;
  const std::string text = value != nullptr ? value : "";
  if (NeedsPublish(id) && s->needsPublish.empty()) {
    for (const owtool::OptionSpec& row : PublishOptionRows()) {
      if (row.id == id) s->needsPublish = std::string("--") + row.longName;
    }
  }
  switch (id) {
    case kOptPublish:
      s->enabled = true;
      return ParsePublishUrls(text, js.servers, *error);
    case kOptStream:
      if (!IsTokenText(text, ".*>")) {
        *error = "takes a name without '.', '*', '>' or blanks";
        return false;
      }
      js.stream = text;
      return true;
    case kOptSubject:
      if (!IsSubjectPrefix(text)) {
        *error = "takes a subject such as wire.feed (no wildcard, blank or empty part)";
        return false;
      }
      js.subjectPrefix = text;
      return true;
    case kOptReplicas: {
      uint64_t n = 0;
      if (!owtool::ParseUnsigned(text.c_str(), 5, &n) || n < 1) {
        *error = "takes a number from 1 to 5";
        return false;
      }
      js.replicas = static_cast<int>(n);
      return true;
    }
    case kOptNatsCreds: js.credsFile = text; return true;
    case kOptNatsUser: js.user = text; return true;
    case kOptNatsPassword: js.password = text; return true;
    case kOptNatsToken: js.token = text; return true;
    case kOptNatsTls: js.tls = true; return true;
    case kOptNatsCa: js.tlsCaFile = text; return true;
    case kOptNatsCert: js.tlsCertFile = text; return true;
    case kOptNatsKey: js.tlsKeyFile = text; return true;
    case kOptPublishOnly: s->publishOnly = true; return true;
    default:
      *error = "not a publishing option";
      return false;
  }
}

bool FinishPublishSettings(const std::string& feed, PublishSettings* s, std::string* error) {
  JetStreamOptions& js = s->jetstream;
  if (!s->enabled) {
    if (s->needsPublish.empty()) return true;
    *error = s->needsPublish + " needs --publish";
    return false;
  }
  // Secrets are better kept off the command line, where every user of the host sees them.
  if (js.password.empty() && std::getenv("OWGATEWAY_NATS_PASSWORD") != nullptr) {
    js.password = std::getenv("OWGATEWAY_NATS_PASSWORD");
  }
  if (js.token.empty() && std::getenv("OWGATEWAY_NATS_TOKEN") != nullptr) {
    js.token = std::getenv("OWGATEWAY_NATS_TOKEN");
  }
  if (!js.password.empty() && js.user.empty()) {
    *error = "a NATS password needs --nats-user";
    return false;
  }
  if (!js.token.empty() && !js.user.empty()) {
    *error = "--nats-token and --nats-user exclude each other";
    return false;
  }
  if (js.tlsCertFile.empty() != js.tlsKeyFile.empty()) {
    *error = "--nats-cert and --nats-key go together";
    return false;
  }
  if (js.subjectPrefix.empty()) js.subjectPrefix = DefaultSubjectPrefix(feed);
  return true;
}

bool CheckPublishFiles(const PublishSettings& settings, std::string* error) {
  const JetStreamOptions& js = settings.jetstream;
  if (!settings.enabled) return true;
  for (const std::string* file : {&js.credsFile, &js.tlsCaFile, &js.tlsCertFile, &js.tlsKeyFile}) {
    if (file->empty() || access(file->c_str(), R_OK) == 0) continue;
    *error = *file + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

const char* NoJetStreamText() {
  return "this build of owgateway has no JetStream (it was built without libnats); "
         "--publish cannot be used";
}

bool HaveJetStream() {
#ifdef OWGATEWAY_WITH_JETSTREAM
  return true;
#else
  return false;
#endif
}

std::unique_ptr<Publisher> StartPublisher(const PublishSettings& settings, std::string* error) {
#ifdef OWGATEWAY_WITH_JETSTREAM
  auto publisher = std::make_unique<JetStreamPublisher>(settings.jetstream);
  if (!publisher->Start(*error)) return nullptr;
  return publisher;
#else
  static_cast<void>(settings);
  *error = NoJetStreamText();
  return nullptr;
#endif
}

}  // namespace owgateway
