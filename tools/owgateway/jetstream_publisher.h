// SPDX-License-Identifier: MIT
// Publishes completed files to a JetStream stream, in the scheme of message_scheme.h.
//
// Publish returns once the stream acknowledged every message of the file. Each message
// is published synchronously and waits for its acknowledgement, so at most one message of
// one file is ever in flight or buffered: while NATS is unreachable, memory holds that
// file and nothing more, and the caller's thread waits (the wire server is not
// acknowledged, so it sends nothing new). The client library reconnects by itself
// (without a limit); a state change is logged once: connection lost, connection back,
// stream not acknowledging, acknowledging again.
//
// Thread: Publish from one thread at a time; Stop and GetStats from any thread.
#ifndef OWGATEWAY_JETSTREAM_PUBLISHER_H
#define OWGATEWAY_JETSTREAM_PUBLISHER_H

#include <cstdint>
#include <memory>
#include <string>

#include "jetstream_options.h"
#include "publisher.h"

namespace owgateway {

class JetStreamPublisher : public Publisher {
 public:
  explicit JetStreamPublisher(JetStreamOptions options);
  ~JetStreamPublisher() override;
  JetStreamPublisher(const JetStreamPublisher&) = delete;
  JetStreamPublisher& operator=(const JetStreamPublisher&) = delete;

  // Starts connecting; does not wait for a server (one that is down now is waited for by
  // Publish). False, with error, for what retrying cannot mend: options the client refuses
  // (a URL it cannot parse, a credentials or certificate file it cannot load).
  bool Start(std::string& error);

  bool Publish(const CompletedFile& file, std::string& error) override;
  void Stop() override;

  struct Stats {
    uint64_t files = 0;       // files published and acknowledged
    uint64_t messages = 0;    // messages acknowledged, chunks counted one by one
    uint64_t duplicates = 0;  // messages the stream already held (a repeat, dropped by it)
    uint64_t retries = 0;     // publishes tried again after a failure
  };
  Stats GetStats() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace owgateway

#endif  // OWGATEWAY_JETSTREAM_PUBLISHER_H
