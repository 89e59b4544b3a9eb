// SPDX-License-Identifier: MIT
// The module's static objects and its start-up, shut-down and unload sequences.
//
// One Module per process, created on first use and never destroyed: at process exit
// (or when the shared library is unloaded) an unloader stops every thread the module
// runs, so no thread outlives the module, while a late call from another static
// destructor still finds valid, stopped objects.
//
// Start-up and shut-down run on the caller's thread and are not guarded against
// concurrent calls: the application calls them once each, from one thread.
#ifndef OWCLIENT_API_MODULE_H
#define OWCLIENT_API_MODULE_H

#include <cstdint>

#include "gateway/gateway_session.h"
#include "wire/client_thread.h"

namespace owc {

class LogFile;

class Module {
 public:
  static Module& Get();

  WCXMLGWClientThread& ClientThread() { return mClientThread; }
  // The module's one gateway session; it reaches the wire client through the exports.
  HOBWThread& Gateway() { return mGateway; }

  // logValue: 0 = no log file; UINTPTR_MAX or 0xFFFFFFFF = create and own the default
  // log file; anything else = a LogFile* the caller keeps owning. True when the clock
  // started.
  bool Startup(uintptr_t logValue);
  bool Shutdown();
  // Stops every thread, the gateway session first (it uses the wire client); runs once,
  // at exit or unload.
  void Unload();

 private:
  Module();
  void CreateOwnLog();
  void DropLog();

  WCXMLGWClientThread mClientThread;
  HOBWThread mGateway;
  LogFile* mLog = nullptr;
  bool mOwnsLog = false;
  bool mClockRunning = false;
};

}  // namespace owc

#endif  // OWCLIENT_API_MODULE_H
