// What the server has done so far, for tests and for the closing summary line. A plain value:
// the server publishes a copy after every turn of its loop (Server::GetCounters).
#ifndef OWWIRED_COUNTERS_H_
#define OWWIRED_COUNTERS_H_

#include <cstdint>

namespace owwired {

struct Counters {
  uint64_t connections_accepted = 0;
  uint64_t connections_refused = 0;  // beyond --max-clients
  uint64_t connections_open = 0;
  uint64_t sessions_created = 0;
  uint64_t sessions_resumed = 0;
  uint64_t sessions_ended = 0;  // by DONE, from either side
  uint64_t messages_received = 0;
  uint64_t messages_sent = 0;
  uint64_t bad_messages = 0;      // answered with UNKN or a negative acknowledgement
  uint64_t oversized_inputs = 0;  // connections closed for a message without an end
  uint64_t input_pauses = 0;      // times a client's input waited for its output to drain
  uint64_t files_announced = 0;
  uint64_t files_delivered = 0;  // last block acknowledged
  uint64_t blocks_sent = 0;
  uint64_t blocks_acked = 0;
  uint64_t requests_empty = 0;  // answered (204) No content
  uint64_t requests_gone = 0;   // answered (410) Gone
  uint64_t heartbeats = 0;
  uint64_t faults_fired = 0;
  uint64_t bytes_received = 0;
  uint64_t bytes_sent = 0;
  uint64_t write_calls = 0;      // send() calls that wrote something
  uint32_t last_session_id = 0;  // the id most recently created or resumed
  uint64_t turns = 0;            // turns of the loop (one poll() each)
  bool stopped = false;          // the loop has ended and closed everything
};

}  // namespace owwired

#endif  // OWWIRED_COUNTERS_H_
