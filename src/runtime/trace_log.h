// SPDX-License-Identifier: MIT
// The one logging path of the module: every line goes to the application's trace
// callback (any level) and, below the log file's threshold, to the daily log files.
//
// Levels: lower is more important. Texts name "Class::Operation what happened"; a
// trailing "\n" reaches the callback as given and is dropped in the file.
#ifndef OWCLIENT_RUNTIME_TRACE_LOG_H
#define OWCLIENT_RUNTIME_TRACE_LOG_H

#include <cstddef>
#include <cstdint>

namespace owc {

constexpr uint32_t kLevelFailure = 2002;   // failures, slow application callbacks
constexpr uint32_t kLevelThread = 3002;    // start and end of the wire-client thread
constexpr uint32_t kLevelProgress = 4002;  // progress, states, messages, time-outs

using TraceCallback = void (*)(const char* text, int32_t severity, uintptr_t user);

class LogFile;

// Thread-safe; serialised by "::sMtxTraceCB", which is held across the callback, so
// the callback must not log through the module. Never throws, never reports failure.
void TraceLog(uint32_t level, const char* text);
// printf-style TraceLog; formats only when somebody listens.
void TraceLogF(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The longest text TraceLogCut keeps.
constexpr size_t kMaxTraceCutChars = 2047;
// printf-style TraceLog of at most maxChars characters (maxChars <= kMaxTraceCutChars),
// for lines that quote received data.
void TraceLogCut(uint32_t level, size_t maxChars, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Stores the callback and its user value under the trace lock; nullptr removes it.
void SetTraceCallback(TraceCallback callback, uintptr_t user);

// 0 below 3000, 1 below 4000, 2 from 4000.
int32_t SeverityOfLevel(uint32_t level);

// The module's log object (nullptr: none). Set by start-up, cleared by shut-down.
void SetLogObject(LogFile* log);
LogFile* GetLogObject();

}  // namespace owc

#endif  // OWCLIENT_RUNTIME_TRACE_LOG_H
