// SPDX-License-Identifier: MIT
// Helpers shared by the fuzz targets. Each target is built twice: as a libFuzzer binary
// (clang, fuzz/CMakeLists.txt) and as a replay program with replay_main.cc that runs
// every stored input as a regression test of the normal suite (fuzz/replay/).
#ifndef OWCLIENT_FUZZ_FUZZ_SUPPORT_H
#define OWCLIENT_FUZZ_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/trace_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace owc_fuzz {

// An invariant of the code under test. Active in every build type (assert is not: the
// replay runs in release builds too); a broken one aborts, which both libFuzzer and
// ctest report as a failure.
#define FUZZ_CHECK(cond)                                                                \
  do {                                                                                  \
    if (!(cond)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                     \
    }                                                                                   \
  } while (0)

// Takes every log line and reads it whole, so that the formatting of each message runs
// (and the sanitizers see its arguments) without filling the console.
inline void ConsumeLogLine(const char* text, int32_t /*severity*/, uintptr_t user) {
  *reinterpret_cast<size_t*>(user) += std::strlen(text);
}

inline void InstallLogSink() {
  static size_t logged = 0;
  owc::SetTraceCallback(&ConsumeLogLine, reinterpret_cast<uintptr_t>(&logged));
}

// The whole content of a file below the source tree (the example stories, template and
// table); aborts when it is missing, since every later check would be meaningless.
inline std::string ReadSourceFile(const char* relative) {
  std::string path = std::string(OWCLIENT_SOURCE_DIR) + "/" + relative;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    std::abort();
  }
  std::string bytes;
  char chunk[4096];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, got);
  std::fclose(file);
  return bytes;
}

// Cuts an input into the pieces a target needs, front to back.
class InputReader {
 public:
  InputReader(const uint8_t* data, size_t size)
      : mText(reinterpret_cast<const char*>(data), size) {}

  bool Empty() const { return mText.empty(); }
  // The next byte, or 0 at the end.
  uint8_t Byte() {
    if (mText.empty()) return 0;
    uint8_t b = static_cast<uint8_t>(mText[0]);
    mText.remove_prefix(1);
    return b;
  }
  // The next two bytes as a big-endian number, 0 at the end.
  uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
  // The text up to the next NUL (consumed) or the rest.
  std::string_view Section() {
    size_t nul = mText.find('\0');
    std::string_view piece = mText.substr(0, nul);
    mText.remove_prefix(nul == std::string_view::npos ? mText.size() : nul + 1);
    return piece;
  }
  std::string_view Rest() {
    std::string_view piece = mText;
    mText = std::string_view();
    return piece;
  }

 private:
  std::string_view mText;
};

}  // namespace owc_fuzz

#endif  // OWCLIENT_FUZZ_FUZZ_SUPPORT_H
