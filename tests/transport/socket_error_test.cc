#include <gtest/gtest.h>

#include <cerrno>

#include "platform/socket_errors.h"
#include "transport/socket_config.h"
#include "transport/socket_error_text.h"

namespace {

using owc::SocketErrorFromErrno;

TEST(SocketErrors, ErrnoValuesReadAsWindowsSocketsNumbers) {
  EXPECT_EQ(10035u, SocketErrorFromErrno(EWOULDBLOCK));
  EXPECT_EQ(10035u, SocketErrorFromErrno(EAGAIN));
  EXPECT_EQ(10036u, SocketErrorFromErrno(EINPROGRESS));
  EXPECT_EQ(10038u, SocketErrorFromErrno(ENOTSOCK));
  EXPECT_EQ(10054u, SocketErrorFromErrno(ECONNRESET));
  EXPECT_EQ(10054u, SocketErrorFromErrno(EPIPE));
  EXPECT_EQ(10057u, SocketErrorFromErrno(ENOTCONN));
  EXPECT_EQ(10060u, SocketErrorFromErrno(ETIMEDOUT));
  EXPECT_EQ(10061u, SocketErrorFromErrno(ECONNREFUSED));
  EXPECT_EQ(10065u, SocketErrorFromErrno(EHOSTUNREACH));
}

TEST(SocketErrors, AnErrnoWithoutCounterpartIsReportedAsItIs) {
  EXPECT_EQ(static_cast<uint32_t>(ENOMEM), SocketErrorFromErrno(ENOMEM));
  EXPECT_EQ(static_cast<uint32_t>(EIO), SocketErrorFromErrno(EIO));
}

TEST(SocketErrors, OnlyWouldBlockAndInterruptedAreTransient) {
  EXPECT_TRUE(owc::IsTransientSocketError(10035));
  EXPECT_TRUE(owc::IsTransientSocketError(10004));
  EXPECT_FALSE(owc::IsTransientSocketError(10054));
  EXPECT_FALSE(owc::IsTransientSocketError(10036));
}

TEST(SocketErrorText, ListedCodesHaveTheirTextOthersReadUnknown) {
  EXPECT_STREQ("connection reset by peer", owc::GetSocketErrorText(10054));
  EXPECT_STREQ("would block", owc::GetSocketErrorText(10035));
  EXPECT_STREQ("interrupted call", owc::GetSocketErrorText(10004));
  EXPECT_STREQ("graceful shutdown in progress", owc::GetSocketErrorText(10101));
  EXPECT_STREQ("no data record of requested type", owc::GetSocketErrorText(11004));
  EXPECT_STREQ("unknown", owc::GetSocketErrorText(5));
  EXPECT_STREQ("unknown", owc::GetSocketErrorText(10000));
}

TEST(CSocketConfig, RejectsOnlyTheInvalidSocket) {
  owc::CSocketConfig config;
  EXPECT_EQ(0u, config.GetMode());
  EXPECT_STREQ("", config.GetErrorText());
  EXPECT_FALSE(config.Check(-1));
  EXPECT_STREQ("Invalid Socket", config.GetErrorText());
  config.SetMode(7);
  EXPECT_TRUE(config.Check(3));
}

}  // namespace
