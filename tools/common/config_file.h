// SPDX-License-Identifier: MIT
// A tool's configuration file: the options of its command line, one a line, under their
// long names, so that a service runs with the options a person tries at the terminal.
//
//   # a comment; blank lines are skipped
//   server = wire.example.net:39030
//   mode 2
//   send-done
//
// "name = value" and "name value" both give a value (the rest of the line, blanks around
// it trimmed, one pair of double quotes around it removed); a bare name is an option
// without a value. Only long names count, without their leading "--".
#ifndef OWTOOL_CONFIG_FILE_H
#define OWTOOL_CONFIG_FILE_H

#include <cstddef>
#include <string>
#include <vector>

#include "cli.h"

namespace owtool {

struct ConfigSetting {
  size_t line;  // from 1
  const OptionSpec* option;
  std::string value;
  bool hasValue;
};

// Reads `text`, named `file` in messages, against `options` (each row may be used; rows
// whose id is in `refused` are options that make no sense in a file, such as --help).
// False with `error` set to "FILE:LINE: what is wrong" for the first line that names no
// option, or gives a value to an option that takes none, or none to one that needs it.
bool ParseConfig(const std::string& file, const std::string& text,
                 const std::vector<OptionSpec>& options, const std::vector<int>& refused,
                 std::vector<ConfigSetting>* settings, std::string* error);

}  // namespace owtool

#endif  // OWTOOL_CONFIG_FILE_H
