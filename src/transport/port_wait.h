// SPDX-License-Identifier: MIT
// Waiting on several TCP ports and a wake event at once, for the thread that drives the
// ports. The ports' sockets are noted by Watch while the caller keeps the ports alive
// (under its own lock); Wait needs no port, so a port may be closed and destroyed by
// another thread meanwhile.
#ifndef OWCLIENT_TRANSPORT_PORT_WAIT_H
#define OWCLIENT_TRANSPORT_PORT_WAIT_H

#include <cstdint>
#include <vector>

#include "platform/wake_event.h"
#include "transport/tcp_port.h"

namespace owc {

class PortWaitSet {
 public:
  // Forgets the watched ports.
  void Clear();
  // Adds a slot; nullptr or a closed port is a slot that is not watched.
  void Watch(const TCPPort* port);

  // Waits up to timeoutMs until the event is set or a watched port has bytes, an end of
  // stream or an error to report. True when the event was set.
  bool Wait(const WakeEvent& event, uint32_t timeoutMs);
  // Checks the same without blocking for up to spinUs (see SpinForEventOrReadable).
  SpinOutcome Spin(const WakeEvent& event, uint32_t spinUs, uint32_t crowdedUs);

 private:
  std::vector<int> mSockets;
};

}  // namespace owc

#endif  // OWCLIENT_TRANSPORT_PORT_WAIT_H
