// SPDX-License-Identifier: MIT
// Run-time facts about the library: its version and the text of a result code. Both
// hand out static strings and cannot fail, so there is nothing to guard.
#include "owclient/owclient.h"

#ifndef OWCLIENT_BUILD_VERSION
#error "the build gives the project version as OWCLIENT_BUILD_VERSION"
#endif

namespace {

// The header's macros are written by hand; the build's version is the truth. A release
// that bumps one and not the other fails to compile here.
constexpr bool SameVersion(const char* a, const char* b) {
  return *a == *b && (*a == '\0' || SameVersion(a + 1, b + 1));
}
#define OWC_STR2(x) #x
#define OWC_STR(x) OWC_STR2(x)
static_assert(SameVersion(OWCLIENT_BUILD_VERSION,
                          OWC_STR(OWCLIENT_VERSION_MAJOR) "." OWC_STR(OWCLIENT_VERSION_MINOR) "." OWC_STR(
                              OWCLIENT_VERSION_PATCH)),
              "OWCLIENT_VERSION_* in owclient.h differ from the project version");

// OwclientResultText gives one text per number for both 32-bit families.
static_assert(int{OWC_WIRE_OK} == int{OWC_CONVERT_OK} &&
                  int{OWC_WIRE_NO_CONNECTION} == int{OWC_CONVERT_BAD_HANDLE},
              "0 and 2 mean the same in both code families");

}  // namespace

extern "C" {

OWCLIENT_API const char* OwclientVersion(void) { return OWCLIENT_BUILD_VERSION; }

// One text per number, right for the conversion and the wire family alike.
OWCLIENT_API const char* OwclientResultText(int code) {
  switch (code) {
    case OWC_CONVERT_OK:
      return "success";
    case OWC_CONVERT_FAILED:
      return "failed: a required argument is missing, or the operation or connection failed";
    case OWC_CONVERT_BAD_HANDLE:
      return "null handle: no environment, object or connection given";
    case OWC_CONVERT_NO_MEMORY:
      return "out of memory: nothing created, or the message not queued";
    default:
      return "unknown result code";
  }
}

}  // extern "C"
