// SPDX-License-Identifier: MIT
#include "platform/socket_errors.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace owc_test {
namespace {

TEST(SocketErrorsTest, ErrnoReadsAsTheWindowsSocketsNumber) {
  const int cases[][2] = {
      {EWOULDBLOCK, 10035}, {EINPROGRESS, 10036},  {ENOTSOCK, 10038}, {EPIPE, 10054},
      {ETIMEDOUT, 10060},   {ECONNREFUSED, 10061}, {EIO, EIO}};  // no counterpart: as it is
  for (const auto& c : cases) EXPECT_EQ(uint32_t(c[1]), owc::SocketErrorFromErrno(c[0])) << c[0];
  EXPECT_TRUE(owc::IsTransientSocketError(10004));
  EXPECT_FALSE(owc::IsTransientSocketError(10036));
}

}  // namespace
}  // namespace owc_test
