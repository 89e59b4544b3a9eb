// SPDX-License-Identifier: MIT
#include "machine_floors.h"

#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "bench_util.h"
#include "loopback.h"

namespace owbench {

namespace {

constexpr size_t kRequestBytes = 45;  // "+ACK <name> ..." and "RQST" messages are this small
constexpr size_t kAnswerBytes = 30;

// Looks at the socket without blocking, yielding between looks, for up to `spinUs`.
bool SpinForReadable(int fd, double spinUs) {
  const double end = WallSeconds() + spinUs * 1e-6;
  do {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 0) > 0) return true;
    sched_yield();
  } while (WallSeconds() < end);
  return false;
}

// Waits for the socket in poll(), first spinning for up to `spinUs`, then reads what is
// there without blocking, until `len` bytes have come.
bool PollAndRead(int fd, char* buf, size_t len, double spinUs = 0) {
  while (len > 0) {
    pollfd p{fd, POLLIN, 0};
    if (!(spinUs > 0 && SpinForReadable(fd, spinUs)) && poll(&p, 1, 1000) <= 0) return false;
    ssize_t got = recv(fd, buf, len, MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) continue;
    buf += got;
    len -= static_cast<size_t>(got);
  }
  return true;
}

// Waits on a condition variable that is never notified, `periodMs` at a time, until `end`.
double TimedWaits(uint32_t periodMs, double end) {
  std::mutex mutex;
  std::condition_variable never;
  const double cpu0 = ThreadCpuSeconds();
  while (WallSeconds() < end) {
    std::unique_lock<std::mutex> lock(mutex);
    never.wait_for(lock, std::chrono::milliseconds(periodMs));
  }
  return ThreadCpuSeconds() - cpu0;
}

// Polls an event and a quiet socket, `periodMs` at a time, until `end`.
double SocketPolls(uint32_t periodMs, double end) {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  const int event = eventfd(0, EFD_NONBLOCK);
  const double cpu0 = ThreadCpuSeconds();
  while (WallSeconds() < end) {
    pollfd fds[2] = {{event, POLLIN, 0}, {pair[0], POLLIN, 0}};
    poll(fds, 2, static_cast<int>(periodMs));
  }
  const double cpu = ThreadCpuSeconds() - cpu0;
  close(event);
  close(pair[0]);
  close(pair[1]);
  return cpu;
}

}  // namespace

RoundTripFloor MeasureRoundTrip(const std::string& address, int count, double askerSpinUs) {
  RoundTripFloor floor;
  sockaddr_in addr{};
  const int listener = ListenOn(address, &addr);
  if (listener < 0 || count <= 0) return floor;
  std::atomic<double> answerCpu{0};
  std::thread answerer([&] {
    const int fd = accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    SetNoDelay(fd);
    char request[kRequestBytes];
    const char answer[kAnswerBytes] = {};
    const double cpu0 = ThreadCpuSeconds();
    while (PollAndRead(fd, request, sizeof request) && WriteAll(fd, answer, sizeof answer)) {
    }
    answerCpu = ThreadCpuSeconds() - cpu0;
    close(fd);
  });
  const int fd = ConnectTo(addr);
  bool ok = fd >= 0;
  const char request[kRequestBytes] = {};
  char answer[kAnswerBytes];
  const double wall0 = WallSeconds();
  const double cpu0 = ThreadCpuSeconds();
  for (int i = 0; ok && i < count; ++i) {
    ok = WriteAll(fd, request, sizeof request) &&
         PollAndRead(fd, answer, sizeof answer, askerSpinUs);
  }
  const double askerCpu = ThreadCpuSeconds() - cpu0;
  const double wall = WallSeconds() - wall0;
  if (fd >= 0) shutdown(fd, SHUT_RDWR);
  if (!ok) shutdown(listener, SHUT_RDWR);  // an answerer still in accept() comes out
  answerer.join();
  if (fd >= 0) close(fd);
  close(listener);
  if (!ok) return floor;
  floor.askerCpuUs = askerCpu / count * 1e6;
  floor.answerCpuUs = answerCpu / count * 1e6;
  floor.wallUs = wall / count * 1e6;
  return floor;
}

double MeasureHandOffCpuUs(int count) {
  if (count <= 0) return 0;
  std::mutex mutex;
  std::condition_variable changed;
  int turn = 0;  // even: the first thread's, odd: the second's; count when done
  std::atomic<double> cpu{0};
  auto player = [&](int parity) {
    const double cpu0 = ThreadCpuSeconds();
    std::unique_lock<std::mutex> lock(mutex);
    while (turn < count) {
      changed.wait(lock, [&] { return turn >= count || turn % 2 == parity; });
      if (turn >= count) break;
      ++turn;
      lock.unlock();
      changed.notify_one();
      lock.lock();
    }
    cpu = cpu + (ThreadCpuSeconds() - cpu0);
  };
  std::thread first(player, 0);
  std::thread second(player, 1);
  first.join();
  second.join();
  return cpu / count * 1e6;
}

double MeasureIdleWakeFloor(double seconds) {
  const double start = WallSeconds();
  const double end = start + seconds;
  double session = 0, wire = 0, clock = 0;
  std::thread sessionLike([&] { session = TimedWaits(10, end); });
  std::thread wireLike([&] { wire = SocketPolls(25, end); });
  std::thread clockLike([&] { clock = TimedWaits(50, end); });
  sessionLike.join();
  wireLike.join();
  clockLike.join();
  return 100 * (session + wire + clock) / (WallSeconds() - start);
}

}  // namespace owbench
