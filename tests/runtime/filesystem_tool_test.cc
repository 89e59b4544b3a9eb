#include "runtime/filesystem_tool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/temp_dir.h"

namespace {

bool IsFolder(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The singleton is process-wide, so one test drives it, with the local application data
// folder pointed into a temporary folder before first use.
TEST(FileSystemTool, FoldersLiveUnderTheLocalDataFolderAndAreCached) {
  owc_test::TempDir dir;
  setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
  owc::filesystemtool& tool = owc::filesystemtool::instance();

  // With both names empty the base folder is the data folder with a trailing separator,
  // and the logs folder its "logs" subfolder.
  std::string base, logs, app, temp;
  ASSERT_TRUE(tool.GetBaseFolder(base));
  EXPECT_EQ(dir.Path() + "/", base);
  ASSERT_TRUE(tool.GetLogsFolder(logs));
  EXPECT_EQ(dir.Path() + "//logs", logs);
  EXPECT_TRUE(IsFolder(logs));
  ASSERT_TRUE(tool.GetAppFolder(app));
  ASSERT_TRUE(tool.GetTempFolder(temp));
  EXPECT_EQ(app + "/temp", temp);
  EXPECT_TRUE(IsFolder(temp));
  EXPECT_EQ(tool.GetLogsFolder(), tool.GetLogsFolder());  // the same cached text
  EXPECT_STREQ(logs.c_str(), tool.GetLogsFolder());

  // A unique file in the temp folder is created empty with the "unq" prefix.
  std::string name;
  ASSERT_TRUE(tool.GetUniqueFileName("", name));
  EXPECT_EQ(temp + "/unq", name.substr(0, temp.size() + 4));
  EXPECT_EQ(0, access(name.c_str(), F_OK));
  std::string other;
  ASSERT_TRUE(tool.GetUniqueFileName(dir.Path(), other));
  EXPECT_NE(name, other);

  // A folder of 246 characters or more is refused without touching the disk.
  std::string tooLong(246, 'x');
  EXPECT_FALSE(tool.GetUniqueFileName("/" + tooLong.substr(1), name));
  EXPECT_TRUE(name.empty());
  unsetenv("XDG_DATA_HOME");
}

}  // namespace
