// SPDX-License-Identifier: MIT
// owwired: the reference news-wire server as a program. See `owwired --help`.
#include <signal.h>

#include <atomic>
#include <string>

#include "cli.h"
#include "options.h"
#include "server.h"

namespace {

std::atomic<owwired::Server*> g_server{nullptr};

void OnStopSignal(int) {
  owwired::Server* server = g_server.load();
  if (server != nullptr) server->RequestStop();
}

void InstallSignalHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
  owwired::Options options;
  const int parsed = owwired::ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;
  owwired::Server server(options);
  std::string error;
  if (!server.Open(&error)) {
    owtool::PrintError("owwired", error);
    return owtool::kExitFailed;
  }
  g_server.store(&server);
  InstallSignalHandlers();
  server.Run();
  g_server.store(nullptr);
  return 0;
}
