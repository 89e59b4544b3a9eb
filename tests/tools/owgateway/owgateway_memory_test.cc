// SPDX-License-Identifier: MIT
// Against a story far over its limits, owgateway's peak resident memory (the kernel's figure for
// a reaped child) stays within the queue and pairing limits plus the program. Sanitizers keep
// freed memory, so they skip. The server is a program of its own: a child forked from a test
// process holding the story would count the parent's pages.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include "support/tool_runner.h"

namespace owc_test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

constexpr uint64_t kMiB = 1024 * 1024;
// 64 MiB queue limit + 64 MiB pairing limit + the program, its buffers and the rendering.
constexpr uint64_t kBoundKb = (64 + 64 + 48) * kMiB / 1024;

uint64_t LargestChildPeakKb() {
  struct rusage usage {};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss);
}

TEST(OwgatewayMemoryTest, AStoryFarOverTheLimitsLeavesResidentMemoryBounded) {
  if (kSanitized) GTEST_SKIP() << "sanitizers keep freed memory: resident size says nothing";
  TempDir root;
  const std::string serverScratch = root.File("server");
  std::filesystem::create_directory(serverScratch);
  ToolProcess server(OWWIRED_BIN,
                     {"--address", "127.0.0.149", "--generate", "1", "--story-size",
                      std::to_string(300 * kMiB), "--block-size", "65535", "--pipeline"},
                     serverScratch);
  ASSERT_TRUE(WaitUntil([&] { return Contains(server.Err(), "listening"); })) << server.Err();
  const std::string out = root.File("out");
  for (const char* mode : {"0", "2"}) {
    std::filesystem::remove_all(out);
    std::vector<std::string> args = {"--server", "127.0.0.149", "--out",      out,
                                     "--mode",   mode,          "--count",    "1",
                                     "--fresh",  "--no-sync",   "--progress", "0"};
    if (mode[0] == '2') args.insert(args.end(), {"--template", kTemplate});
    RunResult r = RunTool(OWGATEWAY_BIN, args, root.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_GT(std::filesystem::file_size(out + "/story00001.xml"), 300 * kMiB);
    EXPECT_LT(LargestChildPeakKb(), kBoundKb) << "mode " << mode;
  }
}

}  // namespace
}  // namespace owc_test
