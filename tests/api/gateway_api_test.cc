// SPDX-License-Identifier: MIT
// The gateway exports' argument handling, on the module's one session. Nothing listens on
// the address used: the session only tries to connect.
#include <gtest/gtest.h>

#include "owclient/owclient.h"
#include "support/log_capture.h"

namespace owc_test {
namespace {

constexpr uint32_t kNobody = 0x7F00003D;  // 127.0.0.61

void Ignore(HOBWBlockQElt*, uintptr_t) {}

// "session valid/session id/connected" of the statistics.
std::string Session() {
  HOBWStats s{};
  EXPECT_EQ(1, HOBWGetStats(&s));
  return std::to_string(s.mSessionValid) + "/" + std::to_string(uint32_t{s.mSessionID}) + "/" +
         std::to_string(s.mConnected);
}

TEST(GatewayApiTest, RefusedStartsStartNothingAndAStartReportsItsSessionIdUntilTheStop) {
  owc_test::LogCapture log;
  ASSERT_EQ(1, OrbrixWireStartup(0));
  EXPECT_EQ(0, HOBWGetStats(nullptr));
  EXPECT_EQ(0, HOBWStart(kNobody, nullptr, 0, 1, 5));
  EXPECT_EQ(0, HOBWStartWithTemplate(kNobody, &Ignore, 0, 1, nullptr, 0, nullptr, 0, 1, 5));
  // A reference with a trailing blank names no property: the template does not load.
  const char bad[] = "<?Kavio insert headline ?>";
  EXPECT_EQ(0,
            HOBWStartWithTemplate(kNobody, &Ignore, 0, 2, bad, sizeof bad - 1, nullptr, 0, 1, 5));
  EXPECT_FALSE(log.HasPart("HOBWThread::Run"));
  EXPECT_EQ("0/0/0", Session());
  EXPECT_EQ(1, HOBWStop(1));  // nothing running: nothing to wait for
  EXPECT_EQ(2, HOBWDrain(1000));

  ASSERT_EQ(1, HOBWStart(kNobody, &Ignore, 0, 1, 77));
  EXPECT_EQ("1/77/0", Session());                      // at once
  ASSERT_EQ(1, HOBWStart(kNobody, &Ignore, 0, 1, 6));  // restarts with the new settings
  EXPECT_EQ("1/6/0", Session());
  EXPECT_EQ(0, HOBWDrain(0));  // running, nothing queued
  EXPECT_EQ(1, HOBWStop(0));
  EXPECT_EQ(2, HOBWDrain(0));
  EXPECT_TRUE(log.Has("HOBWThread::Run thread terminated"));
  EXPECT_EQ("0/0/0", Session());
  OrbrixWireShutdown();
}

}  // namespace
}  // namespace owc_test
