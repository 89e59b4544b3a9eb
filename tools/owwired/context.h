// What the server loop shares with every connection it serves.
#ifndef OWWIRED_CONTEXT_H_
#define OWWIRED_CONTEXT_H_

#include <cstdint>

#include "counters.h"
#include "event_log.h"
#include "feed.h"
#include "options.h"
#include "session_table.h"

namespace owwired {

// Owned by the server; lives as long as its loop. Every member is touched only by the loop's
// thread.
struct Context {
  Context(const Options& options_in, Feed* feed_in, SessionTable* sessions_in, EventLog* log_in)
      : options(options_in), feed(*feed_in), sessions(*sessions_in), log(*log_in) {}

  const Options& options;
  Feed& feed;
  SessionTable& sessions;
  EventLog& log;
  Counters counters;
  uint64_t now_ms = 0;          // the loop's clock, read once per turn
  uint64_t requests_seen = 0;   // RQSTs over all connections, for the (410) fault
  bool exit_requested = false;  // --exit-when-done was met
};

}  // namespace owwired

#endif  // OWWIRED_CONTEXT_H_
