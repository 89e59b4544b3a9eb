#include "log_route.h"

#include <unistd.h>

#include <cstring>

#include "owclient/owclient.h"

namespace owtool {
namespace {

thread_local std::string t_last_failure;

size_t LengthWithoutNewline(const char* text) {
  size_t len = std::strlen(text);
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
  return len;
}

// Runs with the library's trace lock held: it must not call into the library.
void OnLogLine(const char* text, int32_t severity, uintptr_t verbose) {
  if (text == nullptr) return;
  const size_t len = LengthWithoutNewline(text);
  if (verbose != 0) {
    const std::string line = "owclient: " + std::string(text, len) + "\n";
    if (::write(STDERR_FILENO, line.data(), line.size()) < 0) return;
  } else if (severity == 0) {
    t_last_failure.assign(text, len);
  }
}

}  // namespace

void RouteLibraryLog(bool verbose) { OrbrixWireSetLogCallback(OnLogLine, verbose ? 1 : 0); }

void UnrouteLibraryLog() { OrbrixWireSetLogCallback(nullptr, 0); }

std::string LastLibraryFailure() {
  std::string text;
  text.swap(t_last_failure);
  // "WCHTMLTemplate::SetTemplate reason": the first word names code, not the problem.
  const size_t space = text.find(' ');
  if (space != std::string::npos && text.find("::") < space) text.erase(0, space + 1);
  return text;
}

}  // namespace owtool
