// SPDX-License-Identifier: MIT
// Captures the module's log lines through the trace callback for the life of the object.
#ifndef OWCLIENT_TESTS_SUPPORT_LOG_CAPTURE_H
#define OWCLIENT_TESTS_SUPPORT_LOG_CAPTURE_H

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "runtime/trace_log.h"

namespace owc_test {

class LogCapture {
 public:
  struct Line {
    std::string text;
    int32_t severity;
  };

  LogCapture() { owc::SetTraceCallback(&LogCapture::Callback, reinterpret_cast<uintptr_t>(this)); }
  ~LogCapture() { owc::SetTraceCallback(nullptr, 0); }

  std::vector<Line> Lines() const {
    std::lock_guard<std::mutex> lock(mMutex);
    return mLines;
  }
  // Whether a line equal to text, or containing part, was logged; how many contain part.
  bool Has(const std::string& text) const { return SeverityOf(text) >= 0; }
  bool HasPart(const std::string& part) const { return Count(part) != 0; }
  size_t Count(const std::string& part) const {
    std::lock_guard<std::mutex> lock(mMutex);
    size_t n = 0;
    for (const Line& l : mLines) n += l.text.find(part) != std::string::npos;
    return n;
  }
  // The severity of the first line equal to text; -1 when none is.
  int SeverityOf(const std::string& text) const {
    std::lock_guard<std::mutex> lock(mMutex);
    for (const Line& l : mLines)
      if (l.text == text) return l.severity;
    return -1;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mMutex);
    mLines.clear();
  }

 private:
  static void Callback(const char* text, int32_t severity, uintptr_t user) {
    auto* self = reinterpret_cast<LogCapture*>(user);
    std::lock_guard<std::mutex> lock(self->mMutex);
    self->mLines.push_back(Line{text, severity});
  }

  mutable std::mutex mMutex;
  std::vector<Line> mLines;
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_LOG_CAPTURE_H
