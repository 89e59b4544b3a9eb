// SPDX-License-Identifier: MIT
// Where the module keeps its files: under the local application data folder, a base
// folder (first-level name), an application folder below it (second-level name), its
// "temp" folder, and the base folder's "logs" folder. Each folder is created when first
// computed and the result cached; a failed computation leaves the field empty, so a
// later call tries again.
//
// One process-wide instance. Its creation is guarded; afterwards the getters only read
// cached fields (all folders are computed at construction).
#ifndef OWCLIENT_RUNTIME_FILESYSTEM_TOOL_H
#define OWCLIENT_RUNTIME_FILESYSTEM_TOOL_H

#include <string>

namespace owc {

// The described name of this class and of its two factories, kept as given.
class filesystemtool {  // NOLINT(readability-identifier-naming)
 public:
  // The singleton, created on first use from the names given to create (empty unless
  // create was called). Throws std::runtime_error when it cannot be created.
  static filesystemtool& instance();  // NOLINT(readability-identifier-naming)
  // Stores the names for the singleton's creation, then instance(). Throws
  // std::runtime_error("error creating filesystemtool!") on failure.
  // NOLINTNEXTLINE(readability-identifier-naming)
  static filesystemtool& create(const std::string& secondLevel, const std::string& firstLevel);

  virtual ~filesystemtool() = default;

  bool GetBaseFolder(std::string& folder);
  bool GetAppFolder(std::string& folder);
  bool GetTempFolder(std::string& folder);
  bool GetLogsFolder(std::string& folder);
  // The cached text, or nullptr on failure.
  const char* GetBaseFolder();
  const char* GetAppFolder();
  const char* GetTempFolder();
  const char* GetLogsFolder();

  // Creates an empty file with a unique name ("unq" prefix) in folder (empty: the temp
  // folder). False for a folder of 246 characters or more.
  bool GetUniqueFileName(const std::string& folder, std::string& name);

 private:
  filesystemtool(const std::string& secondLevel, const std::string& firstLevel);
  bool Compute(std::string& field, const std::string& parent, const std::string& leaf);

  std::string mFirstLevel;
  std::string mSecondLevel;
  std::string mBaseFolder;
  std::string mAppFolder;
  std::string mTempFolder;
  std::string mLogsFolder;
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_FILESYSTEM_TOOL_H
