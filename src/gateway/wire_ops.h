// SPDX-License-Identifier: MIT
// The wire-client functions through which the gateway session reaches the wire client:
// the same exported functions any application uses, plus two the module keeps to itself
// (holdRX, corkTX). The session holds them as plain function pointers so that the module
// wires in the exports and a test a fake.
#ifndef OWCLIENT_GATEWAY_WIRE_OPS_H
#define OWCLIENT_GATEWAY_WIRE_OPS_H

#include <cstdint>

#include "owclient/owclient.h"

namespace owc {

struct WireOps {
  // 0 = opened (*handle set), anything else = failed (*handle 0).
  int32_t (*open)(uintptr_t* handle, uint32_t address, OrbrixWireRXCallback cb, uintptr_t user);
  // 0 = the wire client took the message; otherwise the caller still owns it.
  int32_t (*txMsg)(uintptr_t handle, WCXMLWireMsg* msg);
  int32_t (*close)(uintptr_t handle);
  // Back-pressure: kHoldReading stops the delivery of received messages (and so, at the
  // wire client's bounds, the reading of the socket); kHoldSilence stops the receive
  // time-out. 0 releases both. May be null: the session then never holds its connection.
  void (*holdRX)(uintptr_t handle, uint32_t flags) = nullptr;
  // Corked, messages sent wait for the uncorking, which writes them together. May be null.
  void (*corkTX)(uintptr_t handle, bool cork) = nullptr;
};

constexpr uint32_t kHoldReading = 0x1u;
constexpr uint32_t kHoldSilence = 0x2u;

}  // namespace owc

#endif  // OWCLIENT_GATEWAY_WIRE_OPS_H
