// SPDX-License-Identifier: MIT
// owgateway, a child process, killed with SIGKILL at seeded random moments while owwired
// serves a generated spool and restarted each time; the last run receives the rest and stops
// cleanly. Then every file in the folder is compared with the spool. Also run by bench/soak.
#ifndef OWCLIENT_TESTS_SUPPORT_GATEWAY_CRASH_RUN_H
#define OWCLIENT_TESTS_SUPPORT_GATEWAY_CRASH_RUN_H

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "server.h"
#include "support/temp_dir.h"
#include "support/tool_runner.h"

namespace owc_test {

struct CrashRunSettings {
  std::string gateway;     // the owgateway program
  std::string address;     // owwired's, port 39030
  uint32_t stories = 200;  // two files each
  uint32_t kills = 10;
  uint64_t seed = 1;
  bool pipeline = false;
  uint32_t block_size = 8192;
  std::vector<std::string> gateway_args;  // more options, e.g. --no-sync
  // When set, receives the spool (name, content), to compare with what else the gateway fed.
  std::vector<std::pair<std::string, std::string>>* spool_out = nullptr;
};

struct CrashRunResult {
  size_t files = 0;                // in the spool
  uint64_t bytes = 0;              // of the spool
  uint32_t kills = 0;              // SIGKILLs sent
  size_t missing = 0;              // spool files not in the folder
  size_t differing = 0;            // in the folder, not byte-identical
  std::vector<std::string> extra;  // anything else in the folder (partial, record, temporary)
  uint64_t delivered = 0;          // files the server counted delivered, over all sessions
  // A run killed before it saved its session makes the next log in anew.
  uint64_t sessions_created = 0;
  uint64_t sessions_resumed = 0;
  uint64_t peak_rss_kb = 0;  // the highest VmHWM of a run, read just before its end
  int final_status = -1;     // of the last run, stopped with SIGTERM
  bool finished = false;     // the last run received everything in time
  double seconds = 0;
  // Empty when all is right; else what went wrong, then the end of the gateway's log.
  std::string problem;
};

namespace crash_run {

// Sizes from 1 KB to 2 MB, most of them small as a news feed's are: 80 % up to 16 KB,
// 17 % up to 256 KB, 3 % up to 2 MB; the first story holds one file of each extreme.
inline size_t FileSize(std::mt19937_64& rng, size_t index) {
  if (index < 2) return index == 0 ? 2 << 20 : 1 << 10;
  const uint64_t draw = rng() % 100;
  const size_t lo = draw < 80 ? 1 << 10 : draw < 97 ? 16 << 10 : 256 << 10;
  const size_t hi = draw < 80 ? 16 << 10 : draw < 97 ? 256 << 10 : 2 << 20;
  return lo + rng() % (hi - lo + 1);
}

// An XML file starts with a headline; the rest is seeded filler, so that a block that lands
// in the wrong place or twice shows up in the comparison.
inline std::string Content(std::mt19937_64& rng, const std::string& name, size_t size) {
  std::string text;
  if (name.compare(name.size() - 4, 4, ".xml") == 0) {
    text = "<?xml version=\"1.0\"?>\n<nitf><body><body.head><hedline><hl1>Story " + name +
           "</hl1></hedline></body.head><body.content><p>";
  }
  text.reserve(size);
  while (text.size() < size) {
    uint64_t bits = rng();
    for (int i = 0; i < 8 && text.size() < size; ++i, bits >>= 8) {
      text += static_cast<char>('a' + (bits & 0xFF) % 26);
    }
  }
  text.resize(size);
  return text;
}

// owgateway's peak resident memory in kB; 0 when unknown or before the child's exec.
inline uint64_t PeakRssKb(pid_t pid) {
  const std::string status = TempDir::Read("/proc/" + std::to_string(pid) + "/status");
  if (status.compare(0, 15, "Name:\towgateway") != 0) return 0;
  const size_t at = status.find("VmHWM:");
  return at == std::string::npos ? 0 : std::strtoull(status.c_str() + at + 6, nullptr, 10);
}

}  // namespace crash_run

inline CrashRunResult RunGatewayCrashes(const CrashRunSettings& s) {
  const auto started = std::chrono::steady_clock::now();
  CrashRunResult result;
  TempDir spool, root;
  const std::string out = root.File("out"), scratch = root.File("scratch");
  std::filesystem::create_directory(out);
  std::filesystem::create_directory(scratch);
  std::mt19937_64 rng(s.seed);
  std::vector<std::pair<std::string, std::string>> files;
  std::set<std::string> expected = {"index.html", ".owgateway-session"};
  uint64_t blocks = 0;
  for (uint32_t i = 0; i < 2 * s.stories; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "s%05u%s", i / 2, i % 2 == 0 ? ".xml" : ".rdf");
    files.emplace_back(name, crash_run::Content(rng, name, crash_run::FileSize(rng, i)));
    TempDir::Write(spool.File(name), files.back().second);
    result.bytes += files.back().second.size();
    blocks += (files.back().second.size() + s.block_size - 1) / s.block_size;
    expected.insert(name);
  }
  result.files = files.size();
  if (s.spool_out != nullptr) *s.spool_out = files;

