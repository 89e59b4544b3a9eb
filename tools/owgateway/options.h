// SPDX-License-Identifier: MIT
// The command line of owgateway (and its configuration file, which takes the same long
// names): what to receive from which server, into which folder, and how to report it.
// Filled by ParseCommandLine; nothing here touches a file or the network.
#ifndef OWGATEWAY_OPTIONS_H
#define OWGATEWAY_OPTIONS_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cli.h"
#include "publish_options.h"

namespace owgateway {

using owtool::kExitFailed;
using owtool::kExitOk;
using owtool::kExitUsage;

constexpr uint16_t kDefaultPort = 39030;

struct Options {
  std::string serverHost;  // a name or a dotted IPv4 address, resolved at the start
  uint16_t serverPort = kDefaultPort;
  uint32_t mode = 0;
  std::string templateFile;  // empty in modes 1 and 2: the installed sample
  std::string xlateFile;
  std::string outDir = "owgateway-out";
  uint64_t count = 0;  // stop after this many stories; 0 = run until a signal
  bool resumeGiven = false;
  uint32_t resumeId = 0;
  bool fresh = false;  // ignore the session kept in the folder
  bool sendDone = false;
  bool sync = true;             // fsync each file before the server counts it delivered
  uint32_t indexStories = 500;  // stories listed in index.html
  bool strict = false;          // read stories as described: no reading options
  uint32_t progressSeconds = 5;
  uint32_t quietWarnSeconds = 300;  // warn when no file arrived for this long; 0 = never
  int verbosity = 1;                // 0 quiet, 1 normal, 2 every library log line
  bool logFile = false;             // the library's daily log files
  PublishSettings publish;          // --publish and its companions

  // "HOST:PORT", as messages name the server.
  std::string ServerText() const { return serverHost + ":" + std::to_string(serverPort); }
};

// A group of rows of the option table with what applies them. Ids are unique over all
// groups; a group's apply sees only its own ids. A feature with options of its own adds
// its group in OptionGroups (options.cc).
struct OptionGroup {
  std::vector<owtool::OptionSpec> rows;
  std::function<bool(int id, const char* value, Options* options, std::string* error)> apply;
};
std::vector<OptionGroup> OptionGroups();

// Parses and checks the command line and the configuration file it names. Returns -1 when
// owgateway is to run, or the exit status after --help, --version or a usage error (all
// answered here).
int ParseCommandLine(int argc, char** argv, Options* options);

// "HOST[:PORT]" into its parts; false with `error` for an empty host, a bad port or an
// IPv6 address.
bool ParseServer(const std::string& text, std::string* host, uint16_t* port, std::string* error);

// The text of --help above and below the option table.
std::string UsageText();
std::string EpilogueText();

}  // namespace owgateway

#endif  // OWGATEWAY_OPTIONS_H
