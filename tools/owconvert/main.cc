// owconvert: converts news stories to HTML through a template. See `owconvert --help`.
#include <cstdio>
#include <exception>
#include <string>

#include "commands.h"
#include "log_route.h"
#include "options.h"
#include "owclient/owclient.h"

int main(int argc, char** argv) {
  owconvert::Options options;
  std::string error;
  switch (owconvert::ParseCommandLine(argc, argv, &options, &error)) {
    case owconvert::ParseOutcome::kHelp:
      std::fputs(owconvert::HelpText().c_str(), stdout);
      return owconvert::kExitOk;
    case owconvert::ParseOutcome::kVersion:
      std::fputs(owconvert::VersionText().c_str(), stdout);
      return owconvert::kExitOk;
    case owconvert::ParseOutcome::kError:
      std::fprintf(stderr, "owconvert: %s\nTry 'owconvert --help'.\n", error.c_str());
      return owconvert::kExitUsage;
    case owconvert::ParseOutcome::kRun:
      break;
  }
  owconvert::RouteLibraryLog(options.verbose);
  // Stories as feeds send them (NITF namespaces, Latin-1, HTML entities) unless the
  // user asks for the documents to be read exactly as described.
  OBConvertSetReadOptions(options.strict ? 0 : OBCONVERT_READ_REAL_FEEDS);
  int status = owconvert::kExitFailed;
  try {
    status = owconvert::RunCommand(options);
  } catch (const std::exception& e) {  // thread creation or memory exhaustion
    std::fprintf(stderr, "owconvert: %s\n", e.what());
  }
  owconvert::UnrouteLibraryLog();
  return status;
}
