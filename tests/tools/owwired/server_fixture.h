// SPDX-License-Identifier: MIT
// RawClient: a wire client written against the byte layout alone (not the library's parser, nor
// owwired's own). OwwiredTest: an in-process owwired for one test, on a loopback address of its
// own (ctest runs the tests side by side), and the test's clients. No wait without a deadline.
#ifndef OWCLIENT_TESTS_TOOLS_OWWIRED_SERVER_FIXTURE_H
#define OWCLIENT_TESTS_TOOLS_OWWIRED_SERVER_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "server.h"
#include "support/raw_socket.h"
#include "support/wait.h"

namespace owc_test {

struct Received {
  std::string raw;  // every byte, NUL included
  bool is_block = false;
  uint32_t number = 0;  // blocks: number, data and whether the marker is BLKe
  std::string data;
  bool last = false;
};

class RawClient {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr int kWaitMs = 5000;

  std::string prefix;  // "1000:" once LogIn succeeded

  ~RawClient() { Close(); }
  void Close() {
    if (mFd >= 0) ::close(mFd);
    mFd = -1;
  }

  // To address:39030, retrying refused attempts until the deadline (a child process may not
  // listen yet). `rcvbuf` > 0 sets SO_RCVBUF.
  bool Connect(const std::string& address, int rcvbuf = 0) {
    return WaitUntil([&] { return (mFd = ConnectTo(Ipv4Of(address), kWirePort, rcvbuf)) >= 0; },
                     kWaitMs);
  }

  bool Send(const std::string& text) { return SendRaw(text + '\0'); }
  // May run on another thread than the reads.
  bool SendRaw(const std::string& bytes) { return owc_test::SendAll(mFd, bytes); }

  // False when no whole message arrived before the deadline or the connection closed first.
  bool Read(Received* message) {
    for (auto end = Deadline(); !Take(message);) {
      if (!Fill(end)) return false;
    }
    return true;
  }
  std::string ReadText() {  // or "<block>", or "<none>"
    Received message;
    if (!Read(&message)) return "<none>";
    return message.is_block ? "<block>" : message.raw.substr(0, message.raw.size() - 1);
  }
  std::string Ask(const std::string& text) { return Send(text) ? ReadText() : "<unsent>"; }

  // Whether the server closed the connection before the deadline (unread messages stay readable).
  bool WaitClosed() {
    for (auto end = Deadline(); !mClosed && Clock::now() < end;) Fill(end);
    return mClosed;
  }
  bool HasPendingBytes() {  // without waiting
    return mBuffer.size() > mHead || owc_test::WaitFor(mFd, POLLIN, 0);
  }

  // Hello, USER (resuming `resume_id` unless 0) and FLTR ALL; sets and returns `prefix`, or ""
  // on any surprise.
  std::string LogIn(uint32_t resume_id = 0) {
    bool hello = ReadText().compare(0, 5, "+Tazu") == 0;
    std::string answer = Ask(resume_id != 0 ? std::to_string(resume_id) + ":USER" : "USER");
    size_t end = answer.find(":+USER");
    bool ok = hello && end != std::string::npos && end + 6 == answer.size();
    prefix = ok ? answer.substr(0, end + 1) : "";
    if (prefix.empty() || Ask(prefix + "FLTR ALL") != prefix + "+FLTR") prefix = "";
    return prefix;
  }
  // RQST and the ACK of the FILE that answers it; the FILE's names, or "<error>".
  std::string OpenFile() {
    std::string file = Ask(prefix + "RQST");
    if (file.compare(0, prefix.size() + 6, prefix + "+FILE ") != 0) return "<error>";
    Send(prefix + "+ACK " + file.substr(prefix.size() + 6));
    return file.substr(prefix.size() + 6);
  }
  // The next block's data, acknowledged when `ack`; "<error>" when no block came.
  std::string NextBlock(bool ack = true, Received* block = nullptr) {
    Received received;
    if (block == nullptr) block = &received;
    if (!Read(block) || !block->is_block) return "<error>";
    if (ack) Send(prefix + "+ACK " + std::to_string(block->number));
    return block->data;
  }
  // OpenFile, then its blocks acknowledged one by one; the data, or "<error>".
  std::string FetchFile(std::string* names = nullptr) {
    std::string announced = OpenFile(), data, piece;
    if (names != nullptr) *names = announced;
    if (announced == "<error>") return announced;
    for (Received block; !block.last; data += piece) {
      if ((piece = NextBlock(true, &block)) == "<error>") return piece;
    }
    return data;
  }

 private:
  static Clock::time_point Deadline() { return Clock::now() + std::chrono::milliseconds(kWaitMs); }

