#include "runtime/log_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>

#include "platform/config_file.h"
#include "runtime/log_config.h"
#include "runtime/trace_log.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using owc::CalendarTime;
using owc::LogFile;
using owc_test::TempDir;

// Monday 3 March 2025, 09:05:07.042 (weekday 1: file number 2).
CalendarTime Monday(int day = 3) { return CalendarTime{2025, 3, day, 9, 5, 7, 42, 1}; }

TEST(LogFile, WritesTheExactLineFormatIntoTheWeekdayFile) {
  TempDir dir;
  LogFile log(4000, true);
  log.SetFile(dir.Path(), "xmlwire");
  log.WriteAt(2002, "HOBWThread::ProcessStateAux TXRqst failed", Monday());
  std::string text = TempDir::Read(dir.File("xmlwire2.LOG"));
  std::regex line(R"(2025\.03\.03 09:05:07\.042 Thrd: [0-9]{4,} Lvl: 2002 )"
                  R"(HOBWThread::ProcessStateAux TXRqst failed\r\n)");
  EXPECT_TRUE(std::regex_match(text, line)) << text;
}

TEST(LogFile, AppendsOnTheSameDateAndTruncatesOnANewOne) {
  TempDir dir;
  LogFile log(4000, true);
  log.SetFile(dir.Path(), "ring");
  log.WriteAt(2002, "first", Monday(3));
  log.WriteAt(2002, "second", Monday(3));
  std::string sameDay = TempDir::Read(dir.File("ring2.LOG"));
  EXPECT_NE(std::string::npos, sameDay.find("first\r\n"));
  EXPECT_NE(std::string::npos, sameDay.find("second\r\n"));
  log.WriteAt(2002, "next week", Monday(10));
  std::string nextWeek = TempDir::Read(dir.File("ring2.LOG"));
  EXPECT_EQ(0u, nextWeek.find("2025.03.10"));
  EXPECT_EQ(std::string::npos, nextWeek.find("first"));
}

TEST(LogFile, LevelAtOrAboveTheThresholdIsNotWritten) {
  TempDir dir;
  LogFile log(4000, true);
  log.SetFile(dir.Path(), "lvl");
  log.WriteAt(4002, "progress", Monday());
  log.WriteAt(4000, "at threshold", Monday());
  EXPECT_EQ(-1, access(dir.File("lvl2.LOG").c_str(), F_OK));
  LogFile strict(1000, true);  // raised to 2000: even failures stay out
  EXPECT_EQ(2000u, strict.GetLevel());
}

TEST(LogFile, WithoutAFolderTheNameIsBaseUnderscoreTwoDigitDay) {
  LogFile log(4000, true);
  log.SetFile("", "xmlwire");
  EXPECT_EQ("xmlwire_02.log", log.FileNameFor(Monday()));
}

TEST(LogFile, SetFileCreatesTheFolderChainAndIgnoresAnEmptyBaseName) {
  TempDir dir;
  LogFile log(4000, true);
  std::string deep = dir.Path() + "/a/b/c";
  log.SetFile(deep, "");
  EXPECT_EQ(-1, access(deep.c_str(), F_OK));
  log.SetFile(deep, "x");
  log.WriteAt(2002, "deep", Monday());
  EXPECT_EQ(0, access((deep + "/x2.LOG").c_str(), F_OK));
}

TEST(LogConfig, ReadsLevelDaysAndInstallPath) {
  owc::ConfigFile cfg = owc::ConfigFile::FromText(
      "# comment\nLoggingLevel = 5000\nLoggingDays = 12\nInstallPath = \"/opt/zarvix\"  # here\n");
  owc::LogConfig rec = owc::LogConfig::Read(4000, cfg);
  EXPECT_EQ(5000u, rec.loggingLevel);
  EXPECT_EQ(12u, rec.loggingDays);
  EXPECT_EQ("/opt/zarvix/Logs", rec.logFolder);
}

TEST(LogConfig, OutOfRangeDaysAndWrongTypesAreIgnored) {
  for (const char* days : {"0", "31"}) {
    owc::ConfigFile cfg =
        owc::ConfigFile::FromText(std::string("LoggingDays = ") + days + "\nLoggingLevel = \"9\"\n");
    owc::LogConfig rec = owc::LogConfig::Read(4000, cfg);
    EXPECT_EQ(7u, rec.loggingDays);
    EXPECT_EQ(4000u, rec.loggingLevel);  // a string is not a number
  }
}

TEST(LogConfig, WithoutInstallPathTheFolderIsBesideTheExecutable) {
  owc::LogConfig rec = owc::LogConfig::Read(4000, owc::ConfigFile());
  ASSERT_GE(rec.logFolder.size(), 5u);
  EXPECT_EQ("/Logs", rec.logFolder.substr(rec.logFolder.size() - 5));
}

TEST(LogFile, ConstructorTakesTheLevelFromTheConfigurationFile) {
  TempDir dir;
  TempDir::Write(dir.File("Zarvix.conf"), "LoggingLevel = 1000\n");
  setenv("OWCLIENT_CONFIG", dir.File("Zarvix.conf").c_str(), 1);
  LogFile low(4000);
  TempDir::Write(dir.File("Zarvix.conf"), "LoggingLevel = 4500\n");
  LogFile high(4000);
  unsetenv("OWCLIENT_CONFIG");
  EXPECT_EQ(2000u, low.GetLevel());
  EXPECT_EQ(4500u, high.GetLevel());
}

TEST(TraceLog, CallbackGetsEveryLevelWhileTheFileKeepsThoseBelowTheThreshold) {
  TempDir dir;
  LogFile log(4000, true);
  log.SetFile(dir.Path(), "trace");
  owc::SetLogObject(&log);
  {
    owc_test::LogCapture capture;
    owc::TraceLog(2002, "abc\n");
    owc::TraceLog(3002, "thread line");
    owc::TraceLog(4002, "progress line\n");
    owc::TraceLog(2002, "");
    owc::TraceLog(2002, nullptr);
    auto lines = capture.Lines();
    ASSERT_EQ(3u, lines.size());
    EXPECT_EQ("abc\n", lines[0].text);
    EXPECT_EQ(0, lines[0].severity);
    EXPECT_EQ(1, lines[1].severity);
    EXPECT_EQ(2, lines[2].severity);
  }
  owc::SetLogObject(nullptr);
  std::string text = TempDir::Read(log.FileNameFor(owc::LocalCalendarNow()));
  EXPECT_NE(std::string::npos, text.find("Lvl: 2002 abc\r\n"));
  EXPECT_NE(std::string::npos, text.find("Lvl: 3002 thread line\r\n"));
  EXPECT_EQ(std::string::npos, text.find("progress line"));
}

TEST(TraceLog, FormattedLinesLongerThanTheStackBufferArriveWhole) {
  owc_test::LogCapture capture;
  std::string longText(3000, 'x');
  owc::TraceLogF(2002, "Big::Line %s end\n", longText.c_str());
  EXPECT_TRUE(capture.Has("Big::Line " + longText + " end\n"));
}

}  // namespace
