// SPDX-License-Identifier: MIT
// The soak run: the gateway (through the C interface, mode 2 with the example template)
// against an in-process owwired whose every connection draws its own fault — a drop, a
// reset inside a block, silence, garbage, an over-long message, a block whose length runs
// past its data, a flood of tiny messages, a server that stops reading, slow writes — for
// a set time. Each cycle serves the whole corpus to a fresh session and ends with DONE.
//
// It counts per file: served (the server saw its last block acknowledged), delivered
// (rebuilt from the raw blocks, byte for byte), repeats within a session, losses (served,
// never delivered), and reports resident memory at the start, every 30 s and at the end.
//
// Time-outs would make each fault cost 28 s of waiting; whenever nothing has happened for
// 150 ms the run moves the module clock 2 s ahead instead, so recovery runs at full speed.
//
// With --ack-after-delivery the gateway acknowledges each block only once the callback has
// taken it, so every file the server counts as served must have been delivered, and the
// delivery thread's waits for the blocks it is owed meet every fault.
//
//   bench_soak [--seconds N] [--stories N] [--seed N] [--address 127.0.2.N] [--no-pipeline]
//              [--ack-after-delivery]
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "owclient/owclient.h"
#include "runtime/clock_thread.h"
#include "server.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
  uint32_t seconds = 600;
  uint32_t stories = 150;
  uint64_t seed = 1;
  std::string address = "127.0.2.1";
  bool pipeline = true;
  bool ackAfterDelivery = false;
};

bool ParseArgs(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    const char* v = nullptr;
    if (arg == "--no-pipeline") {
      s.pipeline = false;
    } else if (arg == "--ack-after-delivery") {
      s.ackAfterDelivery = true;
    } else if (arg == "--seconds" && (v = next()) != nullptr) {
      s.seconds = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    } else if (arg == "--stories" && (v = next()) != nullptr) {
      s.stories = static_cast<uint32_t>(std::strtoul(v, nullptr, 10));
    } else if (arg == "--seed" && (v = next()) != nullptr) {
      s.seed = std::strtoull(v, nullptr, 10);
    } else if (arg == "--address" && (v = next()) != nullptr) {
      s.address = v;
    } else {
      std::fprintf(stderr,
                   "usage: bench_soak [--seconds N] [--stories N] [--seed N] [--address A] "
                   "[--no-pipeline] [--ack-after-delivery]\n");
      return false;
    }
  }
  return s.stories > 0;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// "VmRSS" or "VmHWM" of this process, in kB.
long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0)
      return std::strtol(line.c_str() + std::strlen(field) + 1, nullptr, 10);
  }
  return -1;
}

// Stories of 0.3 to 40 KB: a NITF document (escaped text, nested markup) and its RDF.
std::vector<std::pair<std::string, std::string>> MakeCorpus(uint32_t stories, uint64_t seed) {
  std::mt19937_64 rng(seed);
  const char* words[] = {"harbour", "council", "&amp;", "tide",  "ferry", "<em>late</em>",
                         "vote",    "grain",   "&lt;3", "storm", "élan",  "budget"};
  std::vector<std::pair<std::string, std::string>> files;
  for (uint32_t i = 0; i < stories; ++i) {
    std::string base = "soak-" + std::to_string(i);
    std::string body;
    size_t size = std::uniform_int_distribution<size_t>(300, 40000)(rng);
    while (body.size() < size) {
      body += "<p>";
      for (int w = 0; w < 12; ++w) body += std::string(words[rng() % 12]) + " ";
      body += "</p>\n";
    }
    files.emplace_back(base + ".xml", "<?xml version=\"1.0\"?>\n<nitf><head><title>" + base +
                                          "</title></head><body><body.head><hedline><hl1>Story " +
                                          std::to_string(i) +
                                          "</hl1></hedline></body.head><body.content>" + body +
                                          "</body.content></body></nitf>\n");
    files.emplace_back(base + ".rdf",
                       "<?xml version=\"1.0\"?>\n<Resource "
                       "xmlns=\"http://www.veltrane.com/namespaces/meta#\"><storyid>" +
                           base + "</storyid><headline>Story " + std::to_string(i) +
                           "</headline></Resource>\n");
  }
  return files;
}

