// SPDX-License-Identifier: MIT
#include "platform/wake_event.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace owc_test {
namespace {

using owc::SpinOutcome;
constexpr uint32_t kNeverCrowded = 0xffffffffu;

// The client thread spins for an answer it knows is coming before it sleeps in poll: the
// spin must end on what ends the wait (the event, or a socket with bytes) and give up once
// its time has run out, never sleep past it nor report a quiet socket as ready.
TEST(WakeEventTest, ASpinEndsOnTheEventOrOnBytesAndGivesUpWhenNothingComes) {
  int pair[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, pair));
  owc::WakeEvent event;
  ASSERT_TRUE(event.IsValid());
  const std::vector<int> sockets{-1, pair[0]};  // an unwatched slot is skipped

  EXPECT_EQ(SpinOutcome::kNothing, owc::SpinForEventOrReadable(event, sockets, 200, kNeverCrowded));

  event.Set();
  EXPECT_EQ(SpinOutcome::kReady, owc::SpinForEventOrReadable(event, sockets, 0, kNeverCrowded));
  event.Reset();
  EXPECT_EQ(SpinOutcome::kNothing, owc::SpinForEventOrReadable(event, sockets, 0, kNeverCrowded));

  // Bytes written while the spin runs end it; the budget is far beyond any scheduling
  // delay, so only a spin that missed them would run it out.
  std::thread writer([&] { EXPECT_EQ(1, write(pair[1], "x", 1)); });
  EXPECT_EQ(SpinOutcome::kReady,
            owc::SpinForEventOrReadable(event, sockets, 30u * 1000 * 1000, kNeverCrowded));
  writer.join();

  close(pair[0]);
  close(pair[1]);
}

}  // namespace
}  // namespace owc_test
