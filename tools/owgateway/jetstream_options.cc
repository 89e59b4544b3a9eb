// SPDX-License-Identifier: MIT
#include "jetstream_options.h"

namespace owgateway {

namespace {

std::string Trim(const std::string& s) {
  size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return "";
  size_t end = s.find_last_not_of(" \t");
  return s.substr(begin, end - begin + 1);
}

}  // namespace

bool ParsePublishUrls(const std::string& list, std::vector<std::string>& servers,
                      std::string& error) {
  servers.clear();
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string entry = Trim(list.substr(start, comma - start));
    start = comma + 1;
    if (entry.empty()) continue;
    if (entry.find("://") == std::string::npos) entry = "nats://" + entry;
    std::string rest = entry.substr(entry.find("://") + 3);
    size_t at = rest.rfind('@');  // user:password@host:port
    if (at != std::string::npos) rest = rest.substr(at + 1);
    if (rest.empty() || rest[0] == ':' || rest[0] == '/') {
      error = "no host in the NATS address \"" + entry + "\"";
      return false;
    }
    servers.push_back(entry);
  }
  if (servers.empty()) {
    error = "no NATS address given";
    return false;
  }
  return true;
}

}  // namespace owgateway