// One fault, or none, for each connection; never one that makes the session log in anew
// (that is a new delivery of the whole feed by design, not a repeat).
// A block whose length runs past its data is taken with the bytes that follow when the
// server pipelines (a block is cut by its length alone): only a server that waits for each
// acknowledgement gets that fault, which then shows as silence.
owwired::Faults DrawFaults(std::mt19937_64& rng, bool pipelined) {
  auto n = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  owwired::Faults f;
  switch (n(0, 12)) {
    case 4:
      f.dropAfterBlocks = n(0, 80);
      break;
    case 5:
      f.resetInBlockAfter = n(0, 80);
      break;
    case 6:
      f.silentAfter = n(2, 120);
      break;
    case 7:
      f.garbageAfter = n(2, 120);
      break;
    case 8:
      f.overlongAfter = n(2, 120);
      f.overlongSize = static_cast<uint32_t>(n(66600, 200000));
      break;
    case 9:
      if (!pipelined) f.overrunBlockAfter = n(0, 80);
      break;
    case 10:
      f.tinyMessagesAfter = n(2, 120);
      f.tinyMessages = static_cast<uint32_t>(n(100, 20000));
      break;
    case 11:
      f.stopReadingAfter = n(1, 120);
      break;
    case 12:
      f.delayMs = static_cast<uint32_t>(n(1, 5));
      f.oneByteWrites = n(0, 3) == 0;
      f.dropAfterBlocks = f.oneByteWrites ? n(1, 8) : n(20, 200);
      break;
    default:
      break;  // a healthy connection
  }
  return f;
}

// What the application sees: files rebuilt from the raw blocks and checked against the
// corpus, counted per session; HTML records counted. Delivery thread and main thread.
class Ledger {
 public:
  explicit Ledger(const std::vector<std::pair<std::string, std::string>>& corpus)
      : mCorpus(corpus) {
    for (size_t i = 0; i < corpus.size(); ++i) mIndex[corpus[i].first] = i;
  }

  static void Callback(HOBWBlockQElt* rec, uintptr_t user) {
    reinterpret_cast<Ledger*>(user)->Add(*rec);
  }

  void BeginCycle() {
    std::lock_guard<std::mutex> lock(mMutex);
    mSessions.clear();
    mLatest = 0;
    mOpen.clear();
    mNextBlock = 0;
    mCycleHtml = 0;
  }
  bool CycleComplete() {
    std::lock_guard<std::mutex> lock(mMutex);
    auto it = mSessions.find(mLatest);
    if (it == mSessions.end()) return false;
    for (int c : it->second.completions) {
      if (c == 0) return false;
    }
    return true;
  }
  // Distinct files completed in this cycle, over its sessions.
  uint64_t CycleDelivered() {
    std::lock_guard<std::mutex> lock(mMutex);
    uint64_t n = 0;
    for (auto& s : mSessions) {
      for (int c : s.second.completions) n += c > 0;
    }
    return n;
  }
  uint64_t Records() const { return mRecords.load(); }

  std::mutex mMutex;
  uint64_t delivered = 0, repeats = 0, corrupt = 0, outOfOrder = 0, blockProblems = 0;
  uint64_t html = 0, sessions = 0, cycleHtmlShort = 0;
  uint64_t mCycleHtml = 0;

 private:
  struct Session {
    std::vector<int> completions;
    size_t last = SIZE_MAX;  // feed index completed last
  };

  void Add(const HOBWBlockQElt& rec) {
    ++mRecords;
    std::lock_guard<std::mutex> lock(mMutex);
    std::string name = rec.mFName != nullptr ? rec.mFName : "";
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".htm") == 0) {
      ++html;
      ++mCycleHtml;
      return;
    }
    if (rec.mBlockNum != mNextBlock || (mNextBlock != 0 && name != mOpenName)) ++blockProblems;
    if (rec.mBlockNum == 0) {
      mOpen.clear();
      mOpenName = name;
    }
    mOpen.append(reinterpret_cast<const char*>(rec.mData), rec.mDataLen);
    mNextBlock = rec.mBlockNum + 1;
    if (rec.mLastBlock != 1) return;
    mNextBlock = 0;
    auto found = mIndex.find(mOpenName);
    if (found == mIndex.end() || mCorpus[found->second].second != mOpen) {
      ++corrupt;
      return;
    }
    if (mSessions.find(rec.mSessionID) == mSessions.end()) {
      mSessions[rec.mSessionID].completions.assign(mCorpus.size(), 0);
      ++sessions;
    }
    mLatest = rec.mSessionID;
    Session& s = mSessions[rec.mSessionID];
    size_t index = found->second;
    if (s.completions[index]++ > 0) {
      ++repeats;
    } else {
      ++delivered;
      if (s.last != SIZE_MAX && index < s.last) ++outOfOrder;
    }
    s.last = index;
  }

  const std::vector<std::pair<std::string, std::string>>& mCorpus;
  std::map<std::string, size_t> mIndex;
  std::map<uint32_t, Session> mSessions;
  uint32_t mLatest = 0;
  std::string mOpen, mOpenName;
  uint32_t mNextBlock = 0;
  std::atomic<uint64_t> mRecords{0};
};