  owwired::Options options;
  options.address = s.address;
  options.spoolDir = spool.Path();
  options.blockSize = s.block_size;
  options.pipeline = s.pipeline;
  options.firstSessionId = 5000;
  options.verbosity = 0;
  owwired::Server server(options);
  std::string error;
  if (!server.Start(&error)) {
    result.problem = "owwired: " + error;
    return result;
  }
  std::vector<std::string> args = {"--server",   s.address, "--out",        out,
                                   "--progress", "0",       "--quiet-warn", "0"};
  args.insert(args.end(), s.gateway_args.begin(), s.gateway_args.end());
  // A number of blocks sent (repeats included) and a few ms more: a kill falls anywhere, in a
  // block, before its acknowledgement, in a rename, in the start-up and the resumption.
  std::vector<uint64_t> moments;
  for (uint32_t k = 0; k < s.kills; ++k) moments.push_back(rng() % (blocks + 1));
  std::sort(moments.begin(), moments.end());
  std::string log;
  for (uint64_t moment : moments) {
    {
      ToolProcess gateway(s.gateway, args, scratch);
      WaitUntil([&] { return server.GetCounters().blocksSent >= moment; });
      std::this_thread::sleep_for(std::chrono::microseconds(rng() % 5000));
      result.peak_rss_kb = std::max(result.peak_rss_kb, crash_run::PeakRssKb(gateway.pid()));
    }  // SIGKILL, and reaped
    ++result.kills;
    log += TempDir::Read(scratch + "/.stderr") + "--- SIGKILL\n";
  }
  ToolProcess last(s.gateway, args, scratch);
  // Past its start-up (signals handled), also when the server has nothing left for it.
  WaitUntil([&] { return Contains(last.Err(), "receiving from"); });
  const size_t total = files.size();
  for (int i = 0; i < 40 && !result.finished; ++i) {  // 10 min at most
    result.finished = server.WaitFor(
        [total](const owwired::Counters& c) { return c.filesDelivered >= total; }, 15000);
  }
  result.peak_rss_kb = std::max(result.peak_rss_kb, crash_run::PeakRssKb(last.pid()));
  result.final_status = last.Stop();
  log += last.Err();
  const owwired::Counters counters = server.GetCounters();
  server.Stop();
  result.delivered = counters.filesDelivered;
  result.sessions_created = counters.sessionsCreated;
  result.sessions_resumed = counters.sessionsResumed;

  std::string missing, differing;  // their names
  for (const auto& file : files) {
    const std::string path = out + "/" + file.first;
    if (!std::filesystem::exists(path)) {
      ++result.missing;
      missing += " " + file.first;
    } else if (TempDir::Read(path) != file.second) {
      ++result.differing;
      differing += " " + file.first;
    }
  }
  const auto note = [&result](bool wrong, const std::string& what) {
    if (wrong) result.problem += (result.problem.empty() ? "" : ", ") + what;
  };
  note(!result.finished, "unfinished");
  note(result.missing != 0, std::to_string(result.missing) + " missing:" + missing);
  note(result.differing != 0, std::to_string(result.differing) + " differing:" + differing);
  for (const std::string& entry : EntriesIn(out)) {
    if (expected.count(entry) != 0) continue;
    result.extra.push_back(entry);
    note(true, entry + " left");
  }
  note(result.delivered != total, std::to_string(result.delivered) + " counted delivered");
  note(result.final_status != 0, "exit status " + std::to_string(result.final_status));
  if (!result.problem.empty()) {
    result.problem +=
        "\ngateway log:\n" + (log.size() > 2000 ? "..." + log.substr(log.size() - 2000) : log);
  }
  result.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  return result;
}

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_SUPPORT_GATEWAY_CRASH_RUN_H
