// SPDX-License-Identifier: MIT
// A fresh folder under /tmp, removed with its contents at the end of the test.
#ifndef OWCLIENT_TESTS_SUPPORT_TEMP_DIR_H
#define OWCLIENT_TESTS_SUPPORT_TEMP_DIR_H

#include <ftw.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace owc_test {

class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/owclient-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) mPath = pattern;
  }
  ~TempDir() {
    if (!mPath.empty()) nftw(mPath.c_str(), &RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return mPath; }
  std::string File(const std::string& name) const { return mPath + "/" + name; }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  static void Write(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
  }

 private:
  static int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    return remove(path);
  }
  std::string mPath;
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_TEMP_DIR_H