// Counts the library's log lines, and those that show a fault being handled.
struct LogTally {
  std::atomic<uint64_t> lines{0}, failures{0}, timeouts{0}, newLogins{0}, unparseable{0},
      repeatsSkipped{0}, sendBound{0};
  static void Callback(const char* text, int32_t severity, uintptr_t user) {
    auto* t = reinterpret_cast<LogTally*>(user);
    ++t->lines;
    if (severity == 0) ++t->failures;
    if (std::strstr(text, "connected receive timeout") != nullptr) ++t->timeouts;
    if (std::strstr(text, "authorization receive timeout") != nullptr) ++t->newLogins;
    if (std::strstr(text, "can never be parsed") != nullptr) ++t->unparseable;
    if (std::strstr(text, "was delivered already") != nullptr) ++t->repeatsSkipped;
    if (std::strstr(text, "over its bound") != nullptr) ++t->sendBound;
  }
};

// Moves the module clock 2 s ahead whenever neither a record nor a log line came for
// 150 ms: every wait of the session is a time-out, so this only shortens waits.
class TimeWarp {
 public:
  TimeWarp(Ledger& ledger, LogTally& log) : mLedger(ledger), mLog(log) {
    mThread = std::thread([this] { Run(); });
  }
  ~TimeWarp() {
    mStop = true;
    mThread.join();
  }
  uint64_t Moves() const { return mMoves.load(); }

 private:
  void Run() {
    uint64_t seen = 0;
    auto quietSince = Clock::now();
    while (!mStop) {
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
      uint64_t now = mLedger.Records() + mLog.lines.load();
      if (now != seen) {
        seen = now;
        quietSince = Clock::now();
      } else if (Clock::now() - quietSince > std::chrono::milliseconds(150)) {
        owc::ClockThread& clock = owc::ModuleClock();
        clock.AdvanceTo(clock.GetTicks() + 2 * owc::ClockThread::kTicksPerSecond);
        ++mMoves;
        quietSince = Clock::now();
      }
    }
  }

  Ledger& mLedger;
  LogTally& mLog;
  std::atomic<bool> mStop{false};
  std::atomic<uint64_t> mMoves{0};
  std::thread mThread;
};

