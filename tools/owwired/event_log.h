// SPDX-License-Identifier: MIT
// owwired's log: one line per event (connection, session, file, fault), and with verbosity 2
// every message. Lines go to a sink or, without one, to stderr with a time stamp.
#ifndef OWWIRED_EVENT_LOG_H
#define OWWIRED_EVENT_LOG_H

#include <cstdarg>
#include <cstddef>
#include <functional>
#include <string>

namespace owwired {

// Not thread-safe: used by the server loop (and by Server::Open before the loop runs).
class EventLog {
 public:
  using Sink = std::function<void(const std::string&)>;

  EventLog(int verbosity, Sink sink) : mVerbosity(verbosity), mSink(std::move(sink)) {}

  bool Detailed() const { return mVerbosity >= 2; }

  // Always written, even with verbosity 0.
  void Error(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Written with verbosity 1 or more.
  void Event(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Written with verbosity 2.
  void Detail(const char* format, ...) __attribute__((format(printf, 2, 3)));

 private:
  void Write(const char* prefix, const char* format, va_list args);

  int mVerbosity;
  Sink mSink;
};

// A message as text for a log line: printable bytes as they are, others as \xHH, cut after
// `limit` bytes with "...".
std::string Printable(const char* data, size_t length, size_t limit = 120);

}  // namespace owwired

#endif  // OWWIRED_EVENT_LOG_H
