// SPDX-License-Identifier: MIT
// owgateway: runs the news gateway against a wire server and writes what arrives into a
// folder (see --help and owgateway(1)).
#include <string>

#include "cli.h"
#include "log_route.h"
#include "options.h"
#include "runner.h"
#include "server_address.h"
#include "signals.h"

namespace {

void OnLibraryLine(const std::string& line, int32_t severity, void* runner) {
  static_cast<owgateway::Runner*>(runner)->OnLibraryLine(line, severity);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace owgateway;
  Options options;
  const int parsed = ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;
  uint32_t address = 0;
  std::string error;
  switch (ResolveServer(options.serverHost, &address, &error)) {
    case Lookup::kFound: break;
    case Lookup::kNoSuchName: owtool::PrintError("owgateway", error); return kExitUsage;
    case Lookup::kFailed: owtool::PrintError("owgateway", error); return kExitFailed;
  }
  InstallSignals();
  Runner runner(options, address);
  owtool::RouteLibraryLog(options.verbosity > 1, &OnLibraryLine, &runner);
  const int status = runner.Run();
  owtool::UnrouteLibraryLog();
  return owtool::FinishStdout("owgateway", status);
}