uint32_t ParseAddress(const std::string& dotted) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  std::sscanf(dotted.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
  return a << 24 | b << 16 | c << 8 | d;
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (!ParseArgs(argc, argv, settings)) return 2;
  const auto corpus = MakeCorpus(settings.stories, settings.seed);
  const std::string tmpl = ReadFile(std::string(OWSOAK_EXAMPLES_DIR) + "/templates/story.tmpl");
  const std::string xlate = ReadFile(std::string(OWSOAK_EXAMPLES_DIR) + "/templates/story.xlate");

  std::mt19937_64 faultRng(settings.seed * 7919 + 1);
  owwired::Options options;
  options.address = settings.address;
  options.verbosity = 0;
  options.files = corpus;
  options.blockSize = 2048;
  options.pipeline = settings.pipeline;
  options.faultsForConnection = [&faultRng, &settings](uint32_t) {
    return DrawFaults(faultRng, settings.pipeline);
  };
  owwired::Server server(options);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "bench_soak: %s\n", error.c_str());
    return 1;
  }

  Ledger ledger(corpus);
  LogTally log;
  OrbrixWireSetLogCallback(&LogTally::Callback, reinterpret_cast<uintptr_t>(&log));
  OrbrixWireStartup(0);
  const uint32_t address = ParseAddress(settings.address);
  auto start = [&] {
    ledger.BeginCycle();
    HOBWSetOptions(settings.ackAfterDelivery ? HOBW_ACK_AFTER_DELIVERY : 0);
    HOBWStartWithTemplate(address, &Ledger::Callback, reinterpret_cast<uintptr_t>(&ledger), 2,
                          tmpl.data(), static_cast<uint32_t>(tmpl.size()), xlate.data(),
                          static_cast<uint32_t>(xlate.size()), 0, 0);
  };

  std::printf("soak: %u stories (%zu files), seed %" PRIu64 ", %s%s, %u s, on %s\n",
              settings.stories, corpus.size(), settings.seed,
              settings.pipeline ? "pipelined" : "one block per ACK",
              settings.ackAfterDelivery ? ", acknowledged after delivery" : "", settings.seconds,
              settings.address.c_str());
  const auto begin = Clock::now();
  const auto deadline = begin + std::chrono::seconds(settings.seconds);
  long rssStart = -1, rssMax = 0;
  uint64_t cycles = 0, cycleServedStart = 0;
  auto report = [&](const char* what) {
    owwired::Counters c = server.GetCounters();
    long rss = StatusKb("VmRSS:");
    if (rss > rssMax) rssMax = rss;
    std::lock_guard<std::mutex> lock(ledger.mMutex);
    std::printf("soak: %s %4" PRId64 " s: cycles %" PRIu64 ", served %" PRIu64
                ", delivered %" PRIu64 ", repeats %" PRIu64 ", connections %" PRIu64
                ", faults %" PRIu64 ", RSS %ld kB\n",
                what,
                static_cast<int64_t>(
                    std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - begin).count()),
                cycles, c.filesDelivered, ledger.delivered, ledger.repeats, c.connectionsAccepted,
                c.faultsFired, rss);
    std::fflush(stdout);
  };

  {
    TimeWarp warp(ledger, log);
    start();
    auto nextReport = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      if (ledger.CycleComplete()) {
        HOBWStop(1);  // the delivery thread has handed out everything it will
        {
          std::lock_guard<std::mutex> lock(ledger.mMutex);
          if (ledger.mCycleHtml < settings.stories) {
            ledger.cycleHtmlShort += settings.stories - ledger.mCycleHtml;
          }
        }
        ++cycles;
        cycleServedStart = server.GetCounters().filesDelivered;
        start();
      }
      if (Clock::now() >= nextReport) {
        if (rssStart < 0) {
          rssStart = StatusKb("VmRSS:");
          report("start");
        } else {
          report("     ");
        }
        nextReport += std::chrono::seconds(30);
      }
    }
    // The server stops first, so that nothing is acknowledged any more; then whatever it
    // counted as delivered must reach the application.
    server.Stop();
    uint64_t records = ~0ull;
    while (records != ledger.Records()) {
      records = ledger.Records();
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }
    HOBWStop(0);
    OrbrixWireShutdown();
    OrbrixWireSetLogCallback(nullptr, 0);
    report("end  ");
    std::printf("soak: module clock moved ahead %" PRIu64 " times\n", warp.Moves());
  }

  owwired::Counters c = server.GetCounters();
  uint64_t servedNow = c.filesDelivered - cycleServedStart;
  uint64_t deliveredNow = ledger.CycleDelivered();
  uint64_t losses = servedNow > deliveredNow ? servedNow - deliveredNow : 0;
  long rssEnd = StatusKb("VmRSS:");
  std::printf("soak: RESULT served %" PRIu64 " files (%" PRIu64 " stories), delivered %" PRIu64
              ", duplicates %" PRIu64 ", losses %" PRIu64 ", corrupt %" PRIu64
              ", out of order %" PRIu64 ", block sequence problems %" PRIu64 ", HTML pages %" PRIu64
              " (%" PRIu64 " short in completed cycles)\n",
              c.filesDelivered, c.filesDelivered / 2, ledger.delivered, ledger.repeats, losses,
              ledger.corrupt, ledger.outOfOrder, ledger.blockProblems, ledger.html,
              ledger.cycleHtmlShort);
  std::printf("soak: RESULT %" PRIu64 " cycles, %" PRIu64 " sessions, %" PRIu64
              " connections, %" PRIu64 " faults fired, %" PRIu64 " sessions resumed\n",
              cycles, ledger.sessions, c.connectionsAccepted, c.faultsFired, c.sessionsResumed);
  std::printf("soak: RESULT client saw %" PRIu64 " receive time-outs, %" PRIu64
              " new logins after a silent login, %" PRIu64 " unparseable fronts, %" PRIu64
              " repeated blocks skipped, %" PRIu64 " failure lines\n",
              log.timeouts.load(), log.newLogins.load(), log.unparseable.load(),
              log.repeatsSkipped.load(), log.failures.load());
  std::printf("soak: RESULT RSS start %ld kB, end %ld kB, highest sampled %ld kB, peak %ld kB\n",
              rssStart, rssEnd, rssMax, StatusKb("VmHWM:"));
  bool clean = ledger.repeats == 0 && losses == 0 && ledger.corrupt == 0 && ledger.outOfOrder == 0;
  return clean ? 0 : 1;
}
