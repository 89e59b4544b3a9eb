// SPDX-License-Identifier: MIT
// The process's standard error, written without buffering: for the last words of a
// process about to end with _exit.
#ifndef OWCLIENT_PLATFORM_STANDARD_ERROR_H
#define OWCLIENT_PLATFORM_STANDARD_ERROR_H

namespace owc {

// Writes the text as it is; failure is ignored (there is nowhere left to report it).
void WriteStandardError(const char* text);

}  // namespace owc

#endif  // OWCLIENT_PLATFORM_STANDARD_ERROR_H
