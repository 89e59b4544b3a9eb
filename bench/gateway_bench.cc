// SPDX-License-Identifier: MIT
// bench_gateway: the gateway taking stories off an in-process owwired on loopback, in output
// mode 0 (raw blocks) and mode 2 (raw blocks and HTML), with 4 KB and 64 KB blocks, each
// block acknowledged before the next is sent or all of a file's blocks pipelined. Each
// configuration runs in a child process of its own (its own peak RSS); in the same child,
// right after, a plain loopback TCP transfer of the same bytes with the same block size gives
// the limit: once streamed, once with a 4-byte answer per block. Latency runs from the server
// handing a story's last block to send() (Options::onFileWritten) to the callback that
// completes the story: its HTML record in mode 2, the last raw block of its later file in
// mode 0. Then the CPU time of an idle connected gateway, and the floors of the machine under
// both: a bare loopback round trip, and the idle gateway's wake-ups with no work around them.
//
// Usage: bench_gateway [--stories 2000] [--size 10240] [--big-stories 64] [--big-size 1048576]
//                      [--idle-seconds 10] [--csv FILE]
//                      [--only MODE:BLOCK:PIPELINE:STORIES:SIZE[:ACK_AFTER_DELIVERY[:DELAY_MS]]
//                       | --only idle | --only floors]
// The default run ends with acknowledgement after delivery (HOBW_ACK_AFTER_DELIVERY):
// saturating in modes 2 and 0, then mode 2 with the server pacing its messages, latency
// against offered load. --csv writes one line per configuration.
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "corpus.h"
#include "loopback.h"
#include "machine_floors.h"
#include "owclient/owclient.h"
#include "server.h"

