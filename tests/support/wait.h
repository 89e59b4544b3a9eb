// SPDX-License-Identifier: MIT
// Waits for what another thread or process does. The deadline is a safety net for a hang,
// never a timing: time-outs of the library are tested by moving its clock.
#ifndef OWCLIENT_TESTS_SUPPORT_WAIT_H
#define OWCLIENT_TESTS_SUPPORT_WAIT_H

#include <chrono>
#include <functional>
#include <thread>

namespace owc_test {

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 15000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_WAIT_H
