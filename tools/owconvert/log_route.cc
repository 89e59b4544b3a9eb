#include "log_route.h"

#include <cstdio>
#include <cstring>

#include "owclient/owclient.h"

namespace owconvert {
namespace {

// Runs with the library's trace lock held: it must not call into the library.
void OnLogLine(const char* text, int32_t severity, uintptr_t verbose) {
  if (text == nullptr || (severity != 0 && verbose == 0)) return;
  size_t len = std::strlen(text);
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
  std::fprintf(stderr, "owclient: %.*s\n", static_cast<int>(len), text);
}

}  // namespace

void RouteLibraryLog(bool verbose) { OrbrixWireSetLogCallback(OnLogLine, verbose ? 1 : 0); }

void UnrouteLibraryLog() { OrbrixWireSetLogCallback(nullptr, 0); }

}  // namespace owconvert
