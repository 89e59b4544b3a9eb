// SPDX-License-Identifier: MIT
#include "platform/config_file.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace owc {

namespace {

std::string Trim(const std::string& s) {
  const char* ws = " \t\r\n";
  size_t begin = s.find_first_not_of(ws);
  if (begin == std::string::npos) return std::string();
  size_t end = s.find_last_not_of(ws);
  return s.substr(begin, end - begin + 1);
}

// Strips a '#' comment that is not inside a quoted string.
std::string StripComment(const std::string& line) {
  bool quoted = false;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '"') quoted = !quoted;
    if (line[i] == '#' && !quoted) return line.substr(0, i);
  }
  return line;
}

bool ParseNumber(const std::string& text, uint32_t& out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || v > 0xFFFFFFFFull) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

std::string ConfigFile::DefaultPath() {
  const char* explicitPath = std::getenv("OWCLIENT_CONFIG");
  if (explicitPath != nullptr && *explicitPath != '\0') return explicitPath;
  std::string base;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg != '\0') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/Veltrane Corporation/Zarvix.conf";
}

ConfigFile ConfigFile::OpenDefault() {
  std::ifstream in(DefaultPath());
  if (!in) return ConfigFile();
  std::stringstream text;
  text << in.rdbuf();
  return FromText(text.str());
}

ConfigFile ConfigFile::FromText(const std::string& text) {
  ConfigFile config;
  config.mOpened = true;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) config.ParseLine(line);
  return config;
}

void ConfigFile::ParseLine(const std::string& raw) {
  std::string line = StripComment(raw);
  size_t eq = line.find('=');
  if (eq == std::string::npos) return;
  std::string name = Trim(line.substr(0, eq));
  std::string value = Trim(line.substr(eq + 1));
  if (name.empty()) return;
  Value parsed{false, 0, std::string()};
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    parsed.text = value.substr(1, value.size() - 2);
  } else if (ParseNumber(value, parsed.number)) {
    parsed.isNumber = true;
  } else {
    return;
  }
  mValues[name] = parsed;
}

bool ConfigFile::GetNumber(const std::string& name, uint32_t& value) const {
  auto it = mValues.find(name);
  if (it == mValues.end() || !it->second.isNumber) return false;
  value = it->second.number;
  return true;
}

bool ConfigFile::GetString(const std::string& name, std::string& value) const {
  auto it = mValues.find(name);
  if (it == mValues.end() || it->second.isNumber) return false;
  value = it->second.text;
  return true;
}

}  // namespace owc
