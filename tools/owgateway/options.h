// Command line of owgateway.
#ifndef OWGATEWAY_OPTIONS_H_
#define OWGATEWAY_OPTIONS_H_

#include <cstdint>
#include <string>

#include "publish_options.h"

namespace owgateway {

struct Options {
  uint32_t server = 0;  // IPv4, host byte order
  std::string serverText;
  uint32_t mode = 0;
  std::string templateFile;
  std::string xlateFile;
  std::string outDir = "owgateway-out";
  uint64_t count = 0;          // stop after this many stories; 0 = run until a signal
  bool resumeGiven = false;
  uint32_t resumeId = 0;
  bool fresh = false;          // ignore the session kept in the folder
  bool sendDone = false;
  bool sync = true;            // fsync each file before the server counts it delivered
  uint32_t indexStories = 500; // stories listed in index.html
  bool strict = false;         // read stories as described: no reading options
  uint32_t progressSeconds = 5;
  uint32_t quietWarnSeconds = 300;  // warn when no file arrived for this long; 0 = never
  int verbosity = 1;           // 0 quiet, 1 normal, 2 every library log line
  std::string logFile;         // "" = no daily log files; "auto" = the library's own
  PublishSettings publish;
};

enum class ParseResult { kRun, kHelp, kVersion, kError };

ParseResult ParseOptions(int argc, char** argv, Options& options, std::string& error);
const char* HelpText();

}  // namespace owgateway

#endif  // OWGATEWAY_OPTIONS_H_
