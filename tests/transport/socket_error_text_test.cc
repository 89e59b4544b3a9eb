// SPDX-License-Identifier: MIT
#include "transport/socket_error_text.h"

#include <gtest/gtest.h>

namespace owc_test {
namespace {

TEST(SocketErrorTextTest, KnownNumbersReadAsTheirTextAndOthersAsUnknown) {
  EXPECT_STREQ("connection reset by peer", owc::GetSocketErrorText(10054));
  EXPECT_STREQ("no data record of requested type", owc::GetSocketErrorText(11004));
  EXPECT_STREQ("unknown", owc::GetSocketErrorText(10000));
}

}  // namespace
}  // namespace owc_test
