// SPDX-License-Identifier: MIT
#include "runtime/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>

#include "platform/config_file.h"
#include "runtime/log_config.h"
#include "support/temp_dir.h"

namespace owc_test {
namespace {

using owc::LogFile;

// Monday 3 March 2025, 09:05:07.042 (weekday 1: file number 2).
owc::CalendarTime Monday(int day = 3) { return owc::CalendarTime{2025, 3, day, 9, 5, 7, 42, 1}; }

std::string Line(const std::string& date, const std::string& text) {
  return date + R"( 09:05:07\.042 Thrd: [0-9]{4,} Lvl: 2002 )" + text + "\r\n";
}

TEST(LogFileTest, LinesGoToTheWeekdayFileWhichANewDateRewrites) {
  TempDir dir;
  LogFile log(4000, true);
  log.SetFile(dir.Path(), "xmlwire");
  log.WriteAt(2002, "HOBWThread::ProcessStateAux TXRqst failed", Monday());
  log.WriteAt(2002, "second", Monday());
  std::string text = TempDir::Read(dir.File("xmlwire2.LOG"));
  EXPECT_TRUE(std::regex_match(
      text, std::regex(Line(R"(2025\.03\.03)", "HOBWThread::ProcessStateAux TXRqst failed") +
                       Line(R"(2025\.03\.03)", "second"))))
      << text;
  log.WriteAt(2002, "next week", Monday(10));
  text = TempDir::Read(dir.File("xmlwire2.LOG"));
  EXPECT_TRUE(std::regex_match(text, std::regex(Line(R"(2025\.03\.10)", "next week")))) << text;
  owc::CalendarTime saturday = Monday(8);
  saturday.weekday = 6;  // Sunday is 0: file 1
  EXPECT_EQ(dir.File("xmlwire7.LOG"), log.FileNameFor(saturday));
  log.SetFile("", "xmlwire");  // without a folder
  EXPECT_EQ("xmlwire_02.log", log.FileNameFor(Monday()));
}

TEST(LogFileTest, OnlyLevelsBelowTheThresholdAreWrittenIntoACreatedFolderChain) {
  TempDir dir;
  LogFile log(4000, true);
  std::string deep = dir.Path() + "/a/b/c";
  log.SetFile(deep, "");  // ignored without a base name
  EXPECT_NE(0, access(deep.c_str(), F_OK));
  log.SetFile(deep, "x");
  log.WriteAt(4000, "at the threshold", Monday());
  EXPECT_NE(0, access((deep + "/x2.LOG").c_str(), F_OK));
  log.WriteAt(3999, "below", Monday());
  EXPECT_EQ(0, access((deep + "/x2.LOG").c_str(), F_OK));
  EXPECT_EQ(2000u, LogFile(1000, true).GetLevel());  // raised: failures are always written
}

// The configuration file stands in for the registry: numbers only where numbers belong,
// days outside 1-30 ignored, the log folder under the install path or beside the program.
TEST(LogConfigTest, ReadsTheConfigurationFileAndIgnoresWhatIsOutOfRange) {
  owc::LogConfig rec = owc::LogConfig::Read(
      4000, owc::ConfigFile::FromText("# comment\nLoggingLevel = 5000\nLoggingDays = 12\n"
                                      "InstallPath = \"/opt/zarvix\"  # here\n"));
  EXPECT_EQ(5000u, rec.loggingLevel);
  EXPECT_EQ(12u, rec.loggingDays);
  EXPECT_EQ("/opt/zarvix/Logs", rec.logFolder);
  rec = owc::LogConfig::Read(4000,
                             owc::ConfigFile::FromText("LoggingDays = 31\nLoggingLevel = \"9\"\n"));
  EXPECT_EQ(7u, rec.loggingDays);
  EXPECT_EQ(4000u, rec.loggingLevel);  // a string is not a number
  ASSERT_GE(rec.logFolder.size(), 5u);
  EXPECT_EQ("/Logs", rec.logFolder.substr(rec.logFolder.size() - 5));

  TempDir dir;
  TempDir::Write(dir.File("Zarvix.conf"), "LoggingLevel = 4500\n");
  setenv("OWCLIENT_CONFIG", dir.File("Zarvix.conf").c_str(), 1);
  LogFile configured(4000);
  unsetenv("OWCLIENT_CONFIG");
  EXPECT_EQ(4500u, configured.GetLevel());
}

}  // namespace
}  // namespace owc_test
