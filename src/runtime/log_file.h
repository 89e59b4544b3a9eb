// SPDX-License-Identifier: MIT
// A ring of seven daily log files, one per weekday ("<folder>/<base><n>.LOG", n = 1 for
// Sunday .. 7 for Saturday), each rewritten on the first line of a new date.
//
// Thread-safe: every Write takes "LogFile::mMtxLogFile" and opens and closes the file,
// so no handle stays open between lines. Failures drop the line silently.
#ifndef OWCLIENT_RUNTIME_LOG_FILE_H
#define OWCLIENT_RUNTIME_LOG_FILE_H

#include <cstdint>
#include <string>

#include "platform/platform_time.h"
#include "runtime/named_mutex.h"

namespace owc {

class LogFile {
 public:
  // Threshold from the configuration (default given), raised to 2000 when lower.
  explicit LogFile(uint32_t defaultLevel);
  // A fixed threshold, without reading the configuration.
  LogFile(uint32_t level, bool /*fixed*/);
  virtual ~LogFile() = default;

  // Ignored for an empty base name; creates the folder chain when one is given.
  void SetFile(const std::string& folder, const std::string& baseName);
  // Writes the line when level is below the threshold.
  void Write(uint32_t level, const char* text);
  // The same at a given local time (tests and Write share it).
  void WriteAt(uint32_t level, const char* text, const CalendarTime& now);

  uint32_t GetLevel() const { return mLevel; }
  std::string FileNameFor(const CalendarTime& now);

 private:
  std::string FileNameLocked(const CalendarTime& now) const OWC_REQUIRES(mMtxLogFile);

  NamedMutex mMtxLogFile{"LogFile::mMtxLogFile"};
  std::string mFolder OWC_GUARDED_BY(mMtxLogFile);
  std::string mBaseName OWC_GUARDED_BY(mMtxLogFile);
  uint32_t mLevel;
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_LOG_FILE_H
