#include "wire/wire_msg_tables.h"

#include <string>

#include "gtest/gtest.h"
#include "owclient/wire_messages.h"

namespace {

using owc::GetMsgType;
using owc::GetMsgTypeByPrefix;

// A whole word ignores case but not length; a prefix ignores case and compares only the
// bytes available, up to the keyword's end.
TEST(WireMsgTablesTest, LookupsByWordAndByPrefixAndKeywordsOutsideTheTables) {
  const struct {
    const char* text;
    uint32_t length, type;  // length 0: a whole word
  } cases[] = {{"done", 0, 8},   {"DONES", 0, 10}, {"DON", 0, 10},
               {"????", 0, 10},  {"user", 4, 1},   {"tAZU Orbrix", 11, 0},
               {"BLK12:", 6, 6}, {"ACK 3", 5, 4},  {"unkn (400)", 10, 9},
               {"XUSR", 4, 10},  {"????", 4, 10},  {"USEX", 4, 10},
               {"USEX", 3, 1},   {"u", 1, 1},      {"fi", 2, 5},
               {"HR", 2, 7}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.type, c.length == 0 ? GetMsgType(c.text) : GetMsgTypeByPrefix(c.text, c.length))
        << c.text << " " << c.length;
  }
  EXPECT_EQ(0u, GetRequestType("all"));
  EXPECT_EQ(1u, GetRequestType("Story"));
  EXPECT_EQ(2u, GetRequestType("STORIES"));
  EXPECT_EQ(2u, GetRequestType(nullptr));
  EXPECT_STREQ("STORY", GetRequestKeyword(1));
  EXPECT_STREQ("????", GetRequestKeyword(2));
  EXPECT_STREQ("????", GetMsgKeyword(4000000000u));  // the others show in every image
}

TEST(WireMsgTablesTest, StatusTextsAndBadRequestForEveryOtherCode) {
  const std::pair<int32_t, const char*> cases[] = {
      {204, "(204) No content"},          {401, "(401) Unauthorized"}, {404, "(404) Not found"},
      {405, "(405) Method not allowed"},  {409, "(409) Conflict"},     {410, "(410) Gone"},
      {503, "(503) Service unavailable"}, {400, "(400) Bad request"},  {200, "(400) Bad request"},
      {-410, "(400) Bad request"}};
  for (const auto& c : cases) EXPECT_STREQ(c.second, GetStatusText(c.first)) << c.first;
}

}  // namespace
