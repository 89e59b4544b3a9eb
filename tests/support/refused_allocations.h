// SPDX-License-Identifier: MIT
// Memory running out where the checked allocators of runtime/alloc_hook.h are used: the hook
// counts the checked allocations of a step and refuses the one numbered `refuse` (from 1),
// and with `rest` every one after it too.
#ifndef OWCLIENT_TESTS_SUPPORT_REFUSED_ALLOCATIONS_H
#define OWCLIENT_TESTS_SUPPORT_REFUSED_ALLOCATIONS_H

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "runtime/alloc_hook.h"
#include "support/log_capture.h"

namespace owc_test {

using Lines = std::vector<std::string>;

// Atomic: the refused step may allocate on the library's threads.
inline std::atomic<int> gSeen{0};  // checked allocations asked for since the step began
inline std::atomic<int> gRefuse{0};
inline std::atomic<bool> gRefuseRest{false};

inline bool RefusingHook(size_t) {
  const int seen = ++gSeen;
  return gRefuse == 0 || (gRefuseRest ? seen < gRefuse : seen != gRefuse);
}

// What act returns, run with the checked allocation `refuse` refused (and those after it
// when `rest`).
template <class Act>
auto WithRefused(int refuse, bool rest, Act act) {
  gSeen = 0;
  gRefuse = refuse;
  gRefuseRest = rest;
  owc::SetAllocHook(RefusingHook);
  auto result = act();
  owc::SetAllocHook(nullptr);
  return result;
}

// What act returns, run with the first `allowed` checked allocations let through.
template <class Act>
auto WithAllowed(int allowed, Act act) {
  return WithRefused(allowed + 1, true, act);
}

inline Lines Texts(const LogCapture& log) {
  Lines lines;
  for (const auto& line : log.Lines()) lines.push_back(line.text);
  return lines;
}

// The lines fn logged with the refusals of WithRefused; gSeen then holds how many fn asked for.
template <class Fn>
Lines Refusing(int refuse, bool rest, Fn fn) {
  LogCapture log;
  WithRefused(refuse, rest, [&] {
    fn();
    return true;
  });
  return Texts(log);
}

// A refused step logs `lines` and returns `ok`; run again without refusals, it succeeds.
template <class Step>
void ExpectRefusal(int refuse, bool rest, const Lines& lines, bool ok, Step step) {
  bool result = !ok;
  EXPECT_EQ(lines, Refusing(refuse, rest, [&] { result = step(); }));
  EXPECT_EQ(ok, result);
  EXPECT_TRUE(step());
}

// Each attempt, run with one of the `allowed` counts after `prepare` ran without refusals,
// must fail. Returns the failure lines (severity 0) that log took meanwhile, in order.
inline Lines FailuresWhenRefused(const LogCapture& log, std::initializer_list<int> allowed,
                                 const std::function<bool()>& attempt,
                                 const std::function<void()>& prepare = {}) {
  const size_t before = log.Lines().size();
  for (int n : allowed) {
    if (prepare) prepare();
    EXPECT_FALSE(WithAllowed(n, attempt)) << n << " allocations allowed";
  }
  Lines failures;
  const auto lines = log.Lines();
  for (size_t i = before; i < lines.size(); ++i) {
    if (lines[i].severity == 0) failures.push_back(lines[i].text);
  }
  return failures;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_REFUSED_ALLOCATIONS_H