namespace {

const std::string kSourceDir = OWBENCH_SOURCE_DIR;

uint64_t NowNs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

std::set<long> ThreadIds() {
  std::set<long> ids;
  if (DIR* dir = opendir("/proc/self/task")) {
    while (dirent* entry = readdir(dir)) {
      if (entry->d_name[0] != '.') ids.insert(std::atol(entry->d_name));
    }
    closedir(dir);
  }
  return ids;
}

// Starts the server; its thread id (to read the thread's CPU time), or -1 when it fails.
long StartServer(owwired::Server* server) {
  const std::set<long> before = ThreadIds();
  std::string error;
  if (!server->Start(&error)) {
    std::fprintf(stderr, "bench_gateway: server: %s\n", error.c_str());
    return -1;
  }
  long serverTid = 0;
  for (long tid : ThreadIds()) {
    if (before.count(tid) == 0) serverTid = tid;
  }
  return serverTid;
}

// CPU seconds of thread `tid` of this process (the per-thread CPU clock the kernel offers
// for any thread of the calling process; glibc's pthread_getcpuclockid builds the same id).
double ThreadCpuSecondsOf(long tid) {
  const clockid_t id = static_cast<clockid_t>((~static_cast<unsigned long>(tid) << 3) | 6);
  timespec ts{};
  if (clock_gettime(id, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long ContextSwitches() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_nvcsw + usage.ru_nivcsw;
}

// Resident set in KiB now (statm's second field, in pages).
long ResidentKiB() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Samples the resident set every 2 ms on a thread of its own, whose CPU time the caller
// leaves out of the gateway's.
class RssSampler {
 public:
  RssSampler() : mBase(ResidentKiB()), mPeak(mBase) {
    mThread = std::thread([this] {
      mTid.store(static_cast<long>(syscall(SYS_gettid)));
      while (!mStop.load()) {
        mPeak = std::max(mPeak.load(), ResidentKiB());
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    });
  }
  ~RssSampler() { Stop(); }
  void Stop() {
    mStop.store(true);
    if (mThread.joinable()) mThread.join();
  }
  long Tid() const { return mTid.load(); }
  // Growth of the resident set over its size when sampling began, in KiB.
  long GrowthKiB() const { return mPeak.load() - mBase; }

 private:
  long mBase;
  std::atomic<long> mPeak;
  std::atomic<long> mTid{0};
  std::atomic<bool> mStop{false};
  std::thread mThread;
};

// "tid/name/seconds,..." for every thread of `before` (CPU seconds at the start) that used
// CPU since; the server's thread is named owwired.
std::string PerThreadCpu(const std::map<long, double>& before, long serverTid) {
  std::string perThread;
  for (const auto& [tid, cpu0] : before) {
    const double used = ThreadCpuSecondsOf(tid) - cpu0;
    if (used <= 0) continue;
    std::string name = "?";
    if (FILE* f = std::fopen(("/proc/self/task/" + std::to_string(tid) + "/comm").c_str(), "r")) {
      char buf[64] = {};
      if (std::fgets(buf, sizeof buf, f) != nullptr) name = buf;
      std::fclose(f);
      while (!name.empty() && (name.back() == '\n' || name.back() == ' ')) name.pop_back();
    }
    if (tid == serverTid) name = "owwired";
    char item[96];
    std::snprintf(item, sizeof item, "%s%ld/%s/%.4f", perThread.empty() ? "" : ",", tid,
                  name.c_str(), used);
    perThread += item;
  }
  return perThread;
}

uint32_t ParseAddress(const std::string& dotted) {
  in_addr addr{};
  inet_pton(AF_INET, dotted.c_str(), &addr);
  return ntohl(addr.s_addr);
}

// ---------------------------------------------------------------- one configuration

struct Config {
  uint32_t mode = 2;
  uint32_t block = 4096;
  bool pipeline = false;
  uint32_t stories = 2000;
  size_t size = 10240;
  uint32_t delayMs = 0;           // the server holds every message back this long (paced runs)
  bool ackAfterDelivery = false;  // HOBW_ACK_AFTER_DELIVERY
  std::string address = "127.0.1.1";
};

// What the callbacks and the server hook record; every member guarded by mMutex.
class Recorder {
 public:
  explicit Recorder(uint32_t stories)
      : mWritten(stories * 2, 0), mDelivered(stories, 0), mFileDone(stories * 2, 0) {}

  void FileWritten(const std::string& name, uint64_t ns) {
    int slot = Slot(name);
    if (slot < 0) return;
    std::lock_guard<std::mutex> lock(mMutex);
    mWritten[static_cast<size_t>(slot)] = ns;
  }

  void Record(const HOBWBlockQElt* rec) {
    const uint64_t now = NowNs();
    const std::string name = rec->mFName != nullptr ? rec->mFName : "";
    std::lock_guard<std::mutex> lock(mMutex);
    if (mFirstNs == 0) mFirstNs = now;
    const bool html = name.size() > 4 && name.compare(name.size() - 4, 4, ".htm") == 0;
    if (html) {
      int story = StoryIndex(name);
      if (story >= 0 && mDelivered[static_cast<size_t>(story)] == 0) {
        mDelivered[static_cast<size_t>(story)] = now;
        ++mHtml;
      }
    } else {
      mBlockBytes += rec->mDataLen;
      ++mBlocks;
      int slot = Slot(name);
      if (rec->mLastBlock != 0 && slot >= 0 && mFileDone[static_cast<size_t>(slot)] == 0) {
        mFileDone[static_cast<size_t>(slot)] = now;
        ++mFiles;
      }
    }
    mLastNs = now;
    // The waiter is woken once, when it is done: a wake-up per block would be counted as
    // the gateway's CPU time.
    if (mFiles == mFilesWanted || mHtml == mHtmlWanted) mChanged.notify_all();
  }

  // Waits until every story is complete (mode 2: its HTML; mode 0: both files).
  bool WaitComplete(uint32_t mode, uint32_t stories, int timeoutSeconds) {
    std::unique_lock<std::mutex> lock(mMutex);
    mFilesWanted = mode == 0 ? 2 * stories : UINT32_MAX;
    mHtmlWanted = mode == 0 ? UINT32_MAX : stories;
    return mChanged.wait_for(lock, std::chrono::seconds(timeoutSeconds),
                             [&] { return mode == 0 ? mFiles == 2 * stories : mHtml == stories; });
  }

  // Per-story latencies in microseconds.
  std::vector<double> Latencies(uint32_t mode) {
    std::lock_guard<std::mutex> lock(mMutex);
    std::vector<double> out;
    for (size_t s = 0; s < mDelivered.size(); ++s) {
      const uint64_t written = std::max(mWritten[2 * s], mWritten[2 * s + 1]);
      const uint64_t done =
          mode == 0 ? std::max(mFileDone[2 * s], mFileDone[2 * s + 1]) : mDelivered[s];
      if (written != 0 && done != 0) {
        out.push_back(done >= written ? static_cast<double>(done - written) / 1e3 : 0.0);
      }
    }
    return out;
  }

  uint64_t FirstNs() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mFirstNs;
  }
  uint64_t LastNs() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mLastNs;
  }
  uint64_t BlockBytes() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mBlockBytes;
  }
  uint64_t Blocks() {
    std::lock_guard<std::mutex> lock(mMutex);
    return mBlocks;
  }

  static void Callback(HOBWBlockQElt* rec, uintptr_t user) {
    reinterpret_cast<Recorder*>(user)->Record(rec);
  }

 private:
  // "story01234.xml" -> 1234; -1 for any other name.
  static int StoryIndex(const std::string& name) {
    if (name.compare(0, 5, "story") != 0) return -1;
    return std::atoi(name.c_str() + 5);
  }
  // Two slots per story: .rdf then .xml.
  int Slot(const std::string& name) const {
    int story = StoryIndex(name);
    if (story < 0 || static_cast<size_t>(story) >= mDelivered.size()) return -1;
    const bool xml = name.size() > 4 && name.compare(name.size() - 4, 4, ".xml") == 0;
    return 2 * story + (xml ? 1 : 0);
  }

  std::mutex mMutex;
  std::condition_variable mChanged;
  std::vector<uint64_t> mWritten;    // per file: server handed its last block to send()
  std::vector<uint64_t> mDelivered;  // per story: its HTML record
  std::vector<uint64_t> mFileDone;   // per file: its last raw block
  uint64_t mFirstNs = 0, mLastNs = 0, mBlockBytes = 0, mBlocks = 0;
  uint32_t mHtml = 0, mFiles = 0;
  uint32_t mFilesWanted = UINT32_MAX, mHtmlWanted = UINT32_MAX;
};

bool StartGateway(const Config& config, Recorder* recorder) {
  const uint32_t address = ParseAddress(config.address);
  const uintptr_t user = reinterpret_cast<uintptr_t>(recorder);
  HOBWSetOptions(config.ackAfterDelivery ? HOBW_ACK_AFTER_DELIVERY : 0u);
  if (config.mode == 0) return HOBWStart(address, Recorder::Callback, user, 0, 0) == 1;
  const std::string tmpl =
      owbench::MustRead(kSourceDir + "/examples/templates/story.tmpl", "bench_gateway");
  const std::string xlate =
      owbench::MustRead(kSourceDir + "/examples/templates/story.xlate", "bench_gateway");
  return HOBWStartWithTemplate(address, Recorder::Callback, user, config.mode, tmpl.data(),
                               static_cast<uint32_t>(tmpl.size()), xlate.data(),
                               static_cast<uint32_t>(xlate.size()), 0, 0) == 1;
}

// ---------------------------------------------------------------- the loopback limit

struct LimitResult {
  double streamMBps = 0;
  double ackMBps = 0;
  double ackBlocksPerSecond = 0;
};

// Sends `bytes` from one thread to another over a loopback TCP connection in `block`-sized
// writes; with `ack` the receiver answers every block with 4 bytes, and the sender waits for
// the answer before the next block. Returns the seconds taken, or a negative value.
double LoopbackTransfer(const std::string& address, const std::string& bytes, size_t block,
                        bool ack) {
  sockaddr_in addr{};
  const int listener = owbench::ListenOn(address, &addr);
  if (listener < 0) return -1;
  std::thread receiver([&] {
    int fd = accept(listener, nullptr, nullptr);
    owbench::SetNoDelay(fd);
    std::vector<char> buf(std::max<size_t>(block, 65536));
    size_t left = bytes.size();
    while (left > 0) {
      size_t want = ack ? std::min(block, left) : std::min(buf.size(), left);
      if (ack) {
        if (!owbench::ReadAll(fd, buf.data(), want) || !owbench::WriteAll(fd, "ACK", 4)) break;
      } else {
        ssize_t got = recv(fd, buf.data(), want, 0);
        if (got <= 0) break;
        want = static_cast<size_t>(got);
      }
      left -= want;
    }
    close(fd);
  });
  const int fd = owbench::ConnectTo(addr);
  double seconds = -1;
  if (fd >= 0) {
    const double start = owbench::WallSeconds();
    bool ok = true;
    char answer[4];
    for (size_t off = 0; ok && off < bytes.size(); off += block) {
      size_t n = std::min(block, bytes.size() - off);
      ok =
          owbench::WriteAll(fd, bytes.data() + off, n) && (!ack || owbench::ReadAll(fd, answer, 4));
    }
    shutdown(fd, SHUT_WR);
    receiver.join();
    if (ok) seconds = owbench::WallSeconds() - start;
  } else {
    shutdown(listener, SHUT_RDWR);
    receiver.join();
  }
  if (fd >= 0) close(fd);
  close(listener);
  return seconds;
}

LimitResult MeasureLimit(const std::string& address, const std::string& bytes, size_t block) {
  LimitResult limit;
  double best = 1e9, bestAck = 1e9;
  for (int rep = 0; rep < 3; ++rep) {
    double s = LoopbackTransfer(address, bytes, block, false);
    if (s > 0) best = std::min(best, s);
  }
  // The acknowledged transfer at most 20,000 blocks: enough for a steady rate.
  const size_t ackBytes = std::min(bytes.size(), block * 20000);
  const std::string ackPart = bytes.substr(0, ackBytes);
  double s = LoopbackTransfer(address, ackPart, block, true);
  if (s > 0) bestAck = s;
  limit.streamMBps = static_cast<double>(bytes.size()) / best / 1e6;
  limit.ackMBps = static_cast<double>(ackBytes) / bestAck / 1e6;
  limit.ackBlocksPerSecond = static_cast<double>((ackBytes + block - 1) / block) / bestAck;
  return limit;
}

// ---------------------------------------------------------------- child runs

int RunConfig(const Config& config) {
  std::vector<owbench::Story> stories = owbench::GenerateCorpus(0, config.stories, config.size);
  owwired::Options options;
  options.address = config.address;
  options.verbosity = 0;
  options.blockSize = config.block;
  options.pipeline = config.pipeline;
  options.faults.delayMs = config.delayMs;
  std::string all;  // the same bytes for the loopback limit
  for (const owbench::Story& s : stories) {
    options.files.emplace_back(s.base + ".rdf", s.rdf);
    options.files.emplace_back(s.base + ".xml", s.xml);
    all += s.rdf;
    all += s.xml;
  }
  stories.clear();
  stories.shrink_to_fit();
  Recorder recorder(config.stories);
  options.onFileWritten = [&recorder](const std::string& name, uint64_t ns) {
    recorder.FileWritten(name, ns);
  };
  owwired::Server server(options);
  const long serverTid = StartServer(&server);
  if (serverTid < 0) return 1;
  const std::set<long> beforeStartup = ThreadIds();
  if (OrbrixWireStartup(0) != 1) return 1;
  const std::set<long> afterStartup = ThreadIds();
  RssSampler rss;
  while (rss.Tid() == 0) std::this_thread::yield();
  const double cpu0 = owbench::ProcessCpuSeconds();
  const double serverCpu0 = ThreadCpuSecondsOf(serverTid);
  const double samplerCpu0 = ThreadCpuSecondsOf(rss.Tid());
  const long csw0 = ContextSwitches();
  std::map<long, double> threadCpu0;
  for (long tid : afterStartup) threadCpu0[tid] = ThreadCpuSecondsOf(tid);
  const uint64_t start = NowNs();
  if (!StartGateway(config, &recorder)) {
    std::fprintf(stderr, "bench_gateway: the gateway does not start\n");
    return 1;
  }
  const bool complete = recorder.WaitComplete(config.mode, config.stories, 120);
  const double cpu = owbench::ProcessCpuSeconds() - cpu0;
  const double serverCpu = ThreadCpuSecondsOf(serverTid) - serverCpu0;
  const double samplerCpu = ThreadCpuSecondsOf(rss.Tid()) - samplerCpu0;
  const long csw = ContextSwitches() - csw0;
  // The gateway's threads by creation order: the session's, then its delivery thread.
  std::string threads;
  int wire = 0, gateway = 0;
  for (long tid : ThreadIds()) {
    if (tid == rss.Tid() || tid == serverTid || beforeStartup.count(tid) != 0) continue;
    const bool startup = afterStartup.count(tid) != 0;
    const double used = ThreadCpuSecondsOf(tid) - (startup ? threadCpu0[tid] : 0.0);
    char item[64];
    std::snprintf(item, sizeof item, "%s%s%d=%.4f", threads.empty() ? "" : " ",
                  startup ? "startup" : "gateway", startup ? ++wire : ++gateway, used);
    threads += item;
  }
  rss.Stop();
  HOBWStop(1);
  OrbrixWireShutdown();
  server.Stop();
  if (!complete) std::fprintf(stderr, "bench_gateway: not every story arrived within 120 s\n");

  const double seconds = static_cast<double>(recorder.LastNs() - start) / 1e9;
  const std::vector<double> latencies = recorder.Latencies(config.mode);
  const LimitResult limit = MeasureLimit(config.address, all, config.block);
  std::printf(
      "RESULT complete=%d stories=%u bytes=%zu seconds=%.4f blockbytes=%llu blocks=%llu "
      "p50=%.1f p99=%.1f max=%.1f cpu=%.4f servercpu=%.4f csw=%ld rss=%ld stream=%.1f "
      "ack=%.1f ackbps=%.0f rssgrowth=%ld\n",
      complete ? 1 : 0, config.stories, all.size(), seconds,
      static_cast<unsigned long long>(recorder.BlockBytes()),
      static_cast<unsigned long long>(recorder.Blocks()), owbench::Percentile(latencies, 0.5),
      owbench::Percentile(latencies, 0.99),
      latencies.empty() ? 0.0 : *std::max_element(latencies.begin(), latencies.end()),
      cpu - samplerCpu, serverCpu, csw, owbench::HighWaterKiB(), limit.streamMBps, limit.ackMBps,
      limit.ackBlocksPerSecond, rss.GrowthKiB());
  std::printf("THREADS %s\n", threads.c_str());
  return complete ? 0 : 1;
}

int RunIdle(const std::string& address, double seconds) {
  owwired::Options options;
  options.address = address;
  options.verbosity = 0;
  owwired::Server server(options);
  const long serverTid = StartServer(&server);
  if (serverTid < 0) return 1;
  if (OrbrixWireStartup(0) != 1) return 1;
  Recorder recorder(1);
  Config config;
  config.address = address;
  if (!StartGateway(config, &recorder)) return 1;
  HOBWStats stats{};
  for (int i = 0; i < 100 && !(stats.mConnected == 1 && stats.mSessionValid == 1); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    HOBWGetStats(&stats);
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));  // past the login
  const double cpu0 = owbench::ProcessCpuSeconds();
  const double serverCpu0 = ThreadCpuSecondsOf(serverTid);
  const long csw0 = ContextSwitches();
  const uint64_t requests0 = server.GetCounters().requestsEmpty;
  std::map<long, double> threadCpu0;
  for (long tid : ThreadIds()) threadCpu0[tid] = ThreadCpuSecondsOf(tid);
  const double wall0 = owbench::WallSeconds();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  const std::string perThread = PerThreadCpu(threadCpu0, serverTid);
  const double wall = owbench::WallSeconds() - wall0;
  const double cpu = owbench::ProcessCpuSeconds() - cpu0;
  const double serverCpu = ThreadCpuSecondsOf(serverTid) - serverCpu0;
  const long csw = ContextSwitches() - csw0;
  const uint64_t requests = server.GetCounters().requestsEmpty - requests0;
  HOBWStop(1);
  OrbrixWireShutdown();
  server.Stop();
  std::printf("RESULT connected=%d wall=%.3f cpu=%.4f servercpu=%.4f csw=%ld requests=%llu\n",
              stats.mConnected, wall, cpu, serverCpu, csw,
              static_cast<unsigned long long>(requests));
  std::printf("THREADS %s\n", perThread.c_str());
  return 0;
}

