// SPDX-License-Identifier: MIT
#include "platform/wake_event.h"

#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>

namespace owc {

WakeEvent::WakeEvent() : mFd(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

WakeEvent::~WakeEvent() {
  if (mFd >= 0) close(mFd);
}

void WakeEvent::Set() {
  if (mFd < 0) return;
  uint64_t one = 1;
  ssize_t ignored = write(mFd, &one, sizeof one);
  (void)ignored;
}

void WakeEvent::Reset() {
  if (mFd < 0) return;
  uint64_t value;
  ssize_t ignored = read(mFd, &value, sizeof value);
  (void)ignored;
}

namespace {

std::vector<struct pollfd> PollSet(const WakeEvent& event, const std::vector<int>& sockets) {
  std::vector<struct pollfd> fds;
  fds.reserve(sockets.size() + 1);
  fds.push_back({event.Fd(), POLLIN, 0});
  for (int s : sockets) fds.push_back({s, POLLIN, 0});  // poll ignores negative fds
  return fds;
}

}  // namespace

// Each look is followed by a yield: the peer whose answer is awaited, or another thread of
// the process, may be waiting for this very processor. A look that came more than crowdedUs
// after the one before means that some other thread had the processor for a time slice, in
// the yield or by preemption: spinning on would only hand it the next one.
SpinOutcome SpinForEventOrReadable(const WakeEvent& event, const std::vector<int>& sockets,
                                   uint32_t spinUs, uint32_t crowdedUs) {
  using Clock = std::chrono::steady_clock;
  std::vector<struct pollfd> fds = PollSet(event, sockets);
  auto last = Clock::now();
  const auto end = last + std::chrono::microseconds(spinUs);
  for (;;) {
    if (poll(fds.data(), fds.size(), 0) > 0) return SpinOutcome::kReady;
    sched_yield();
    const auto now = Clock::now();
    if (now - last > std::chrono::microseconds(crowdedUs)) return SpinOutcome::kCrowded;
    if (now >= end) return SpinOutcome::kNothing;
    last = now;
  }
}

bool WaitForEventOrReadable(const WakeEvent& event, const std::vector<int>& sockets,
                            uint32_t timeoutMs) {
  std::vector<struct pollfd> fds = PollSet(event, sockets);
  int result;
  do {
    result = poll(fds.data(), fds.size(), static_cast<int>(timeoutMs));
  } while (result < 0 && errno == EINTR);
  return result > 0 && (fds[0].revents & POLLIN) != 0;
}

}  // namespace owc
