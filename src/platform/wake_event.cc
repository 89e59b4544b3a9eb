// SPDX-License-Identifier: MIT
#include "platform/wake_event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
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

SpinOutcome SpinForEventOrReadable(const WakeEvent& event, const std::vector<int>& sockets,
                                   uint32_t spinUs, uint32_t crowdedUs) {
  std::vector<struct pollfd> fds = PollSet(event, sockets);
  return SpinUntil([&fds] { return poll(fds.data(), fds.size(), 0) > 0; }, spinUs, crowdedUs);
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
