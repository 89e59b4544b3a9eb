// SPDX-License-Identifier: MIT
#include "connection_report.h"

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
  }
}

std::string ConnectionReport::Reason(const char* silence) const {
  return mSocketError != 0 ? SocketErrorText(mSocketError) : silence;
}

// The library's stop state: the connection is closed, and a new one follows after a pause.
void ConnectionReport::Failed() {
  const std::string retry = "; retrying in " + std::to_string(kRetrySeconds) + " s";
  std::string text;
  switch (mPhase) {
    case Phase::kIdle: return;  // a stop state that followed one already told
    case Phase::kConnecting:
      text = "cannot connect to " + mServer + ": " + Reason("no answer") + retry;
      break;
    case Phase::kHello:
      text = mLoginStatus != 0 ? "login refused: " + StatusText(mLoginStatus) + retry
                               : "no answer to the login from " + mServer + retry;
      break;
    case Phase::kLoggedIn:
      text = "connection to " + mServer + " lost: " +
             Reason(mTimedOut ? "no answer for 12 s" : "closed") + retry;
      break;
  }
  mPhase = Phase::kIdle;
  if (text == mLastFailure) return;
  mLastFailure = text;
  Say(text, true);
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
