#include "gateway/gateway_log.h"

#include <cstdarg>
#include <cstdio>

#include "runtime/trace_log.h"

namespace owc {

void TraceLogCut(uint32_t level, size_t maxChars, const char* format, ...) {
  char text[kMaxStateLogChars + 1];
  size_t size = maxChars < kMaxStateLogChars ? maxChars + 1 : sizeof text;
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, size, format, args);
  va_end(args);
  if (n >= 0) TraceLog(level, text);
}

}  // namespace owc
