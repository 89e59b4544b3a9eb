// SPDX-License-Identifier: MIT
// Runs a fuzz target over stored inputs without libFuzzer, so that every seed and every
// input that once found a fault is replayed by the normal test suite (with whatever
// sanitizer that build uses).
//
// Usage: replay_<target> PATH...   (a file, or a folder whose files are all replayed)
// Fails when an input breaks an invariant (the target aborts) or when no input was
// found at all, since a replay of nothing proves nothing.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "fuzz_support.h"

extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool Collect(const fs::path& path, std::vector<fs::path>* files) {
  std::error_code ec;
  if (fs::is_regular_file(path, ec)) {
    files->push_back(path);
    return true;
  }
  if (!fs::is_directory(path, ec)) {
    std::fprintf(stderr, "replay: no such file or folder: %s\n", path.c_str());
    return false;
  }
  std::vector<fs::path> found;
  for (const fs::directory_entry& entry : fs::directory_iterator(path, ec)) {
    if (entry.is_regular_file() && entry.path().filename().native()[0] != '.') {
      found.push_back(entry.path());
    }
  }
  std::sort(found.begin(), found.end());
  files->insert(files->end(), found.begin(), found.end());
  return !ec;
}

bool Replay(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", file.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::printf("replay: %s (%zu bytes)\n", file.c_str(), bytes.size());
  std::fflush(stdout);  // names the input if the target aborts on it
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> files;
  bool ok = true;
  for (int i = 1; i < argc; ++i) ok = Collect(argv[i], &files) && ok;
  if (files.empty()) {
    std::fprintf(stderr, "replay: no input to replay\n");
    return 1;
  }
  for (const fs::path& file : files) ok = Replay(file) && ok;
  std::printf("replay: %zu inputs replayed\n", files.size());
  return ok ? 0 : 1;
}
