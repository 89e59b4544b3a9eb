// Routes the library's log lines for the life of the program. The library writes for its
// developers; a user sees its lines only on asking (-v) and otherwise one plain line from
// the tool.
#ifndef OWTOOL_LOG_ROUTE_H_
#define OWTOOL_LOG_ROUTE_H_

#include <string>

namespace owtool {

// With `verbose` every line goes to standard error as "owclient: text", each with one write
// so that lines of several threads do not mix. Without it nothing is shown, and the last
// failure line of each thread is kept for LastLibraryFailure.
void RouteLibraryLog(bool verbose);
// Removes the route; call before the program ends.
void UnrouteLibraryLog();

// The last failure the library logged on this thread since the previous call, without the
// name of the function that logged it ("unsupported version on line 1"); "" for none. Forgets
// it. Calls that run on the calling thread (the conversion calls) log there.
std::string LastLibraryFailure();

}  // namespace owtool

#endif  // OWTOOL_LOG_ROUTE_H_
