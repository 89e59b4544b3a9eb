#include "wire/wire_msg_tables.h"

#include "gtest/gtest.h"
#include "owclient/wire_messages.h"

namespace {

using owc::GetMsgType;
using owc::GetMsgTypeByPrefix;

TEST(WireMsgTablesTest, KeywordsFollowTheTypeTableAndUnknownIsQuestionMarks) {
  EXPECT_STREQ(GetMsgKeyword(0), "Tazu");
  EXPECT_STREQ(GetMsgKeyword(4), "ACK");
  EXPECT_STREQ(GetMsgKeyword(6), "BLK");
  EXPECT_STREQ(GetMsgKeyword(9), "UNKN");
  EXPECT_STREQ(GetMsgKeyword(10), "????");
  EXPECT_STREQ(GetMsgKeyword(4000000000u), "????");
}

TEST(WireMsgTablesTest, PrefixLookupIgnoresCaseAndStopsAtTheKeyword) {
  EXPECT_EQ(GetMsgTypeByPrefix("user", 4), 1u);
  EXPECT_EQ(GetMsgTypeByPrefix("tAZU Orbrix", 11), 0u);
  EXPECT_EQ(GetMsgTypeByPrefix("BLK12:", 6), 6u);
  EXPECT_EQ(GetMsgTypeByPrefix("ACK 3", 5), 4u);
  EXPECT_EQ(GetMsgTypeByPrefix("unkn (400)", 10), 9u);
  EXPECT_EQ(GetMsgTypeByPrefix("XUSR", 4), 10u);
  EXPECT_EQ(GetMsgTypeByPrefix("????", 4), 10u);
}

TEST(WireMsgTablesTest, PrefixLookupComparesOnlyTheBytesAvailable) {
  EXPECT_EQ(GetMsgTypeByPrefix("USEX", 4), 10u);
  EXPECT_EQ(GetMsgTypeByPrefix("USEX", 3), 1u);
  EXPECT_EQ(GetMsgTypeByPrefix("u", 1), 1u);  // USER comes before UNKN
  EXPECT_EQ(GetMsgTypeByPrefix("fi", 2), 5u);
  EXPECT_EQ(GetMsgTypeByPrefix("HR", 2), 7u);
}

TEST(WireMsgTablesTest, WholeWordLookupsIgnoreCaseButNotLength) {
  EXPECT_EQ(GetMsgType("done"), 8u);
  EXPECT_EQ(GetMsgType("DONES"), 10u);
  EXPECT_EQ(GetMsgType("DON"), 10u);
  EXPECT_EQ(GetMsgType("????"), 10u);
  EXPECT_EQ(GetRequestType("all"), 0u);
  EXPECT_EQ(GetRequestType("Story"), 1u);
  EXPECT_EQ(GetRequestType("STORIES"), 2u);
  EXPECT_EQ(GetRequestType(nullptr), 2u);
  EXPECT_STREQ(GetRequestKeyword(1), "STORY");
  EXPECT_STREQ(GetRequestKeyword(2), "????");
}

TEST(WireMsgTablesTest, StatusTextsAndBadRequestForEveryOtherCode) {
  EXPECT_STREQ(GetStatusText(204), "(204) No content");
  EXPECT_STREQ(GetStatusText(401), "(401) Unauthorized");
  EXPECT_STREQ(GetStatusText(404), "(404) Not found");
  EXPECT_STREQ(GetStatusText(405), "(405) Method not allowed");
  EXPECT_STREQ(GetStatusText(409), "(409) Conflict");
  EXPECT_STREQ(GetStatusText(410), "(410) Gone");
  EXPECT_STREQ(GetStatusText(503), "(503) Service unavailable");
  EXPECT_STREQ(GetStatusText(400), "(400) Bad request");
  EXPECT_STREQ(GetStatusText(200), "(400) Bad request");
  EXPECT_STREQ(GetStatusText(-410), "(400) Bad request");
}

}  // namespace
