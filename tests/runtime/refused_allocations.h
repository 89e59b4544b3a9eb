// SPDX-License-Identifier: MIT
// Memory running out where the checked allocators of runtime/alloc_hook.h are used: the
// first `allowed` allocations through the hook pass, every later one is refused.
#ifndef OWCLIENT_TESTS_RUNTIME_REFUSED_ALLOCATIONS_H
#define OWCLIENT_TESTS_RUNTIME_REFUSED_ALLOCATIONS_H

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "runtime/alloc_hook.h"
#include "support/log_capture.h"

namespace owc_test {

inline std::atomic<int> gAllocationsLeft{0};

// What act returns, run with `allowed` allocations let through.
template <class Act>
auto WithAllowed(int allowed, Act act) {
  gAllocationsLeft = allowed;
  owc::SetAllocHook([](size_t) { return gAllocationsLeft-- > 0; });
  auto result = act();
  owc::SetAllocHook(nullptr);
  return result;
}

// Each attempt, run with one of the `allowed` counts after `prepare` ran without refusals,
// must fail. Returns the failure lines (severity 0) that log took meanwhile, in order.
inline std::vector<std::string> FailuresWhenRefused(const LogCapture& log,
                                                    std::initializer_list<int> allowed,
                                                    const std::function<bool()>& attempt,
                                                    const std::function<void()>& prepare = {}) {
  const size_t before = log.Lines().size();
  for (int n : allowed) {
    if (prepare) prepare();
    EXPECT_FALSE(WithAllowed(n, attempt)) << n << " allocations allowed";
  }
  std::vector<std::string> failures;
  const auto lines = log.Lines();
  for (size_t i = before; i < lines.size(); ++i) {
    if (lines[i].severity == 0) failures.push_back(lines[i].text);
  }
  return failures;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_RUNTIME_REFUSED_ALLOCATIONS_H
