// Routes the library's log lines to standard error for the life of the program.
#ifndef OWCONVERT_LOG_ROUTE_H_
#define OWCONVERT_LOG_ROUTE_H_

namespace owconvert {

// Failures (severity 0) are always shown; the other lines only when `verbose`. Lines
// arrive on whichever thread logs; each is written with one call, so lines of several
// threads do not mix.
void RouteLibraryLog(bool verbose);
// Removes the route; call before the program ends.
void UnrouteLibraryLog();

}  // namespace owconvert

#endif  // OWCONVERT_LOG_ROUTE_H_
