// SPDX-License-Identifier: MIT
#include "connection_report.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "owclient/wire_messages.h"

namespace owgateway {
namespace {

// The library's lines this report reads; each names the step of the session it logs.
constexpr char kConnecting[] = "HOBWThread::ProcessStateAux connecting to server ";
constexpr char kHello[] = "HOBWThread::ProcessStateAux connected to server: ";
constexpr char kSessionId[] = "HOBWThread::ProcessStateAux received session ID ";
constexpr char kUserRefused[] = "HOBWThread::ProcessStateAux user ack error ";
constexpr char kTimeout[] = " receive timeout";
constexpr char kStopBegin[] = "HOBWThread::Run OBW_STATE_STOP/begin";
constexpr char kDone[] = "HOBWThread::ProcessStateAux received done";
constexpr char kSocketError[] = "error code 0x";
// The pause of the library's stop state before it connects anew.
constexpr int kRetrySeconds = 16;
// A connection that failed is noticed by the library's session only when its receive
// time-out ends, this long after it began to connect; its stop state follows.
constexpr double kNoticedAfterSeconds = 12;

bool StartsWith(const std::string& line, const char* prefix) {
  return line.compare(0, std::strlen(prefix), prefix) == 0;
}

// The library reports socket errors with the numbers of Windows Sockets.
std::string SocketErrorText(uint32_t code) {
  switch (code) {
    case 10050: return "Network is down";
    case 10051: return "Network is unreachable";
    case 10053: return "Software caused connection abort";
    case 10054: return "Connection reset by peer";
    case 10060: return "Connection timed out";
    case 10061: return "Connection refused";
    case 10064: return "Host is down";
    case 10065: return "No route to host";
    default: return "socket error " + std::to_string(code);
  }
}

std::string StatusText(int32_t status) {
  const std::string text = GetStatusText(status);
  const std::string number = "(" + std::to_string(status) + ")";
  return text.compare(0, number.size(), number) == 0 ? text : "status " + number;
}

}  // namespace

void ConnectionReport::OnLibraryLine(const std::string& line) {
  std::lock_guard<std::mutex> lock(mMutex);
  if (StartsWith(line, kConnecting)) {
    mPhase = Phase::kConnecting;
    mSocketError = 0;
    mLoginStatus = 0;
    mTimedOut = false;
    mConnectStart = std::chrono::steady_clock::now();
    if (!mAnnounced) Say("connecting to " + mServer, false);
    mAnnounced = true;
  } else if (StartsWith(line, kHello)) {
    mPhase = Phase::kHello;
  } else if (StartsWith(line, kSessionId)) {
    mPhase = Phase::kLoggedIn;
    mLastFailure.clear();
    Say("connected to " + mServer + ", session " + line.substr(std::strlen(kSessionId)), false);
  } else if (StartsWith(line, kUserRefused)) {
    mLoginStatus = std::atoi(line.c_str() + std::strlen(kUserRefused));
  } else if (line.find(kTimeout) != std::string::npos) {
    mTimedOut = true;
  } else if (StartsWith(line, kStopBegin)) {
    Failed();
  } else if (StartsWith(line, kDone)) {
    mServerDone = true;
  } else if (mPhase != Phase::kIdle && mSocketError == 0 &&
             line.find(kSocketError) != std::string::npos) {
    mSocketError = static_cast<uint32_t>(
        std::strtoul(line.c_str() + line.find(kSocketError) + std::strlen(kSocketError), nullptr, 16));
    if (mPhase == Phase::kConnecting) TellConnectFailure();
  }
}

// A refused connection is known at once, while the library goes on waiting for its
// time-out: the user hears why now, with the time the next attempt is due.
void ConnectionReport::TellConnectFailure() {
  const double waited =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - mConnectStart).count();
  const int retry = static_cast<int>(
      std::lround(std::max(0.0, kNoticedAfterSeconds - waited) + kRetrySeconds));
  TellFailure("cannot connect to " + mServer + ": " + Reason("no answer"), retry);
}

std::string ConnectionReport::Reason(const char* silence) const {
  return mSocketError != 0 ? SocketErrorText(mSocketError) : silence;
}

// The library's stop state: the connection is closed, and a new one follows after a pause.
void ConnectionReport::Failed() {
  std::string text;
  switch (mPhase) {
    case Phase::kIdle: return;  // a stop state that followed one already told
    case Phase::kConnecting:
      // Told already when its socket error came: the same failure is told once.
      text = "cannot connect to " + mServer + ": " + Reason("no answer");
      break;
    case Phase::kHello:
      text = mLoginStatus != 0 ? "login refused: " + StatusText(mLoginStatus)
                               : "no answer to the login from " + mServer;
      break;
    case Phase::kLoggedIn:
      text = "connection to " + mServer + " lost: " +
             Reason(mTimedOut ? "no answer for 12 s" : "closed");
      break;
  }
  mPhase = Phase::kIdle;
  TellFailure(text, kRetrySeconds);
}

// A failure is told once while it repeats itself on every retry, whatever the wait.
void ConnectionReport::TellFailure(const std::string& failure, int retrySeconds) {
  if (failure == mLastFailure) return;
  mLastFailure = failure;
  Say(failure + "; retrying in " + std::to_string(retrySeconds) + " s", true);
}

void ConnectionReport::Say(const std::string& text, bool problem) {
  if (mOpen) {
    mTell(text, problem);
  } else {
    mHeld.emplace_back(text, problem);
  }
}

void ConnectionReport::Open() {
  std::lock_guard<std::mutex> lock(mMutex);
  mOpen = true;
  for (const auto& held : mHeld) mTell(held.first, held.second);
  mHeld.clear();
}

bool ConnectionReport::TakeServerDone() {
  std::lock_guard<std::mutex> lock(mMutex);
  const bool done = mServerDone;
  mServerDone = false;
  return done;
}

}  // namespace owgateway
