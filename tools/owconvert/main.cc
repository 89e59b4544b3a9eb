// SPDX-License-Identifier: MIT
// owconvert: converts news stories to HTML through a template. See `owconvert --help`.
#include <exception>
#include <string>

#include "cli.h"
#include "commands.h"
#include "log_route.h"
#include "options.h"
#include "owclient/owclient.h"

int main(int argc, char** argv) {
  owconvert::Options options;
  const int parsed = owconvert::ParseCommandLine(argc, argv, &options);
  if (parsed >= 0) return parsed;
  owtool::RouteLibraryLog(options.verbose);
  // Stories as feeds send them (NITF namespaces, Latin-1, HTML entities) unless the
  // user asks for the documents to be read exactly as described.
  OBConvertSetReadOptions(options.strict ? 0 : OBCONVERT_READ_REAL_FEEDS);
  int status = owconvert::kExitFailed;
  try {
    status = owconvert::RunCommand(options);
  } catch (const std::exception& e) {  // thread creation or memory exhaustion
    owtool::PrintError("owconvert", e.what());
  }
  owtool::UnrouteLibraryLog();
  return owtool::FinishStdout("owconvert", status);
}