// ---------------------------------------------------------------- the parent

std::map<std::string, double> ParseResult(const std::string& output) {
  std::map<std::string, double> values;
  size_t at = output.find("RESULT ");
  if (at == std::string::npos) return values;
  std::istringstream in(output.substr(at + 7));
  std::string pair;
  while (in >> pair) {
    size_t eq = pair.find('=');
    if (eq != std::string::npos) values[pair.substr(0, eq)] = std::atof(pair.c_str() + eq + 1);
  }
  return values;
}

// The machine's floors, in a process of their own like every measurement.
int RunFloors(const std::string& address, double idleSeconds) {
  const owbench::RoundTripFloor trip = owbench::MeasureRoundTrip(address, 20000);
  const owbench::RoundTripFloor spun = owbench::MeasureRoundTrip(address, 20000, 50);
  if (trip.wallUs <= 0 || spun.wallUs <= 0) return 1;
  const double handOff = owbench::MeasureHandOffCpuUs(20000);
  const double idle = idleSeconds > 0 ? owbench::MeasureIdleWakeFloor(idleSeconds) : 0;
  std::printf(
      "RESULT askercpu=%.2f answercpu=%.2f tripwall=%.2f spuncpu=%.2f spunanswercpu=%.2f "
      "spunwall=%.2f handoff=%.2f idlefloor=%.4f\n",
      trip.askerCpuUs, trip.answerCpuUs, trip.wallUs, spun.askerCpuUs, spun.answerCpuUs,
      spun.wallUs, handOff, idle);
  return 0;
}

