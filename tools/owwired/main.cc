// owwired: the reference news-wire server as a program. See `owwired --help`.
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>

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
  std::string error;
  switch (owwired::ParseCommandLine(argc, argv, &options, &error)) {
    case owwired::ParseOutcome::kHelp:
      std::fputs(owwired::HelpText().c_str(), stdout);
      return 0;
    case owwired::ParseOutcome::kError:
      std::fprintf(stderr, "owwired: %s\n", error.c_str());
      return 2;
    case owwired::ParseOutcome::kRun:
      break;
  }
  owwired::Server server(options);
  if (!server.Open(&error)) {
    std::fprintf(stderr, "owwired: %s\n", error.c_str());
    return 1;
  }
  g_server.store(&server);
  InstallSignalHandlers();
  server.Run();
  g_server.store(nullptr);
  return 0;
}
