// SPDX-License-Identifier: MIT
#include "transport/port_wait.h"

namespace owc {

void PortWaitSet::Clear() { mSockets.clear(); }

void PortWaitSet::Watch(const TCPPort* port) {
  mSockets.push_back(port != nullptr && port->IsOpen() ? port->GetSocket() : -1);
}

bool PortWaitSet::Wait(const WakeEvent& event, uint32_t timeoutMs) {
  return WaitForEventOrReadable(event, mSockets, timeoutMs);
}

SpinOutcome PortWaitSet::Spin(const WakeEvent& event, uint32_t spinUs, uint32_t crowdedUs) {
  return SpinForEventOrReadable(event, mSockets, spinUs, crowdedUs);
}

}  // namespace owc
