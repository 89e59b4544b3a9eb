// SPDX-License-Identifier: MIT
#include "runtime/log_file.h"

#include <cstdio>
#include <cstring>

#include "platform/append_file.h"
#include "platform/paths.h"
#include "platform/thread_id.h"
#include "runtime/log_config.h"

namespace owc {

namespace {

constexpr uint32_t kMinimumLevel = 2000;

// The line's fields are zero-padded by precision ("%.2d"), which is what the classic
// "%02.2d" forms print. Writes one formatted piece; pieces that do not fit 31 characters are left out.
template <class... Args>
void WritePiece(AppendFile& file, const char* format, Args... args) {
  char piece[32];
  int n = std::snprintf(piece, sizeof piece, format, args...);
  if (n >= 1 && n <= 31) file.Append(piece, static_cast<size_t>(n));
}

// Positions the file for today's line: a file that starts with another date is
// truncated, one that starts with today's is appended to. False when it cannot be read.
bool PrepareForToday(AppendFile& file, const CalendarTime& now) {
  char head[128];
  long got = file.Read(head, sizeof head);
  if (got < 0) return false;
  if (got == 0) return true;
  char today[16];
  std::snprintf(today, sizeof today, "%04d.%02d.%02d", now.year, now.month, now.day);
  if (got < 10 || std::memcmp(head, today, 10) != 0) {
    return file.Truncate();
  }
  return file.SeekToEnd();
}

}  // namespace

LogFile::LogFile(uint32_t defaultLevel) : mLevel(LogConfig::Read(defaultLevel).loggingLevel) {
  if (mLevel < kMinimumLevel) mLevel = kMinimumLevel;
}

LogFile::LogFile(uint32_t level, bool) : mLevel(level < kMinimumLevel ? kMinimumLevel : level) {}

void LogFile::SetFile(const std::string& folder, const std::string& baseName) {
  if (baseName.empty()) return;
  NamedLock lock(mMtxLogFile);
  mFolder = folder;
  mBaseName = baseName;
  if (!mFolder.empty()) CreateFolderChain(mFolder);
}

std::string LogFile::FileNameFor(const CalendarTime& now) {
  NamedLock lock(mMtxLogFile);
  return FileNameLocked(now);
}

std::string LogFile::FileNameLocked(const CalendarTime& now) const {
  char name[64];
  int dayNumber = now.weekday + 1;
  if (!mFolder.empty()) {
    std::snprintf(name, sizeof name, "%d.LOG", dayNumber);
    return mFolder + "/" + mBaseName + name;
  }
  std::snprintf(name, sizeof name, "_%.2d.log", dayNumber);
  return mBaseName + name;
}

void LogFile::Write(uint32_t level, const char* text) {
  if (level >= mLevel) return;
  WriteAt(level, text, LocalCalendarNow());
}

void LogFile::WriteAt(uint32_t level, const char* text, const CalendarTime& now) {
  if (level >= mLevel) return;
  NamedLock lock(mMtxLogFile);
  if (text == nullptr || *text == '\0' || mBaseName.empty()) return;
  AppendFile file(FileNameLocked(now));
  if (!file.IsOpen() || !PrepareForToday(file, now)) return;
  WritePiece(file, "%.4d.%.2d.%.2d %.2d:%.2d:%.2d.%03d ", now.year, now.month, now.day,
             now.hour, now.minute, now.second, now.millisecond);
  WritePiece(file, "Thrd: %.4d ", static_cast<int>(CurrentThreadId()));
  WritePiece(file, "Lvl: %.4d ", static_cast<int>(level));
  file.Append(text, std::strlen(text));
  file.Append("\r\n", 2);
}

}  // namespace owc
