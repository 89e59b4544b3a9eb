// SPDX-License-Identifier: MIT
#include "log_route.h"

#include <unistd.h>

#include <cstring>

#include "escape.h"
#include "owclient/owclient.h"

namespace owtool {
namespace {

struct Route {
  bool verbose = false;
  LibraryLineObserver observer = nullptr;
  void* user = nullptr;
};
Route g_route;  // set while no callback runs: before the route is installed, after removal

thread_local std::string t_last_failure;

size_t LengthWithoutNewline(const char* text) {
  size_t len = std::strlen(text);
  while (len > 0 && (text[len - 1] == '\n' || text[len - 1] == '\r')) --len;
  return len;
}

// Runs with the library's trace lock held: it must not call into the library.
void OnLogLine(const char* text, int32_t severity, uintptr_t user) {
  if (text == nullptr) return;
  const Route& route = *reinterpret_cast<const Route*>(user);
  const size_t len = LengthWithoutNewline(text);
  try {  // nothing may escape into the library's thread
    if (route.observer != nullptr) route.observer(std::string(text, len), severity, route.user);
    if (route.verbose) {
      const std::string line = "owclient: " + EscapeControls(std::string(text, len)) + "\n";
      if (::write(STDERR_FILENO, line.data(), line.size()) < 0) return;
    } else if (severity == 0) {
      t_last_failure.assign(text, len);
    }
  } catch (...) {  // out of memory: the line is lost
  }
}

}  // namespace

void RouteLibraryLog(bool verbose, LibraryLineObserver observer, void* user) {
  OrbrixWireSetLogCallback(nullptr, 0);
  g_route = Route{verbose, observer, user};
  OrbrixWireSetLogCallback(OnLogLine, reinterpret_cast<uintptr_t>(&g_route));
}

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
