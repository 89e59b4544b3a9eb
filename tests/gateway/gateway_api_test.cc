// The gateway exports' argument handling, on the module's one session. No server listens
// on the address used: the session only tries to connect.
#include <gtest/gtest.h>

#include "owclient/owclient.h"
#include "support/log_capture.h"

namespace {

constexpr uint32_t kNobody = 0x7F00003D;  // 127.0.0.61

void Ignore(HOBWBlockQElt*, uintptr_t) {}

class GatewayApiTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(1, OrbrixWireStartup(0)); }
  void TearDown() override {
    HOBWStop(0);
    OrbrixWireShutdown();
  }
  HOBWStats Stats() {
    HOBWStats s{};
    EXPECT_EQ(1, HOBWGetStats(&s));
    return s;
  }

  owc_test::LogCapture log;
};

TEST_F(GatewayApiTest, RefusedStartsStartNothing) {
  EXPECT_EQ(0u, OBW_HANDLE_INVALID);
  EXPECT_EQ(0, HOBWGetStats(nullptr));
  EXPECT_EQ(0, HOBWStart(kNobody, nullptr, 0, 1, 5));
  EXPECT_EQ(0, HOBWStartWithTemplate(kNobody, &Ignore, 0, 1, nullptr, 0, nullptr, 0, 1, 5));
  // A reference with a trailing blank names no property: the template does not load.
  const char bad[] = "<?Kavio insert headline ?>";
  EXPECT_EQ(0, HOBWStartWithTemplate(kNobody, &Ignore, 0, 2, bad, sizeof bad - 1, nullptr, 0, 1,
                                     5));
  EXPECT_FALSE(log.HasPart("HOBWThread::Run"));
  EXPECT_EQ(0, Stats().mSessionValid);
  EXPECT_EQ(1, HOBWStop(1));  // nothing running: nothing to wait for
}

TEST_F(GatewayApiTest, ResumedSessionIsReportedAtOnceAndClearedByTheStop) {
  ASSERT_EQ(1, HOBWStart(kNobody, &Ignore, 0, 1, 77));
  HOBWStats s = Stats();
  EXPECT_EQ(1, s.mSessionValid);
  EXPECT_EQ(77u, uint32_t{s.mSessionID});
  EXPECT_EQ(1, HOBWStop(0));
  EXPECT_TRUE(log.Has("HOBWThread::Run thread terminated"));
  s = Stats();
  EXPECT_EQ(0, s.mSessionValid);
  EXPECT_EQ(0u, uint32_t{s.mSessionID});
  EXPECT_EQ(0, s.mConnected);
  // A start while running restarts the session with the new settings.
  ASSERT_EQ(1, HOBWStart(kNobody, &Ignore, 0, 1, 5));
  ASSERT_EQ(1, HOBWStart(kNobody, &Ignore, 0, 1, 6));
  EXPECT_EQ(6u, uint32_t{Stats().mSessionID});
}

}  // namespace
