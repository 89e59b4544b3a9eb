// SPDX-License-Identifier: MIT
#include "samples.h"

#include <unistd.h>

#include <climits>
#include <vector>

namespace owgateway {
namespace {

bool Readable(const std::string& path) { return access(path.c_str(), R_OK) == 0; }

// The folder of the running program, "" when /proc does not say.
std::string ProgramFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return "";
  const std::string exe(path, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/'));
}

}  // namespace

bool FindSamples(Samples* found, std::string* searched) {
  std::vector<std::string> folders;
  const std::string program = ProgramFolder();
  if (!program.empty()) folders.push_back(program + "/" OWGATEWAY_BIN_TO_SAMPLES);
  folders.push_back(OWGATEWAY_SAMPLE_DIR);
  folders.push_back(OWGATEWAY_SOURCE_SAMPLES);
  searched->clear();
  for (const std::string& folder : folders) {
    if (Readable(folder + "/story.tmpl")) {
      found->tmpl = folder + "/story.tmpl";
      found->xlate = Readable(folder + "/story.xlate") ? folder + "/story.xlate" : "";
      return true;
    }
    *searched += (searched->empty() ? "" : ", ") + folder;
  }
  return false;
}

}  // namespace owgateway
