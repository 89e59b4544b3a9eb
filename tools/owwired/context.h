// SPDX-License-Identifier: MIT
// What the server loop shares with every connection it serves.
#ifndef OWWIRED_CONTEXT_H
#define OWWIRED_CONTEXT_H

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
  Context(const Options& optionsIn, Feed* feedIn, SessionTable* sessionsIn, EventLog* logIn)
      : options(optionsIn), feed(*feedIn), sessions(*sessionsIn), log(*logIn) {}

  const Options& options;
  Feed& feed;
  SessionTable& sessions;
  EventLog& log;
  Counters counters;
  uint64_t nowMs = 0;          // the loop's clock, read once per turn
  uint64_t requestsSeen = 0;   // RQSTs over all connections, for the (410) fault
  bool exitRequested = false;  // --exit-when-done was met
};

}  // namespace owwired

#endif  // OWWIRED_CONTEXT_H
