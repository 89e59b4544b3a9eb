// SPDX-License-Identifier: MIT
// What this machine charges for the wake-ups and round trips that the gateway cannot avoid,
// with no work around them: the floors under its idle and per-story CPU figures. On a
// virtual machine a thread woken from an idle processor can cost tens of microseconds, and
// that cost belongs to the machine, not to the code that sleeps.
#ifndef OWBENCH_MACHINE_FLOORS_H
#define OWBENCH_MACHINE_FLOORS_H

#include <string>

namespace owbench {

struct RoundTripFloor {
  double askerCpuUs = 0;   // CPU of the asking thread per round trip
  double answerCpuUs = 0;  // CPU of the answering thread per round trip
  double wallUs = 0;
};

// `count` round trips between two threads over a loopback TCP connection on `address`: a
// 45-byte request answered by a 30-byte message, each side waiting in poll() and reading
// without blocking, as the wire-client thread and the server do. A story costs the gateway
// four of them (file announcement, block, for each of its two files). With `askerSpinUs`,
// the asking thread first looks for the answer without blocking for up to that long, as the
// wire-client thread does for an answer it owes the server. All zero on failure.
RoundTripFloor MeasureRoundTrip(const std::string& address, int count, double askerSpinUs = 0);

// CPU of both threads per hand-off between two threads through a mutex and condition
// variable, each hand-off waking a thread that sleeps (the queue of blocks between the
// wire-client thread and the delivery thread): `count` hand-offs, in µs. 0 on failure.
double MeasureHandOffCpuUs(int count);

// Percent of one core spent by three threads that only wait as an idle connected gateway's
// threads do, for `seconds`: 100 timed waits a second (the session's pause), 40 polls of an
// idle socket (the wire client's) and 20 timed waits (the module clock).
double MeasureIdleWakeFloor(double seconds);

}  // namespace owbench

#endif  // OWBENCH_MACHINE_FLOORS_H
