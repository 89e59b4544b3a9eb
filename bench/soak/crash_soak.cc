// SPDX-License-Identifier: MIT
// The long crash run: owgateway killed with SIGKILL at many seeded random moments while an
// in-process owwired serves a large generated spool, restarted each time, once with the
// server acknowledging block by block and once pipelining; then every file is compared
// with the spool. The fault suite runs the same with 400 files and ten kills.
//
//   bench_crash_soak [--stories N] [--kills N] [--seed N] [--block-size N] [--no-sync]
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/gateway_crash_run.h"

namespace {

void Report(const char* how, const owc_test::CrashRunResult& r) {
  std::printf("%s: %zu files, %.1f MB, %u kills, %.1f s\n", how, r.files,
              static_cast<double>(r.bytes) / 1e6, r.kills, r.seconds);
  std::printf("  missing %zu, differing %zu, left in the folder %zu, delivered by the server's "
              "count %" PRIu64 ", sessions created %" PRIu64 " / resumed %" PRIu64
              ", owgateway's peak RSS %" PRIu64 " kB, last run's exit %d%s\n",
              r.missing, r.differing, r.extra.size(), r.delivered, r.sessions_created,
              r.sessions_resumed, r.peak_rss_kb, r.final_status, r.finished ? "" : ", NOT FINISHED");
  if (!r.problem.empty()) std::printf("%s\n", r.problem.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  owc_test::CrashRunSettings settings;
  settings.gateway = OWGATEWAY_BIN;
  settings.stories = 1000;
  settings.kills = 100;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--no-sync") {
      settings.gateway_args.push_back("--no-sync");
    } else if (value != nullptr && arg == "--stories") {
      settings.stories = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (value != nullptr && arg == "--kills") {
      settings.kills = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else if (value != nullptr && arg == "--seed") {
      settings.seed = std::strtoull(argv[++i], nullptr, 10);
    } else if (value != nullptr && arg == "--block-size") {
      settings.block_size = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    } else {
      std::fprintf(stderr,
                   "usage: bench_crash_soak [--stories N] [--kills N] [--seed N] "
                   "[--block-size N] [--no-sync]\n");
      return 2;
    }
  }
  bool ok = true;
  for (const bool pipeline : {false, true}) {
    settings.pipeline = pipeline;
    settings.address = pipeline ? "127.0.2.21" : "127.0.2.20";
    const owc_test::CrashRunResult r = owc_test::RunGatewayCrashes(settings);
    Report(pipeline ? "pipelined" : "block by block", r);
    ok = ok && r.problem.empty();
  }
  return ok ? 0 : 1;
}
