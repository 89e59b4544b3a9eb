// SPDX-License-Identifier: MIT
#include "runtime/filesystem_tool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace owc_test {
namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The singleton is process-wide, so one test drives it, with the local application data
// folder pointed into a temporary folder before first use.
TEST(FileSystemToolTest, FoldersLiveUnderTheLocalDataFolderAndAreCached) {
  owc_test::TempDir dir;
  setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
  owc::filesystemtool& tool = owc::filesystemtool::instance();
  std::string base, logs, app, temp, name, other;
  ASSERT_TRUE(tool.GetBaseFolder(base) && tool.GetLogsFolder(logs));
  EXPECT_EQ(dir.Path() + "/", base);  // both names empty
  EXPECT_EQ(dir.Path() + "//logs", logs);
  ASSERT_TRUE(tool.GetAppFolder(app) && tool.GetTempFolder(temp));
  EXPECT_EQ(app + "/temp", temp);
  EXPECT_TRUE(IsFolder(logs) && IsFolder(temp));
  EXPECT_STREQ(logs.c_str(), tool.GetLogsFolder());
  ASSERT_TRUE(tool.GetUniqueFileName("", name));  // an empty file in the temp folder
  EXPECT_EQ(temp + "/unq", name.substr(0, temp.size() + 4));
  EXPECT_EQ(0, access(name.c_str(), F_OK));
  ASSERT_TRUE(tool.GetUniqueFileName(dir.Path(), other));
  EXPECT_NE(name, other);
  EXPECT_FALSE(tool.GetUniqueFileName("/" + std::string(245, 'x'), name));  // 246 characters
  EXPECT_TRUE(name.empty());
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
}  // namespace owc_test
