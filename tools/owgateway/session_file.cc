// SPDX-License-Identifier: MIT
#include "session_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace owgateway {

namespace {

// FNV-1a of the id's digits.
uint32_t Check(const std::string& digits) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : digits) hash = (hash ^ c) * 16777619u;
  return hash;
}

std::string CheckLine(const std::string& digits) {
  char line[32];
  std::snprintf(line, sizeof line, "check %08x\n", Check(digits));
  return line;
}

bool IsId(const std::string& digits, uint32_t& id) {
  if (digits.empty() || digits.size() > 10 || digits[0] == '0') return false;
  uint64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFull) return false;
  id = static_cast<uint32_t>(value);
  return true;
}

}  // namespace

std::string SessionText(uint32_t id) {
  const std::string digits = std::to_string(id);
  return digits + "\n" + CheckLine(digits);
}

// Earlier versions wrote the id alone with its newline; a cut can never add the newline,
// so that form is still taken.
SessionRead ParseSession(const std::string& text, uint32_t& id) {
  size_t newline = text.find('\n');
  if (newline == std::string::npos) return SessionRead::kUnreadable;
  const std::string digits = text.substr(0, newline);
  uint32_t value = 0;
  if (!IsId(digits, value)) return SessionRead::kUnreadable;
  const std::string rest = text.substr(newline + 1);
  if (!rest.empty() && rest != CheckLine(digits)) return SessionRead::kUnreadable;
  id = value;
  return SessionRead::kRead;
}

SessionRead ReadSessionFile(const std::string& path, uint32_t& id) {
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return errno == ENOENT ? SessionRead::kNone : SessionRead::kUnreadable;
  char buffer[64];
  std::string text;
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0 && text.size() < 256) {
    text.append(buffer, static_cast<size_t>(n));
  }
  close(fd);
  if (n < 0) return SessionRead::kUnreadable;
  return ParseSession(text, id);
}

void SessionKeeper::Loaded(uint32_t id) {
  std::lock_guard<std::mutex> lock(mMutex);
  mSaved = id;
}

bool SessionKeeper::Save(uint32_t id, std::string& error) {
  std::lock_guard<std::mutex> lock(mMutex);
  if (id == 0 || id == mSaved) return true;
  const std::string text = SessionText(id);
  if (!mFolder.WriteOwnFile(kSessionFile, text.data(), text.size(), true, error)) return false;
  mSaved = id;
  return true;
}

void SessionKeeper::Forget() {
  std::lock_guard<std::mutex> lock(mMutex);
  unlink(mFolder.FullPath(kSessionFile).c_str());
  mSaved = 0;
}

}  // namespace owgateway
