// SPDX-License-Identifier: MIT
// The signals owgateway answers. The first SIGINT or SIGTERM asks for a graceful stop (the
// main loop sees it and says so); a second one ends the process at once, from the handler,
// with status 1: what is on disk is whole at any moment, and the session file stays for
// the restart. SIGHUP, sent by log rotation and service reloads, never stops owgateway.
#ifndef OWGATEWAY_SIGNALS_H
#define OWGATEWAY_SIGNALS_H

namespace owgateway {

void InstallSignals();
// Whether SIGINT or SIGTERM came.
bool StopRequested();
// True once for each SIGHUP received since the last call.
bool TakeHangup();

}  // namespace owgateway

#endif  // OWGATEWAY_SIGNALS_H
