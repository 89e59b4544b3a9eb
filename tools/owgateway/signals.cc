// SPDX-License-Identifier: MIT
#include "signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace owgateway {
namespace {

std::atomic<int> gStops{0};
std::atomic<bool> gHangup{false};

void OnStop(int) {
  if (gStops.fetch_add(1) == 0) return;
  static const char kLine[] =
      "owgateway: stopped at once; the session is kept, and a restart resumes it\n";
  if (write(STDERR_FILENO, kLine, sizeof kLine - 1) < 0) {
    // nothing left to do: the status says it
  }
  _exit(1);
}

void OnHangup(int) { gHangup = true; }

void Install(int signal, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallSignals() {
  Install(SIGINT, &OnStop);
  Install(SIGTERM, &OnStop);
  Install(SIGHUP, &OnHangup);
}

bool StopRequested() { return gStops.load() > 0; }

bool TakeHangup() { return gHangup.exchange(false); }

}  // namespace owgateway
