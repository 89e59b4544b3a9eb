// SPDX-License-Identifier: MIT
#include "runtime/filesystem_tool.h"

#include <memory>
#include <mutex>
#include <stdexcept>

#include "platform/paths.h"
#include "runtime/alloc_hook.h"

namespace owc {

namespace {

// The names the singleton is created with; the module itself never sets them.
std::string& FirstLevelName() {
  static std::string name;
  return name;
}
std::string& SecondLevelName() {
  static std::string name;
  return name;
}
std::mutex& CreationMutex() {
  static std::mutex mutex;
  return mutex;
}
std::unique_ptr<filesystemtool>& Singleton() {
  static std::unique_ptr<filesystemtool> tool;
  return tool;
}

constexpr size_t kMaxUniqueFolder = 246;

}  // namespace

filesystemtool& filesystemtool::instance() {
  std::lock_guard<std::mutex> lock(CreationMutex());
  if (!Singleton()) {
    filesystemtool* tool = nullptr;
    if (!TryAllocate(sizeof(filesystemtool),
                     [&] { tool = new filesystemtool(SecondLevelName(), FirstLevelName()); })) {
      throw std::runtime_error("can't create the one and only filesystemtool object");
    }
    Singleton().reset(tool);
  }
  return *Singleton();
}

filesystemtool& filesystemtool::create(const std::string& secondLevel,
                                       const std::string& firstLevel) {
  try {
    {
      std::lock_guard<std::mutex> lock(CreationMutex());
      SecondLevelName() = secondLevel;
      FirstLevelName() = firstLevel;
    }
    return instance();
  } catch (...) {
    throw std::runtime_error("error creating filesystemtool!");
  }
}

filesystemtool::filesystemtool(const std::string& secondLevel, const std::string& firstLevel)
    : mFirstLevel(firstLevel), mSecondLevel(secondLevel) {
  std::string ignored;
  GetBaseFolder(ignored);
  GetAppFolder(ignored);
  GetLogsFolder(ignored);
  GetTempFolder(ignored);
}

// Forms parent + "/" + leaf and creates the folder chain. With an empty leaf the path
// ends in a separator, which names the parent folder itself.
bool filesystemtool::Compute(std::string& field, const std::string& parent,
                             const std::string& leaf) {
  if (!field.empty()) return true;
  std::string path = parent + "/" + leaf;
  if (!CreateFolderChain(path)) return false;
  field = path;
  return true;
}

bool filesystemtool::GetBaseFolder(std::string& folder) {
  if (mBaseFolder.empty()) {
    std::string appData = LocalAppDataFolder();
    if (appData.empty() || !Compute(mBaseFolder, appData, mFirstLevel)) {
      folder.clear();
      return false;
    }
  }
  folder = mBaseFolder;
  return true;
}

bool filesystemtool::GetAppFolder(std::string& folder) {
  std::string base;
  if (!GetBaseFolder(base) || !Compute(mAppFolder, base, mSecondLevel)) {
    folder.clear();
    return false;
  }
  folder = mAppFolder;
  return true;
}

bool filesystemtool::GetLogsFolder(std::string& folder) {
  std::string base;
  if (!GetBaseFolder(base) || !Compute(mLogsFolder, base, "logs")) {
    folder.clear();
    return false;
  }
  folder = mLogsFolder;
  return true;
}

bool filesystemtool::GetTempFolder(std::string& folder) {
  std::string app;
  if (!GetAppFolder(app) || !Compute(mTempFolder, app, "temp")) {
    folder.clear();
    return false;
  }
  folder = mTempFolder;
  return true;
}

const char* filesystemtool::GetBaseFolder() {
  std::string ignored;
  return GetBaseFolder(ignored) ? mBaseFolder.c_str() : nullptr;
}
const char* filesystemtool::GetAppFolder() {
  std::string ignored;
  return GetAppFolder(ignored) ? mAppFolder.c_str() : nullptr;
}
const char* filesystemtool::GetTempFolder() {
  std::string ignored;
  return GetTempFolder(ignored) ? mTempFolder.c_str() : nullptr;
}
const char* filesystemtool::GetLogsFolder() {
  std::string ignored;
  return GetLogsFolder(ignored) ? mLogsFolder.c_str() : nullptr;
}

bool filesystemtool::GetUniqueFileName(const std::string& folder, std::string& name) {
  std::string target = folder;
  if (target.empty() && !GetTempFolder(target)) {
    name.clear();
    return false;
  }
  if (target.size() >= kMaxUniqueFolder || !MakeUniqueFile(target, "unq", name)) {
    name.clear();
    return false;
  }
  return true;
}

}  // namespace owc