void PrintFloors(const std::string& self, const std::string& address, double idleSeconds) {
  owbench::ChildRun run = owbench::RunChild(
      {self, "--floors-child", address, std::to_string(idleSeconds)}, true, false);
  std::map<std::string, double> r = ParseResult(run.output);
  if (r.empty()) {
    std::printf("\nfloors of this machine: failed (exit %d)\n", run.status);
    return;
  }
  std::printf(
      "\nfloors of this machine (the same round trips and waits with no work around them):\n"
      "  loopback round trip, 45-byte request and 30-byte answer, both sides in poll(): "
      "%.1f us of the asking thread's CPU, %.1f us of the answering thread's, %.1f us wall; "
      "a story is four\n"
      "  the same, the asking thread spinning up to 50 us before it sleeps (the wire-client "
      "thread's wait for an owed answer): %.1f us of its CPU, %.1f us of the answering "
      "thread's, %.1f us wall; four of them allow %.0f stories/s\n"
      "  hand-off to a sleeping thread through a condition variable: %.1f us of the two "
      "threads' CPU; a story is two (one per file, to the delivery thread)\n"
      "  a story's floor for the gateway in mode 0: four round trips and two hand-offs, "
      "%.0f us of CPU\n",
      r["askercpu"], r["answercpu"], r["tripwall"], r["spuncpu"], r["spunanswercpu"],
      r["spunwall"], 1e6 / (4 * r["spunwall"]), r["handoff"], 4 * r["askercpu"] + 2 * r["handoff"]);
  if (idleSeconds > 0) {
    std::printf(
        "  an idle gateway's wake-ups alone (100 timed waits, 40 socket polls and 20 timed "
        "waits a second) over %.1f s: %.3f%% of a core\n",
        idleSeconds, r["idlefloor"]);
  }
}

