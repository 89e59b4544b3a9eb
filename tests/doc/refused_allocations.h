// SPDX-License-Identifier: MIT
// Refuses the library's checked allocations through its hook while a step runs; shared by the
// out-of-memory tests of the document and the template.
#ifndef OWCLIENT_TESTS_DOC_REFUSED_ALLOCATIONS_H
#define OWCLIENT_TESTS_DOC_REFUSED_ALLOCATIONS_H

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "runtime/alloc_hook.h"
#include "support/log_capture.h"

namespace owc_test {

using Lines = std::vector<std::string>;

inline Lines Texts(const LogCapture& log) {
  Lines lines;
  for (const auto& line : log.Lines()) lines.push_back(line.text);
  return lines;
}

// Checked allocations seen so far; the one numbered gRefuse (from 1; 0: none) is refused, and
// with gRefuseRest every one after it too.
inline int gSeen = 0, gRefuse = 0;
inline bool gRefuseRest = false;
inline bool RefusingHook(size_t) {
  ++gSeen;
  return gRefuse == 0 || (gRefuseRest ? gSeen < gRefuse : gSeen != gRefuse);
}

// The lines fn logged with the checked allocation `refuse` refused (and those after it when
// `rest`); gSeen then holds how many fn asked for.
template <class Fn>
Lines Refusing(int refuse, bool rest, Fn fn) {
  LogCapture log;
  gSeen = 0;
  gRefuse = refuse;
  gRefuseRest = rest;
  owc::SetAllocHook(RefusingHook);
  fn();
  owc::SetAllocHook(nullptr);
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

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_DOC_REFUSED_ALLOCATIONS_H
