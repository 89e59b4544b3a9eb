// SPDX-License-Identifier: MIT
// owwired as a library: the reference wire server, runnable in-process by tests.
//
// In-process use (one server per test, each on its own 127.0.0.N so suites run side by side):
//
//   owwired::Options options;
//   options.address = "127.0.0.201";
//   options.files = {{"a.xml", xml}, {"a.rdf", rdf}};   // or spoolDir, or generateStories
//   options.verbosity = 0;                               // or logSink to capture lines
//   owwired::Server server(options);
//   std::string error;
//   ASSERT_TRUE(server.Start(&error)) << error;          // listening when Start returns
//   ... run a client against 127.0.0.201:39030 ...
//   ASSERT_TRUE(server.WaitFor([](const owwired::Counters& c) { return c.filesDelivered == 2; },
//                              5000));
//   server.Stop();                                       // or let the destructor do it
//
// As a child process, run the `owwired` executable with the same settings as options (see
// `owwired --help`); it listens before it logs "listening on", and ends on SIGTERM.
//
// Threads: the server runs one loop on one thread (its own after Start, the caller's in Run).
// Every public function is safe to call from any other thread; Options callbacks (logSink,
// clockMs) are called on the loop's thread.
#ifndef OWWIRED_SERVER_H
#define OWWIRED_SERVER_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "counters.h"
#include "options.h"

namespace owwired {

class Server {
 public:
  explicit Server(Options options);
  // Stops the server and joins its thread.
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Builds the feed and starts listening: from the moment it returns true, clients can
  // connect. False with `error` set when the options are invalid, the spool folder cannot be
  // read or the address cannot be bound. Call once.
  bool Open(std::string* error);

  // Serves until RequestStop or Stop, or an exit condition of the options, then closes every
  // connection and the listener. REQUIRES: Open succeeded; call once.
  void Run();

  // Open, then Run on a thread of the server's own.
  bool Start(std::string* error);

  // Asks the loop to end after its current turn. Async-signal-safe (a SIGTERM handler may
  // call it).
  void RequestStop();

  // RequestStop, then waits for the thread that Start made. Idempotent.
  void Stop();

  // Makes the loop read its clock again now, e.g. after a test moved Options::clockMs.
  void Wake();

  // The port listened on (the chosen one when Options::port was 0). Valid after Open.
  uint16_t Port() const;

  // Number of files in the feed when the server opened.
  size_t FeedSize() const;

  // A copy of the counters as of the end of the loop's last turn.
  Counters GetCounters() const;

  // Waits until `condition` holds for the published counters or `timeoutMs` has passed;
  // returns whether it holds. `condition` is called with the server's lock held: keep it to
  // reading the counters.
  bool WaitFor(const std::function<bool(const Counters&)>& condition, int timeoutMs) const;

 private:
  class Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace owwired

#endif  // OWWIRED_SERVER_H
