// SPDX-License-Identifier: MIT
// What the JetStream publisher needs to know, as plain values: the command line fills it.
// No client library header here, so that the option layer builds without libnats and can
// say plainly that this build has no JetStream.
#ifndef OWGATEWAY_JETSTREAM_OPTIONS_H
#define OWGATEWAY_JETSTREAM_OPTIONS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace owgateway {

struct JetStreamOptions {
  // nats://HOST:PORT URLs (a comma-separated --publish list, split).
  std::vector<std::string> servers;
  std::string stream = "WIRE";  // created when missing, taking subjectPrefix + ".>"
  std::string subjectPrefix;    // e.g. "wire.<feed>" (DefaultSubjectPrefix)
  int replicas = 1;             // for a stream we create
  // The stream's de-duplication window, for a stream we create. A repeat older than this is
  // stored again (the consumers see it twice, with the same Nats-Msg-Id). One hour covers a
  // gateway restarted after a long stop; JetStream's own default is two minutes.
  int64_t duplicateWindowMs = 60 * 60 * 1000;

  // Credentials and TLS, as the C client takes them; empty means unused.
  std::string credsFile;  // a .creds file (user JWT and seed)
  std::string user;
  std::string password;
  std::string token;
  std::string tlsCaFile;    // trust these CAs (also turns TLS on)
  std::string tlsCertFile;  // client certificate and its key, for servers that ask
  std::string tlsKeyFile;
  bool tls = false;  // require TLS even without a CA file

  // How long one publish waits for the stream's acknowledgement before it is tried again
  // (with the same id, so a late acknowledgement and the retry store one copy).
  int64_t ackWaitMs = 5000;
  // Back-off between tries while the stream cannot be reached: doubles from min to max.
  int64_t retryMinMs = 100;
  int64_t retryMaxMs = 2000;

  // One line per change of state and per permanent error; default: stderr, "owgateway: ".
  std::function<void(const std::string&)> log;
};

// Splits "nats://a:4222,b:4222" (a bare host:port gets nats://). False, with error, for an
// empty list or an entry with no host.
bool ParsePublishUrls(const std::string& list, std::vector<std::string>& servers,
                      std::string& error);

}  // namespace owgateway

#endif  // OWGATEWAY_JETSTREAM_OPTIONS_H
