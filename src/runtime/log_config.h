// SPDX-License-Identifier: MIT
// The logging configuration record, read from the configuration file.
#ifndef OWCLIENT_RUNTIME_LOG_CONFIG_H
#define OWCLIENT_RUNTIME_LOG_CONFIG_H

#include <cstdint>
#include <string>

namespace owc {

class ConfigFile;

struct LogConfig {
  static constexpr size_t kMaxFolder = 520;

  uint32_t loggingLevel;
  uint32_t loggingDays;  // 1..30; the writer keeps its ring of seven regardless
  std::string logFolder;

  // Reads "LoggingLevel", "LoggingDays" and "InstallPath" from the standard file.
  static LogConfig Read(uint32_t defaultLevel);
  // The same rules over an already opened configuration (tests give their own).
  static LogConfig Read(uint32_t defaultLevel, const ConfigFile& config);
};

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_LOG_CONFIG_H
