// SPDX-License-Identifier: MIT
// The gateway interface: thin exports over the module's one gateway session. No
// exception crosses this boundary. Start and stop must not overlap (the application
// serialises them); HOBWGetStats, HOBWDrain and the extension setters may be called at
// any time.
#include <atomic>

#include "api/module.h"
#include "gateway/gateway_session.h"
#include "owclient/owclient.h"

namespace {

owc::HOBWThread& ModuleGateway() { return owc::Module::Get().Gateway(); }

// Settings of the extensions, for the next start: they may be set while a session runs,
// whose threads read theirs without a lock.
std::atomic<uint32_t> gOptions{0};
std::atomic<uint32_t> gQueueLimit{0};

}  // namespace

using owc::HOBWThread;

extern "C" {

// Exported through its declaration in the public header.
const uint32_t OBW_HANDLE_INVALID = owc::kWireHandleInvalid;

OWCLIENT_API uint8_t HOBWStartWithTemplate(uint32_t address, HOBWCallback cb, uintptr_t user,
                                           uint32_t mode, const char* tmpl, uint32_t tmplLen,
                                           const char* xlate, uint32_t xlateLen, uint8_t resume,
                                           uint32_t sessionID) {
  if (cb == nullptr) return 0;
  try {
    HOBWThread& session = ModuleGateway();
    // A running session is stopped (without DONE) before the settings change: they are
    // read by its threads without a lock, and its shut-down clears the session id.
    session.SetShutdownParams(false);
    session.Stop(true);
    session.SetCallback(cb, user);
    if (!session.SetOutputMode(mode, tmpl, tmplLen, xlate, xlateLen)) return 0;
    session.SetServer(address);
    session.SetOptions(gOptions.load());
    session.SetQueueLimit(gQueueLimit.load());
    if (resume == 1) session.SetSession(sessionID);
    session.StartSession();  // a thread that cannot be created is not reported
    return 1;
  } catch (...) {
    return 0;
  }
}

OWCLIENT_API uint8_t HOBWStart(uint32_t address, HOBWCallback cb, uintptr_t user, uint8_t resume,
                               uint32_t sessionID) {
  return HOBWStartWithTemplate(address, cb, user, 0, nullptr, 0, nullptr, 0, resume, sessionID);
}

OWCLIENT_API uint8_t HOBWStop(uint8_t sendDone) {
  try {
    HOBWThread& session = ModuleGateway();
    session.SetShutdownParams(sendDone != 0);
    session.Stop(true);
  } catch (...) {
  }
  return 1;
}

OWCLIENT_API uint8_t HOBWGetStats(HOBWStats* stats) {
  if (stats == nullptr) return 0;
  try {
    ModuleGateway().GetStats(stats);
    return 1;
  } catch (...) {
    return 0;
  }
}

OWCLIENT_API void HOBWSetOptions(uint32_t options) { gOptions.store(options); }

OWCLIENT_API void HOBWSetQueueLimit(uint32_t maxBytes) { gQueueLimit.store(maxBytes); }

OWCLIENT_API void HOBWHoldRequests(uint8_t hold) {
  try {
    ModuleGateway().HoldRequests(hold != 0);
  } catch (...) {
  }
}

OWCLIENT_API int HOBWDrain(uint32_t timeoutMs) {
  try {
    return ModuleGateway().Drain(timeoutMs);
  } catch (...) {
    return 2;
  }
}

}  // extern "C"
