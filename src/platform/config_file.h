// SPDX-License-Identifier: MIT
// The configuration file that stands in for the registry key
// "Software\Veltrane Corporation\Zarvix".
//
// Location: $OWCLIENT_CONFIG, else
// ${XDG_CONFIG_HOME:-$HOME/.config}/Veltrane Corporation/Zarvix.conf.
// Lines "Name = value": a decimal value is a 32-bit number (the registry's REG_DWORD),
// a value in double quotes a string (REG_SZ); '#' starts a comment. A missing file is a
// missing key; a malformed line is a missing value.
#ifndef OWCLIENT_PLATFORM_CONFIG_FILE_H
#define OWCLIENT_PLATFORM_CONFIG_FILE_H

#include <cstdint>
#include <map>
#include <string>

namespace owc {

class ConfigFile {
 public:
  // Reads the file at its standard location; Opened() tells whether it existed.
  static ConfigFile OpenDefault();
  static std::string DefaultPath();
  // Parses the given text (used for files and by tests).
  static ConfigFile FromText(const std::string& text);

  bool Opened() const { return mOpened; }
  // True when the name holds a number; value unchanged otherwise.
  bool GetNumber(const std::string& name, uint32_t& value) const;
  // True when the name holds a string; value unchanged otherwise.
  bool GetString(const std::string& name, std::string& value) const;

 private:
  struct Value {
    bool isNumber;
    uint32_t number;
    std::string text;
  };
  void ParseLine(const std::string& line);

  bool mOpened = false;
  std::map<std::string, Value> mValues;
};

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_CONFIG_FILE_H
