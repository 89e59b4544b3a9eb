// SPDX-License-Identifier: MIT
// The reference server in-process on 127.0.0.N (an address per test, as ctest runs them side
// by side), and a fixture for the gateway.
#ifndef OWCLIENT_TESTS_INTEGRATION_INTEGRATION_SUPPORT_H
#define OWCLIENT_TESTS_INTEGRATION_INTEGRATION_SUPPORT_H

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "owclient/owclient.h"
#include "support/block_sink.h"
#include "support/clock.h"
#include "support/log_capture.h"
#include "support/raw_socket.h"
#include "support/temp_dir.h"
#include "support/wait.h"
#include "support/wire_server.h"

namespace owc_test {

using Feed = std::vector<std::pair<std::string, std::string>>;

// 127.0.0.last, as the server takes it.
inline std::string LoopbackName(uint8_t last) { return "127.0.0." + std::to_string(last); }

inline std::string Example(const std::string& relative) {
  return TempDir::Read(std::string(OWC_EXAMPLES_DIR) + "/" + relative);
}

inline bool IsPage(const Delivered& r) {
  return r.name.size() > 4 && r.name.compare(r.name.size() - 4, 4, ".htm") == 0;
}

inline std::vector<std::string> Names(const std::vector<Delivered>& records) {
  std::vector<std::string> names;
  for (const auto& r : records) names.push_back(r.name);
  return names;
}

// Bytes a text parser would trip over: NULs, block end markers, message heads.
inline std::string Bytes(size_t size, char seed) {
  const char pattern[] =
      "\0BLKe\0"
      "7:+BLK9:\0+RQST (204)\0";
  std::string data;
  for (size_t i = 0; data.size() < size; ++i) {
    data += static_cast<char>(seed + i % 7);
    data.append(pattern, sizeof pattern - 1);
  }
  data.resize(size);
  return data;
}

// The files the records (pages aside) add up to, in order; out-of-sequence blocks (a repeat,
// a gap, a block of another file, a wrong first flag) are listed in *problems.
inline Feed Rebuild(const std::vector<Delivered>& records, std::string* problems) {
  Feed files;
  uint32_t next = 0;
  for (const Delivered& r : records) {
    if (IsPage(r)) continue;
    if (r.blockNum != next || r.first != (next == 0 ? 1 : 0) ||
        (next != 0 && r.name != files.back().first)) {
      *problems += " " + r.name + ":" + std::to_string(r.blockNum);
    }
    if (r.blockNum == 0 || files.empty()) files.emplace_back(r.name, std::string());
    files.back().second += r.data;
    next = r.last == 1 ? 0 : r.blockNum + 1;
  }
  if (next != 0) files.pop_back();  // still under way
  return files;
}

class GatewayTest : public ::testing::Test {
 protected:
  using Counters = owwired::Counters;

  void SetUp() override { ASSERT_EQ(1, OrbrixWireStartup(0)); }
  void TearDown() override {
    mRelease = true;  // the stop would wait for ever for a callback that waits for this
    HOBWStop(0);
    OrbrixWireShutdown();
  }

  // The gateway's next start goes to this server; its files are the feed checked.
  void Serve(uint8_t last, owwired::Options options) {
    mAddress = Loopback(last);
    mFeed = options.files;
    mServers.push_back(StartServer(LoopbackName(last), std::move(options)));
  }
  owwired::Server& Server() { return *mServers.back(); }
  bool WaitServer(const std::function<bool(const Counters&)>& condition, int timeoutMs = 10000) {
    return Server().WaitFor(condition, timeoutMs);
  }

  // Mode 0 starts without a template, modes 1 and 2 with the example template.
  void Start(uint32_t mode = 0, uint8_t resume = 0, uint32_t sessionID = 0) {
    const HOBWCallback callback = &BlockSink::Callback;
    ASSERT_EQ(1, mode == 0 ? HOBWStart(mAddress, callback, mSink->User(), resume, sessionID)
                           : HOBWStartWithTemplate(mAddress, callback, mSink->User(), mode,
                                                   mTemplate.data(), uint32_t(mTemplate.size()),
                                                   mXlate.data(), uint32_t(mXlate.size()), resume,
                                                   sessionID));
  }
  // Every callback waits until mRelease: an application that takes its time.
  void HoldCallbacks() {
    mSink->onCall = [this](const HOBWBlockQElt&) {
      while (!mRelease) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
  }
  // True when the stop, on another thread, reached its end with the callback still held.
  bool StopWhileHeld() {
    std::thread stopper([] { HOBWStop(0); });
    const bool exiting = WaitUntil([&] { return Count("HOBWThread::Run shutdown exiting") != 0; });
    mRelease = true;
    stopper.join();
    return exiting;
  }
  // Stops the gateway and forgets what its callback and the log saw.
  void StopAndForget() {
    HOBWStop(0);
    mSink = std::make_unique<BlockSink>();
    mLog.Clear();
  }
  std::vector<Delivered> Records(size_t atLeast = 0) { return mSink->WaitFor(atLeast); }
  // The names of the pages among the records, once there are n or the deadline passed.
  std::vector<std::string> PageNames(size_t n) {
    std::vector<std::string> pages;
    WaitUntil([&] {
      pages.clear();
      for (const auto& r : Records())
        if (IsPage(r)) pages.push_back(r.name);
      return pages.size() >= n;
    });
    return pages;
  }

  // Returns once a session pass saw the new time in the seconds since the last file.
  static void AdvanceSeen(uint32_t ms) {
    const uint32_t before = Stats().mSecsSinceLastFile;
    AdvanceMs(ms);
    ASSERT_TRUE(WaitUntil([&] { return Stats().mSecsSinceLastFile >= before + ms / 1000; }));
  }
  static HOBWStats Stats() {
    HOBWStats s{};
    EXPECT_EQ(1, HOBWGetStats(&s));
    return s;
  }
  size_t Count(const std::string& part) const { return mLog.Count(part); }

  // Each file of the feed once, whole, in the server's order.
  void ExpectFeedDelivered(int timeoutMs = 10000) {
    const size_t n = mFeed.size();
    ASSERT_TRUE(WaitServer([n](const Counters& c) { return c.filesDelivered >= n; }, timeoutMs));
    Feed files;
    std::string problems;
    ASSERT_TRUE(WaitUntil([&] {
      problems.clear();
      files = Rebuild(Records(), &problems);
      return files.size() >= n;
    }));
    EXPECT_EQ("", problems) << "blocks out of sequence";
    ASSERT_EQ(n, files.size());
    for (size_t i = 0; i < n; ++i) {
      EXPECT_EQ(mFeed[i].first, files[i].first);
      EXPECT_TRUE(mFeed[i].second == files[i].second) << files[i].first << " differs";  // no dump
    }
  }

  LogCapture mLog;
  std::atomic<bool> mRelease{false};
  std::unique_ptr<BlockSink> mSink = std::make_unique<BlockSink>();
  const std::string mTemplate = Example("templates/story.tmpl");
  const std::string mXlate = Example("templates/story.xlate");
  std::vector<std::unique_ptr<owwired::Server>> mServers;
  Feed mFeed;
  uint32_t mAddress = 0;
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_INTEGRATION_INTEGRATION_SUPPORT_H
