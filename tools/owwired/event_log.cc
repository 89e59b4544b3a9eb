// SPDX-License-Identifier: MIT
#include "event_log.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>

namespace owwired {
namespace {

std::string TimeStamp() {
  timeval now;
  ::gettimeofday(&now, nullptr);
  tm local;
  ::localtime_r(&now.tv_sec, &local);
  char text[32];
  std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                local.tm_sec, static_cast<int>(now.tv_usec / 1000));
  return text;
}

}  // namespace

void EventLog::Write(const char* prefix, const char* format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof(text), format, args);
  std::string line = std::string(prefix) + text;
  if (mSink) {
    mSink(line);
  } else {
    std::fprintf(stderr, "%s owwired: %s\n", TimeStamp().c_str(), line.c_str());
  }
}

void EventLog::Error(const char* format, ...) {
  va_list args;
  va_start(args, format);
  Write("error: ", format, args);
  va_end(args);
}

void EventLog::Event(const char* format, ...) {
  if (mVerbosity < 1) return;
  va_list args;
  va_start(args, format);
  Write("", format, args);
  va_end(args);
}

void EventLog::Detail(const char* format, ...) {
  if (mVerbosity < 2) return;
  va_list args;
  va_start(args, format);
  Write("", format, args);
  va_end(args);
}

std::string Printable(const char* data, size_t length, size_t limit) {
  std::string text;
  for (size_t i = 0; i < length && i < limit; ++i) {
    unsigned char c = static_cast<unsigned char>(data[i]);
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof(escaped), "\\x%02X", c);
      text += escaped;
    }
  }
  if (length > limit) text += "...";
  return text;
}

}  // namespace owwired