  bool Fill(Clock::time_point end) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (mClosed || !owc_test::WaitFor(mFd, POLLIN, static_cast<int>(std::max<int64_t>(0, left)))) {
      return false;
    }
    std::string got = owc_test::Drain(mFd);
    if (got.empty()) return !(mClosed = true);
    mBuffer += got;
    return true;
  }

  // A block is "[digits:]+BLK<digits>:", two bytes of big-endian length, the data, and BLKm or
  // BLKe with a NUL; anything else is text up to a NUL. A front too short to tell holds no NUL,
  // so either way it waits for more bytes.
  bool Take(Received* message) {
    std::string_view in = std::string_view(mBuffer).substr(mHead);
    size_t plus = in.find_first_not_of("0123456789"), total = 0;
    if (plus != std::string_view::npos && plus > 0 && in[plus] == ':') ++plus;
    *message = Received();
    if (plus != std::string_view::npos && in.substr(plus, 4) == "+BLK") {
      size_t colon = in.find_first_not_of("0123456789", plus + 4);
      if (colon == std::string_view::npos || in.size() < colon + 3) return false;
      size_t length =
          static_cast<uint8_t>(in[colon + 1]) << 8 | static_cast<uint8_t>(in[colon + 2]);
      if (in.size() < (total = colon + 3 + length + 5)) return false;
      message->is_block = true;
      message->number = static_cast<uint32_t>(std::strtoul(in.data() + plus + 4, nullptr, 10));
      message->data = std::string(in.substr(colon + 3, length));
      message->last = in.substr(colon + 3 + length, 4) == "BLKe";
    } else if ((total = in.find('\0') + 1) == 0) {  // npos + 1: no NUL yet
      return false;
    }
    message->raw = std::string(in.substr(0, total));
    if ((mHead += total) == mBuffer.size() || mHead > (1u << 20)) {
      mBuffer.erase(0, mHead);
      mHead = 0;
    }
    return true;
  }

  int mFd = -1;
  bool mClosed = false;
  std::string mBuffer;  // bytes before mHead are consumed
  size_t mHead = 0;
};

using owwired::Counters;
using owwired::Options;

class OwwiredTest : public ::testing::Test {
 protected:
  // Serves on 127.0.0.`host` (this suite owns 200 to 252) with session ids from 1000 and the
  // options `tweak` sets, replacing any earlier server.
  void Start(int host, const std::function<void(Options&)>& tweak = nullptr) {
    Options options;
    options.address = mAddress = "127.0.0." + std::to_string(host);
    options.firstSessionId = 1000;
    options.logSink = [](const std::string&) {};  // formatted, not shown
    if (tweak) tweak(options);
    mServer = std::make_unique<owwired::Server>(options);
    std::string error;
    ASSERT_TRUE(mServer->Start(&error)) << error;
  }

  // A connected client, its hello unread.
  RawClient& Connected(int receive_buffer = 0) {
    mClients.push_back(std::make_unique<RawClient>());
    EXPECT_TRUE(mClients.back()->Connect(mAddress, receive_buffer));
    return *mClients.back();
  }
  // A connected client past the hello, USER (resuming `resume_id` unless 0) and FLTR ALL.
  RawClient& LoggedIn(uint32_t resume_id = 0) {
    RawClient& client = Connected();
    EXPECT_NE(client.LogIn(resume_id), "");
    return client;
  }
  // Sends each request in turn and expects its answer, both after the client's prefix.
  void Exchange(RawClient& client, const std::vector<std::pair<std::string, std::string>>& steps) {
    for (const auto& [request, answer] : steps) {
      EXPECT_EQ(client.Ask(client.prefix + request), client.prefix + answer) << request;
    }
  }

  bool WaitFor(const std::function<bool(const Counters&)>& condition) {
    return mServer->WaitFor(condition, RawClient::kWaitMs);
  }
  Counters counters() { return mServer->GetCounters(); }

  // For Options::clockMs: stands at `start_ms` until MoveClockTo, which waits for a turn of the
  // server's loop.
  std::function<uint64_t()> ManualClock(uint64_t start_ms) {
    now_ms_ = start_ms;
    return [this] { return now_ms_.load(); };
  }
  void MoveClockTo(uint64_t ms) {
    now_ms_ = ms;
    uint64_t turns = counters().turns;
    mServer->Wake();
    EXPECT_TRUE(WaitFor([turns](const Counters& c) { return c.turns > turns || c.stopped; }));
  }

 private:
  std::string mAddress;
  std::vector<std::unique_ptr<RawClient>> mClients;
  std::atomic<uint64_t> now_ms_{0};
  std::unique_ptr<owwired::Server> mServer;  // last: destroyed before what its callbacks use
};

}  // namespace owc_test

#endif  // OWCLIENT_TESTS_TOOLS_OWWIRED_SERVER_FIXTURE_H
