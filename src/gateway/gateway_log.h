// Log lines of the gateway whose text includes received data: formatted, then cut.
#ifndef OWCLIENT_GATEWAY_GATEWAY_LOG_H
#define OWCLIENT_GATEWAY_GATEWAY_LOG_H

#include <cstddef>
#include <cstdint>

namespace owc {

// Longest texts, in characters, of the session's state-machine lines and of its
// received-message echo.
constexpr size_t kMaxStateLogChars = 2047;
constexpr size_t kMaxRXEchoChars = 1023;

// printf-style TraceLog of at most maxChars characters (maxChars <= 2047).
void TraceLogCut(uint32_t level, size_t maxChars, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

}  // namespace owc

#endif  // OWCLIENT_GATEWAY_GATEWAY_LOG_H
