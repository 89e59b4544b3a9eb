// SPDX-License-Identifier: MIT
// A test executable built with support/failing_new.cc has plain allocations throw
// std::bad_alloc when told to (checked ones are failed through the allocation hook).
#ifndef OWCLIENT_TESTS_SUPPORT_FAILING_NEW_H
#define OWCLIENT_TESTS_SUPPORT_FAILING_NEW_H

#include <cstddef>

namespace owc_test {

// The calling thread's next plain allocation of exactly `bytes` bytes throws.
void FailNextPlainAllocation(size_t bytes);
// Whether the calling thread's failure is still to come.
bool PlainFailurePending();

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_FAILING_NEW_H
