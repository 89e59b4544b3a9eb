// SPDX-License-Identifier: MIT
// What the server has done so far, for tests and for the closing summary line. A plain value:
// the server publishes a copy after every turn of its loop (Server::GetCounters).
#ifndef OWWIRED_COUNTERS_H
#define OWWIRED_COUNTERS_H

#include <cstdint>

namespace owwired {

struct Counters {
  uint64_t connectionsAccepted = 0;
  uint64_t connectionsRefused = 0;  // beyond --max-clients
  uint64_t connectionsOpen = 0;
  uint64_t sessionsCreated = 0;
  uint64_t sessionsResumed = 0;
  uint64_t sessionsEnded = 0;  // by DONE, from either side
  uint64_t messagesReceived = 0;
  uint64_t messagesSent = 0;
  uint64_t badMessages = 0;      // answered with UNKN or a negative acknowledgement
  uint64_t oversizedInputs = 0;  // connections closed for a message without an end
  uint64_t inputPauses = 0;      // times a client's input waited for its output to drain
  uint64_t filesAnnounced = 0;
  uint64_t filesDelivered = 0;  // last block acknowledged
  uint64_t blocksSent = 0;
  uint64_t blocksAcked = 0;
  uint64_t requestsEmpty = 0;  // answered (204) No content
  uint64_t requestsGone = 0;   // answered (410) Gone
  uint64_t heartbeats = 0;
  uint64_t faultsFired = 0;
  uint64_t bytesReceived = 0;
  uint64_t bytesSent = 0;
  uint64_t writeCalls = 0;      // write calls that wrote something
  uint32_t lastSessionId = 0;  // the id most recently created or resumed
  uint64_t turns = 0;            // turns of the loop (one poll() each)
  bool stopped = false;          // the loop has ended and closed everything
};

}  // namespace owwired

#endif  // OWWIRED_COUNTERS_H
