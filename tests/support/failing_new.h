// SPDX-License-Identifier: MIT
// Plain allocations that run out of memory. A test executable built with
// support/failing_new.cc has operator new throw std::bad_alloc when told to, as it does
// when memory is exhausted, to see what the code that catches it does. (Allocations with
// an outcome of their own are failed through the library's allocation hook instead.)
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
