// SPDX-License-Identifier: MIT
#include "runtime/log_config.h"

#include "platform/config_file.h"
#include "platform/paths.h"

namespace owc {

LogConfig LogConfig::Read(uint32_t defaultLevel) {
  return Read(defaultLevel, ConfigFile::OpenDefault());
}

LogConfig LogConfig::Read(uint32_t defaultLevel, const ConfigFile& config) {
  LogConfig record{defaultLevel, 7, std::string()};
  if (config.Opened()) {
    uint32_t number = 0;
    if (config.GetNumber("LoggingLevel", number)) record.loggingLevel = number;
    if (config.GetNumber("LoggingDays", number) && number >= 1 && number <= 30) {
      record.loggingDays = number;
    }
    std::string installPath;
    if (config.GetString("InstallPath", installPath)) {
      // A short install path gets its "Logs" subfolder; a long one is cut and used as is.
      if (installPath.size() + 1 < 511) {
        record.logFolder = installPath + "/Logs";
      } else {
        record.logFolder = installPath.substr(0, kMaxFolder);
      }
    }
  }
  if (record.logFolder.empty()) {
    std::string exeFolder = ExecutableFolder();
    if (!exeFolder.empty()) record.logFolder = exeFolder + "/Logs";
  }
  return record;
}

}  // namespace owc
