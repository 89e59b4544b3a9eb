// SPDX-License-Identifier: MIT
#include "runtime/trace_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/log_file.h"
#include "runtime/named_mutex.h"

namespace owc {

namespace {

// The trace state. The mutex is a function-local static so that it exists before any
// other static object logs, and outlives them.
struct TraceState {
  NamedMutex mtx{"::sMtxTraceCB"};
  TraceCallback callback OWC_GUARDED_BY(mtx) = nullptr;
  uintptr_t user OWC_GUARDED_BY(mtx) = 0;
  LogFile* log OWC_GUARDED_BY(mtx) = nullptr;
  // Read without the lock to skip formatting when nobody listens.
  std::atomic<bool> listening{false};
};

TraceState& State() {
  static TraceState* state = new TraceState;  // never destroyed: logging works at exit
  return *state;
}

void UpdateListening(TraceState& s) OWC_REQUIRES(s.mtx) {
  s.listening.store(s.callback != nullptr || s.log != nullptr, std::memory_order_release);
}

}  // namespace

int32_t SeverityOfLevel(uint32_t level) {
  if (level < 3000) return 0;
  if (level < 4000) return 1;
  return 2;
}

void TraceLog(uint32_t level, const char* text) {
  TraceState& s = State();
  NamedLock lock(s.mtx);
  if ((s.log == nullptr && s.callback == nullptr) || text == nullptr || *text == '\0') return;
  size_t length = std::strlen(text);
  if (text[length - 1] != '\n') {
    if (s.callback != nullptr) s.callback(text, SeverityOfLevel(level), s.user);
    if (s.log != nullptr) s.log->Write(level, text);
    return;
  }
  try {
    std::string copy(text, length - 1);
    if (s.callback != nullptr) s.callback(text, SeverityOfLevel(level), s.user);
    if (s.log != nullptr) s.log->Write(level, copy.c_str());
  } catch (...) {
    // Out of memory for the copy: the line is dropped, logging never throws.
  }
}

void TraceLogF(uint32_t level, const char* format, ...) {
  if (!State().listening.load(std::memory_order_acquire)) return;
  char small[512];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (n < 0) {
    va_end(again);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    va_end(again);
    TraceLog(level, small);
    return;
  }
  try {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&big[0], big.size(), format, again);
    va_end(again);
    TraceLog(level, big.c_str());
  } catch (...) {
    va_end(again);
  }
}

void TraceLogCut(uint32_t level, size_t maxChars, const char* format, ...) {
  char text[kMaxTraceCutChars + 1];
  size_t size = maxChars < kMaxTraceCutChars ? maxChars + 1 : sizeof text;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, size, format, args);
  va_end(args);
  if (n >= 0) TraceLog(level, text);
}

void SetTraceCallback(TraceCallback callback, uintptr_t user) {
  TraceState& s = State();
  NamedLock lock(s.mtx);
  s.callback = callback;
  s.user = user;
  UpdateListening(s);
}

void SetLogObject(LogFile* log) {
  TraceState& s = State();
  NamedLock lock(s.mtx);
  s.log = log;
  UpdateListening(s);
}

LogFile* GetLogObject() {
  TraceState& s = State();
  NamedLock lock(s.mtx);
  return s.log;
}

}  // namespace owc
