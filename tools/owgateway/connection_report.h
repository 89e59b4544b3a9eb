// SPDX-License-Identifier: MIT
// What the user is told about the connection: one line per change of state, read from the
// library's log lines ("cannot connect to 127.0.0.9:39030: Connection refused; retrying in
// 28 s", "login refused: (401) Unauthorized; retrying in 16 s", "connected to
// news.example.net:39030, session 52448401"). A failure that repeats itself on every
// retry is told once, until something changes. A failed connect is told as its socket
// error comes, not when the library's session times out twelve seconds later.
//
// Threads: OnLibraryLine on the library's threads (with its trace lock held: it calls
// nothing of the library's that logs), and the lines are told from there, as they happen,
// so that they come in order with the lines of the delivery thread; the rest on any thread.
#ifndef OWGATEWAY_CONNECTION_REPORT_H
#define OWGATEWAY_CONNECTION_REPORT_H

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace owgateway {

class ConnectionReport {
 public:
  // problem: a line to show even with -q.
  using Tell = std::function<void(const std::string& text, bool problem)>;

  ConnectionReport(std::string server, Tell tell)
      : mServer(std::move(server)), mTell(std::move(tell)) {}

  void OnLibraryLine(const std::string& line);
  // Lines due before this call wait for it, so that the tool's own opening lines, told on
  // the main thread once the session has started, come first.
  void Open();
  // Whether the server answered or sent DONE since the last call.
  bool TakeServerDone();

 private:
  enum class Phase { kIdle, kConnecting, kHello, kLoggedIn };

  void Failed();
  void TellConnectFailure();
  void TellFailure(const std::string& failure, int retrySeconds);
  void Say(const std::string& text, bool problem);
  std::string Reason(const char* silence) const;
  const std::string mServer;
  const Tell mTell;
  std::mutex mMutex;
  Phase mPhase = Phase::kIdle;
  bool mAnnounced = false;     // "connecting to" said once, at the first attempt
  uint32_t mSocketError = 0;   // of the current attempt, as the library numbers it
  int32_t mLoginStatus = 0;    // the USER answer's status when it refused
  bool mTimedOut = false;
  std::chrono::steady_clock::time_point mConnectStart;
  std::string mLastFailure;    // told already (without its retry time), until a login succeeds
  bool mServerDone = false;
  bool mOpen = false;
  std::vector<std::pair<std::string, bool>> mHeld;  // said before Open
};

}  // namespace owgateway

#endif  // OWGATEWAY_CONNECTION_REPORT_H
