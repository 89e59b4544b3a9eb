// SPDX-License-Identifier: MIT
#include "platform/paths.h"

#include <cerrno>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace owc {

namespace {

bool MakeOneFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0755) == 0) return true;
  if (errno != EEXIST) return false;
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool CreateFolderChain(const std::string& path) {
  if (path.empty()) return false;
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '/') continue;
    if (path[i - 1] == '/') continue;  // doubled separators name the same folder
    if (!MakeOneFolder(path.substr(0, i))) return false;
  }
  return true;
}

std::string LocalAppDataFolder() {
  std::string folder;
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && *xdg != '\0') {
    folder = xdg;
  } else {
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == '\0') return std::string();
    folder = std::string(home) + "/.local/share";
  }
  return CreateFolderChain(folder) ? folder : std::string();
}

std::string ExecutableFolder() {
  std::vector<char> buf(4096);
  ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  std::string exe(buf.data(), static_cast<size_t>(n));
  size_t slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

bool MakeUniqueFile(const std::string& folder, const std::string& prefix, std::string& name) {
  std::string pattern = folder + "/" + prefix + "XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  int fd = mkstemp(buf.data());
  if (fd < 0) return false;
  close(fd);
  name.assign(buf.data());
  return true;
}

}  // namespace owc