std::string Describe(const Config& c) {
  char how[32];
  std::snprintf(how, sizeof how, "%s%s", c.pipeline ? "pipelined" : "acked",
                c.delayMs > 0 ? "" : ",");
  if (c.delayMs > 0) {
    const size_t used = std::strlen(how);
    std::snprintf(how + used, sizeof how - used, ", paced %u ms,", c.delayMs);
  }
  char buf[112];
  std::snprintf(buf, sizeof buf, "mode %u%s, %2u KB blocks, %-10s %5u x %4zu KB", c.mode,
                c.ackAfterDelivery ? " AaD" : "", (c.block + 1023) / 1024, how, c.stories,
                c.size / 1024);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  uint32_t stories = 2000, bigStories = 64;
  size_t size = 10240, bigSize = 1u << 20;
  double idleSeconds = 10;
  std::string only, csv;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool more = i + 1 < argc;
    if (arg == "--child" && i + 8 < argc) {
      Config c;
      c.mode = static_cast<uint32_t>(std::atoi(argv[i + 1]));
      c.block = static_cast<uint32_t>(std::atoi(argv[i + 2]));
      c.pipeline = std::atoi(argv[i + 3]) != 0;
      c.stories = static_cast<uint32_t>(std::atoi(argv[i + 4]));
      c.size = std::strtoul(argv[i + 5], nullptr, 10);
      c.delayMs = static_cast<uint32_t>(std::atoi(argv[i + 6]));
      c.address = argv[i + 7];
      c.ackAfterDelivery = std::atoi(argv[i + 8]) != 0;
      return RunConfig(c);
    } else if (arg == "--idle-child" && i + 2 < argc) {
      return RunIdle(argv[i + 1], std::atof(argv[i + 2]));
    } else if (arg == "--floors-child" && i + 2 < argc) {
      return RunFloors(argv[i + 1], std::atof(argv[i + 2]));
    } else if (arg == "--stories" && more) {
      stories = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else if (arg == "--size" && more) {
      size = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--big-stories" && more) {
      bigStories = static_cast<uint32_t>(std::atoi(argv[++i]));
    } else if (arg == "--big-size" && more) {
      bigSize = std::strtoul(argv[++i], nullptr, 10);
    } else if (arg == "--idle-seconds" && more) {
      idleSeconds = std::atof(argv[++i]);
    } else if (arg == "--only" && more) {
      only = argv[++i];
    } else if (arg == "--csv" && more) {
      csv = argv[++i];
    } else {
      std::fprintf(stderr,
                   "usage: %s [--stories N] [--size BYTES] [--big-stories N] [--big-size BYTES] "
                   "[--idle-seconds S] [--csv FILE] "
                   "[--only MODE:BLOCK:PIPELINE:STORIES:SIZE[:ACK_AFTER_DELIVERY[:DELAY_MS]] | "
                   "--only idle | --only floors]\n",
                   argv[0]);
      return 2;
    }
  }
  std::vector<Config> configs;
  if (only == "idle" || only == "floors") {
    // the idle measurement, or the machine's floors, alone
  } else if (!only.empty()) {
    Config c;
    unsigned mode = 0, block = 0, pipe = 0, n = 0, ack = 0, delay = 0;
    unsigned long sz = 0;
    const int fields = std::sscanf(only.c_str(), "%u:%u:%u:%u:%lu:%u:%u", &mode, &block, &pipe, &n,
                                   &sz, &ack, &delay);
    if (fields < 5 || n == 0 || sz == 0 || block == 0) {
      std::fprintf(stderr,
                   "bench_gateway: --only wants MODE:BLOCK:PIPELINE:STORIES:SIZE in numbers, "
                   "e.g. 0:65535:1:64:1048576\n");
      return 2;
    }
    c.ackAfterDelivery = ack != 0;
    c.delayMs = delay;
    c.mode = mode;
    c.block = block;
    c.pipeline = pipe != 0;
    c.stories = n;
    c.size = sz;
    configs.push_back(c);
  } else {
    for (uint32_t mode : {2u, 0u}) {
      for (uint32_t block : {4096u, 65535u}) {
        for (bool pipeline : {false, true}) {
          Config c;
          c.mode = mode;
          c.block = block;
          c.pipeline = pipeline;
          c.stories = stories;
          c.size = size;
          configs.push_back(c);
        }
      }
    }
    for (uint32_t block : {4096u, 65535u}) {
      for (bool pipeline : {false, true}) {
        Config c;
        c.mode = 0;
        c.block = block;
        c.pipeline = pipeline;
        c.stories = bigStories;
        c.size = bigSize;
        configs.push_back(c);
      }
    }
    // Latency without a backlog: the server holds every message back 1 ms, so stories
    // arrive slower than the gateway handles them.
    for (uint32_t mode : {2u, 0u}) {
      Config c;
      c.mode = mode;
      c.stories = std::min<uint32_t>(stories, 300);
      c.size = size;
      c.delayMs = 1;
      configs.push_back(c);
    }
    // Acknowledgement after delivery, saturating, then latency against offered load: the
    // server holds each message back 1 to 8 ms, which sets the rate the gateway is offered.
    for (uint32_t mode : {2u, 0u}) {
      Config c;
      c.mode = mode;
      c.block = 65535;
      c.pipeline = true;
      c.stories = stories;
      c.size = size;
      c.ackAfterDelivery = true;
      configs.push_back(c);
    }
    for (uint32_t delay : {1u, 2u, 4u, 8u}) {
      Config c;
      c.mode = 2;
      c.block = 65535;
      c.pipeline = true;
      c.stories = std::min<uint32_t>(stories, 300);
      c.size = size;
      c.ackAfterDelivery = true;
      c.delayMs = delay;
      configs.push_back(c);
    }
  }
  FILE* csvFile = nullptr;
  if (!csv.empty() && !configs.empty()) {
    csvFile = std::fopen(csv.c_str(), "w");
    if (csvFile == nullptr) std::fprintf(stderr, "bench_gateway: cannot write %s\n", csv.c_str());
  }
  if (csvFile != nullptr) {
    std::fprintf(csvFile,
                 "mode,block,pipelined,ack_after_delivery,delay_ms,stories,size,stories_per_s,"
                 "mbps,p50_us,p99_us,max_us,cpu_s,cpu_us_per_story,server_cpu_s,csw_per_block,"
                 "rss_mb,gateway_rss_mb,tcp_stream_mbps,tcp_ack_mbps,complete\n");
  }
  std::printf("bench_gateway: %s\n", owbench::LoadLine().c_str());
  if (!configs.empty()) {
    std::printf("%-56s %8s %8s %9s %9s %9s %8s %7s %8s %8s %7s %7s | %9s %9s %9s\n",
                "configuration", "stories/s", "MB/s", "p50 us", "p99 us", "max us", "CPU s",
                "us/sty", "srv CPU", "csw/blk", "RSS MB", "gw MB", "TCP MB/s", "ack MB/s",
                "vs TCP");
  }
  const std::string self = owbench::SelfPath();
  int next = 1;
  for (Config& c : configs) {
    c.address = "127.0.1." + std::to_string(next++);
    owbench::ChildRun run = owbench::RunChild(
        {self, "--child", std::to_string(c.mode), std::to_string(c.block),
         std::to_string(c.pipeline ? 1 : 0), std::to_string(c.stories), std::to_string(c.size),
         std::to_string(c.delayMs), c.address, std::to_string(c.ackAfterDelivery ? 1 : 0)},
        true, false);
    std::map<std::string, double> r = ParseResult(run.output);
    if (r.empty() || r["seconds"] <= 0) {
      std::printf("%-56s failed (exit %d)\n", Describe(c).c_str(), run.status);
      continue;
    }
    const double mbps = r["blockbytes"] / r["seconds"] / 1e6;
    const double limit = c.pipeline ? r["stream"] : r["ack"];
    char share[32] = "        -";  // a paced run is slow on purpose
    if (c.delayMs == 0) std::snprintf(share, sizeof share, "%9.2f", mbps / limit);
    const double gatewayCpu = r["cpu"] - r["servercpu"];
    const double perStory = gatewayCpu / r["stories"] * 1e6;
    std::printf(
        "%-56s %8.0f %8.1f %9.0f %9.0f %9.0f %8.2f %7.0f %8.2f %8.2f %7.0f %7.1f | %9.0f %9.1f "
        "%s%s\n",
        Describe(c).c_str(), r["stories"] / r["seconds"], mbps, r["p50"], r["p99"], r["max"],
        gatewayCpu, perStory, r["servercpu"], r["csw"] / r["blocks"], r["rss"] / 1024,
        r["rssgrowth"] / 1024, r["stream"], r["ack"], share,
        r["complete"] == 1 ? "" : "  (incomplete)");
    std::fflush(stdout);
    if (csvFile != nullptr) {
      std::fprintf(csvFile,
                   "%u,%u,%d,%d,%u,%u,%zu,%.1f,%.2f,%.1f,%.1f,%.1f,%.4f,%.1f,%.4f,%.2f,%.1f,%.1f,"
                   "%.1f,%.1f,%d\n",
                   c.mode, c.block, c.pipeline ? 1 : 0, c.ackAfterDelivery ? 1 : 0, c.delayMs,
                   c.stories, c.size, r["stories"] / r["seconds"], mbps, r["p50"], r["p99"],
                   r["max"], gatewayCpu, perStory, r["servercpu"], r["csw"] / r["blocks"],
                   r["rss"] / 1024, r["rssgrowth"] / 1024, r["stream"], r["ack"],
                   r["complete"] == 1 ? 1 : 0);
    }
  }
  if (csvFile != nullptr) std::fclose(csvFile);
  if (!configs.empty()) {
    std::printf(
        "(MB/s: block data delivered to the callback; CPU s: the gateway's threads, "
        "srv CPU: owwired's thread, both over the whole run; csw/blk: context switches of "
        "the process per block; gw MB: growth of the resident set from the gateway's start; vs "
        "TCP: MB/s over the plain loopback transfer of the same "
        "bytes and block size, streamed for pipelined runs, answered per block for acked "
        "ones)\n");
  }
  if (idleSeconds > 0 && only != "floors") {
    owbench::ChildRun run = owbench::RunChild(
        {self, "--idle-child", "127.0.1." + std::to_string(next), std::to_string(idleSeconds)},
        true, false);
    std::map<std::string, double> r = ParseResult(run.output);
    if (r.empty()) {
      std::printf("\nidle gateway: failed (exit %d)\n", run.status);
    } else {
      const double gateway = r["cpu"] - r["servercpu"];
      std::printf(
          "\nidle connected gateway (mode 2, template loaded) over %.1f s: %.4f s CPU = "
          "%.3f%% of a core; %ld context switches, %.0f empty RQSTs answered; owwired "
          "thread %.4f s\n",
          r["wall"], gateway, 100 * gateway / r["wall"], static_cast<long>(r["csw"]), r["requests"],
          r["servercpu"]);
      const size_t at = run.output.find("THREADS ");
      if (at != std::string::npos) {
        std::string threads = run.output.substr(at + 8);
        while (!threads.empty() && threads.back() == '\n') threads.pop_back();
        std::printf("  CPU seconds per thread (tid/name/seconds): %s\n", threads.c_str());
      }
    }
  }
  if (only.empty() || only == "idle" || only == "floors") {
    PrintFloors(self, "127.0.1." + std::to_string(next + 1), idleSeconds);
  }
  return 0;
}
