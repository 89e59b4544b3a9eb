// SPDX-License-Identifier: MIT
// Routes the library's log lines for the life of the program. The library writes for its
// developers; a user sees its lines only on asking (-v) and otherwise one plain line from
// the tool.
#ifndef OWTOOL_LOG_ROUTE_H
#define OWTOOL_LOG_ROUTE_H

#include <cstdint>
#include <string>

namespace owtool {

// Sees every line (without its line break) before the route shows or drops it. Runs on the
// library's threads with its trace lock held: it must be quick and must not call into the
// library.
using LibraryLineObserver = void (*)(const std::string& line, int32_t severity, void* user);

// With `verbose` every line goes to standard error as "owclient: text", control characters
// shown as \xNN (lines quote what servers and files hold), each with one write so that
// lines of several threads do not mix. Without it nothing is shown, and the last failure
// line of each thread is kept for LastLibraryFailure. `observer`, when given, sees each line.
void RouteLibraryLog(bool verbose, LibraryLineObserver observer = nullptr, void* user = nullptr);
// Removes the route; call before the program ends.
void UnrouteLibraryLog();

// The last failure the library logged on this thread since the previous call, without the
// name of the function that logged it ("unsupported version on line 1"); "" for none. Forgets
// it. Calls that run on the calling thread (the conversion calls) log there.
std::string LastLibraryFailure();

}  // namespace owtool

#endif  // OWTOOL_LOG_ROUTE_H
