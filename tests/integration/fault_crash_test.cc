// SPDX-License-Identifier: MIT
// owgateway killed with SIGKILL at ten seeded random moments while owwired serves 400 files of
// 1 KB to 2 MB, and restarted each time: whatever the server counted as delivered is in the
// folder, byte for byte, once; nothing is left half-written. Once with the server waiting for
// each block's acknowledgement, once pipelining every block of a file. bench/soak runs the
// same for longer.
#include <gtest/gtest.h>

#include "support/gateway_crash_run.h"

namespace owc_test {
namespace {

TEST(OwgatewayTest, SigkillAtRandomMomentsLosesNoAcknowledgedFileBlockByBlockOrPipelined) {
  for (const bool pipeline : {false, true}) {
    SCOPED_TRACE(pipeline ? "pipelined" : "block by block");
    CrashRunSettings settings;
    settings.gateway = OWGATEWAY_BIN;
    settings.address = pipeline ? "127.0.5.2" : "127.0.5.1";
    settings.seed = pipeline ? 41 : 14;
    settings.pipeline = pipeline;
    const CrashRunResult r = RunGatewayCrashes(settings);
    EXPECT_EQ(400u, r.files);
    EXPECT_EQ(10u, r.kills);
    // Names each file missing, differing or left over, an unfinished or failed last run,
    // and files not counted delivered once over every session the runs logged in to.
    EXPECT_EQ("", r.problem);
  }
}

}  // namespace
}  // namespace owc_test
