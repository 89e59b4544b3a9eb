// SPDX-License-Identifier: MIT
#include "platform/standard_error.h"

#include <unistd.h>

#include <cstring>

namespace owc {

void WriteStandardError(const char* text) {
  ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

}  // namespace owc
