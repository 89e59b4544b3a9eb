// SPDX-License-Identifier: MIT
// The wire-client interface: thin exports over the module's client thread and logging.
// No exception crosses this boundary.
#include "api/module.h"
#include "owclient/owclient.h"
#include "owclient/wire_messages.h"
#include "runtime/trace_log.h"
#include "wire/client_connect.h"

using owc::Module;

extern "C" {

OWCLIENT_API uint8_t OrbrixWireStartup(uintptr_t logValue) {
  try {
    return Module::Get().Startup(logValue) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

OWCLIENT_API uint8_t OrbrixWireShutdown(void) {
  try {
    return Module::Get().Shutdown() ? 1 : 0;
  } catch (...) {
    return 1;
  }
}

OWCLIENT_API int32_t OrbrixWireOpen(uintptr_t* handle, uint32_t address, OrbrixWireRXCallback cb,
                                    uintptr_t user) {
  if (handle == nullptr) return 1;
  *handle = 0;
  try {
    *handle = Module::Get().ClientThread().Open(address, cb, user);
  } catch (...) {
    *handle = 0;
  }
  return *handle != 0 ? 0 : 1;
}

OWCLIENT_API int32_t OrbrixWireClose(uintptr_t handle) {
  try {
    Module::Get().ClientThread().Close(handle);
  } catch (...) {
  }
  return 0;
}

OWCLIENT_API int32_t OrbrixWireTXMsg(uintptr_t handle, WCXMLWireMsg* msg) {
  try {
    return Module::Get().ClientThread().TX(handle, msg);
  } catch (...) {
    return 3;
  }
}

OWCLIENT_API void OrbrixWireSetLogCallback(OrbrixWireLogCallback cb, uintptr_t user) {
  owc::SetTraceCallback(cb, user);
}

OWCLIENT_API void OrbrixWireSetServerPort(uint16_t port) {
  owc::WCOBWClientConnect::SetServerPort(port);
}

}  // extern "C"
