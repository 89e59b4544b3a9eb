// SPDX-License-Identifier: MIT
// bench_publish: owgateway (the built program) taking a feed off an in-process owwired into
// its folder, then the same feed into the folder and a JetStream stream, then into the
// stream through a staging folder (--publish-only), in the same run against the same local
// nats-server. Per file, latency runs from the server handing the file's last block to
// send() to the server reading its acknowledgement, which owgateway sends only once the file
// is on disk (fsync'ed) and, when publishing, stored in the stream.
//
// Usage: bench_publish [--files 2000] [--size 10240] [--block 8192] [--no-sync]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "bench_util.h"
#include "nats_server.h"
#include "server.h"

namespace {

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

struct Settings {
  uint32_t files = 2000;
  uint32_t size = 10240;
  uint32_t block = 8192;
  bool sync = true;
};

struct Outcome {
  double seconds = 0;
  double filesPerSecond = 0;
  double medianMs = 0;
  double p99Ms = 0;
  bool complete = false;
};

pid_t Spawn(const std::vector<std::string>& args, const std::string& log) {
  std::fflush(nullptr);  // or the child writes our buffered lines again
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (std::freopen(log.c_str(), "w", stderr) == nullptr) _exit(127);
    if (std::freopen("/dev/null", "w", stdout) == nullptr) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

Outcome RunOnce(const Settings& s, const std::vector<std::string>& extra, const char* label) {
  std::mutex mutex;
  std::map<std::string, uint64_t> written, delivered;
  owwired::Options options;
  options.address = "127.0.121.1";
  options.blockSize = s.block;
  options.verbosity = 1;
  for (uint32_t i = 0; i < s.files; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "s%05u.%s", i / 2, i % 2 == 0 ? "xml" : "rdf");
    std::string content(s.size, static_cast<char>('a' + i % 26));
    options.files.emplace_back(name, content);
  }
  options.onFileWritten = [&](const std::string& name, uint64_t ns) {
    std::lock_guard<std::mutex> lock(mutex);
    written[name] = ns;
  };
  options.logSink = [&](const std::string& line) {
    const size_t at = line.find(": delivered ");
    if (at == std::string::npos) return;
    const uint64_t now = NowNs();
    std::lock_guard<std::mutex> lock(mutex);
    delivered[line.substr(at + 12)] = now;
  };
  owwired::Server server(options);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "owwired: %s\n", error.c_str());
    return {};
  }
  const std::string dir = owbench::MakeTempDir("owc-publish-bench");
  std::vector<std::string> args = {OWBENCH_OWGATEWAY, "--server", options.address, "--out",
                                   dir + "/out", "--progress", "0", "--quiet-warn", "0"};
  if (!s.sync) args.push_back("--no-sync");
  args.insert(args.end(), extra.begin(), extra.end());
  const uint64_t start = NowNs();
  pid_t pid = Spawn(args, dir + "/log");
  const size_t n = s.files;
  Outcome out;
  out.complete = server.WaitFor(
      [n](const owwired::Counters& c) { return c.filesDelivered >= n; }, 600000);
  const uint64_t end = NowNs();
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  server.Stop();
  std::vector<double> latencies;
  for (const auto& d : delivered) {
    auto w = written.find(d.first);
    if (w != written.end() && d.second >= w->second) {
      latencies.push_back(static_cast<double>(d.second - w->second) / 1e6);
    }
  }
  out.seconds = static_cast<double>(end - start) / 1e9;
  out.filesPerSecond = static_cast<double>(n) / out.seconds;
  out.medianMs = owbench::Median(latencies);
  out.p99Ms = owbench::Percentile(latencies, 0.99);
  std::printf("| %-34s | %6u | %7.2f | %8.0f | %9.0f | %7.2f | %7.2f |%s\n", label, s.files,
              out.seconds, out.filesPerSecond, out.filesPerSecond / 2, out.medianMs, out.p99Ms,
              out.complete ? "" : " INCOMPLETE");
  std::fflush(stdout);
  owbench::RemoveTree(dir);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  Settings s;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto next = [&] { return i + 1 < argc ? static_cast<uint32_t>(std::atoi(argv[++i])) : 0u; };
    if (a == "--files") s.files = next();
    else if (a == "--size") s.size = next();
    else if (a == "--block") s.block = next();
    else if (a == "--no-sync") s.sync = false;
    else {
      std::fprintf(stderr, "usage: bench_publish [--files N] [--size BYTES] [--block BYTES] "
                           "[--no-sync]\n");
      return 2;
    }
  }
  if (owtest::FindNatsServer().empty()) {
    std::fprintf(stderr, "bench_publish needs nats-server (scripts/deps.sh)\n");
    return 1;
  }
  owtest::NatsServer nats("bench", "127.0.121.2", 1024 * 1024);
  if (!nats.Start()) {
    std::fprintf(stderr, "nats-server did not start\n");
    return 1;
  }
  std::printf("%u files of %u bytes (%u stories), %u-byte blocks, %s; load %s\n\n", s.files,
              s.size, s.files / 2, s.block, s.sync ? "sync" : "--no-sync",
              owbench::LoadLine().c_str());
  std::printf("| %-34s | %6s | %7s | %8s | %9s | %7s | %7s |\n", "output", "files", "s",
              "files/s", "stories/s", "p50 ms", "p99 ms");
  std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(36, '-').c_str(), "--------", "---------",
              "----------", "-----------", "---------", "---------");
  RunOnce(s, {}, "folder");
  RunOnce(s, {"--publish", nats.Url(), "--stream", "BENCH1", "--subject", "bench.one"},
          "folder + JetStream");
  RunOnce(s,
          {"--publish", nats.Url(), "--stream", "BENCH2", "--subject", "bench.two",
           "--publish-only"},
          "JetStream (--publish-only)");
  return 0;
}
