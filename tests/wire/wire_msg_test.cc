#include <cstdlib>
#include <cstring>
#include <string>

#include "gtest/gtest.h"
#include "owclient/wire_messages.h"
#include "wire/wire_alloc.h"

namespace {

using namespace std::string_literals;

// The whole image, terminating NUL included.
std::string Image(const WCXMLWireMsg& msg) { return std::string(msg.GetMsgBuf(), msg.GetMsgLen()); }

TEST(WireMsgTest, UserWithoutSessionIsKeywordAndNul) {
  WCXMLWireMsgUserReq msg;
  ASSERT_TRUE(msg.SetInfo(0, 0, nullptr));
  EXPECT_EQ(Image(msg), "USER\0"s);
  EXPECT_EQ(msg.GetMsgLen(), 5u);
  EXPECT_EQ(msg.GetType(), WCXMLWireMsg::kTypeUser);
  EXPECT_EQ(msg.GetAckType(), WCXMLWireMsg::kAckNone);
}

TEST(WireMsgTest, UserWithSessionHasDecimalPrefixAndOptionalText) {
  WCXMLWireMsgUserReq msg;
  ASSERT_TRUE(msg.SetInfo(1, 12, nullptr));
  EXPECT_EQ(Image(msg), "12:USER\0"s);
  EXPECT_EQ(msg.GetMsgLen(), 8u);
  ASSERT_TRUE(msg.SetInfo(1, 12, ""));
  EXPECT_EQ(Image(msg), "12:USER\0"s);
  ASSERT_TRUE(msg.SetInfo(1, 12, "guest"));
  EXPECT_EQ(Image(msg), "12:USER guest\0"s);
}

TEST(WireMsgTest, SessionFlagOtherThanOneWritesNoPrefixButIsStored) {
  WCXMLWireMsgUserReq msg;
  ASSERT_TRUE(msg.SetInfo(2, 12, nullptr));
  EXPECT_EQ(Image(msg), "USER\0"s);
  EXPECT_EQ(msg.HasSessionID(), 2);
  EXPECT_EQ(msg.GetSessionID(), 12u);
}

TEST(WireMsgTest, SessionIdIsWrittenAsSignedDecimal) {
  WCXMLWireMsgRequestReq msg;
  ASSERT_TRUE(msg.SetInfo(4294967295u));
  EXPECT_EQ(Image(msg), "-1:RQST\0"s);
  EXPECT_EQ(msg.GetSessionID(), 4294967295u);
}

TEST(WireMsgTest, UnknownAckWritesStatusTextOnlyForNonZeroStatus) {
  WCXMLWireMsgUnknownAck msg;
  ASSERT_TRUE(msg.SetInfo(0));
  EXPECT_EQ(Image(msg), "-UNKN\0"s);
  ASSERT_TRUE(msg.SetInfo(999));
  EXPECT_EQ(Image(msg), "-UNKN (400) Bad request\0"s);
  EXPECT_EQ(msg.GetStatus(), 999);
  EXPECT_EQ(msg.GetAckType(), WCXMLWireMsg::kAckNegative);
  EXPECT_EQ(msg.HasSessionID(), 0);
}

TEST(WireMsgTest, HeaderOnlyMessagesCarryPrefixAckAndStatus) {
  WCXMLWireMsgUserAck userAck;
  ASSERT_TRUE(userAck.SetInfo(false, 5, 401));
  EXPECT_EQ(Image(userAck), "5:-USER (401) Unauthorized\0"s);
  WCXMLWireMsgFilterAck filterAck;
  ASSERT_TRUE(filterAck.SetInfo(true, 5, 0));
  EXPECT_EQ(Image(filterAck), "5:+FLTR\0"s);
  WCXMLWireMsgRequestAck requestAck;
  ASSERT_TRUE(requestAck.SetInfo(true, 5, 204));
  EXPECT_EQ(Image(requestAck), "5:+RQST (204) No content\0"s);
  WCXMLWireMsgHeartbeatReq hrtbReq;
  ASSERT_TRUE(hrtbReq.SetInfo(5));
  EXPECT_EQ(Image(hrtbReq), "5:HRTB\0"s);
  WCXMLWireMsgHeartbeatAck hrtbAck;
  ASSERT_TRUE(hrtbAck.SetInfo(5));
  EXPECT_EQ(Image(hrtbAck), "5:+HRTB\0"s);
  WCXMLWireMsgDoneReq doneReq;
  ASSERT_TRUE(doneReq.SetInfo(5));
  EXPECT_EQ(Image(doneReq), "5:DONE\0"s);
  WCXMLWireMsgDoneAck doneAck;
  ASSERT_TRUE(doneAck.SetInfo(5));
  EXPECT_EQ(Image(doneAck), "5:+DONE\0"s);
}

TEST(WireMsgTest, FilterAppendsOneWordPerFilterAndSetInfoForgetsThem) {
  WCXMLWireMsgFilterReq msg;
  ASSERT_TRUE(msg.SetInfo(7));
  ASSERT_TRUE(msg.AddFilter(WCXMLWireMsgFilterReq::kRequestAll));
  ASSERT_TRUE(msg.AddFilter(WCXMLWireMsgFilterReq::kRequestStory));
  EXPECT_EQ(Image(msg), "7:FLTR ALL STORY\0"s);
  ASSERT_EQ(msg.GetFilterCount(), 2u);
  EXPECT_EQ(msg.GetFilter(1), WCXMLWireMsgFilterReq::kRequestStory);
  ASSERT_TRUE(msg.SetInfo(8));
  EXPECT_EQ(Image(msg), "8:FLTR\0"s);
  EXPECT_EQ(msg.GetFilterCount(), 0u);
}

TEST(WireMsgTest, AckWithOneNameAndEmptySecondArgument) {
  WCXMLWireMsgRequestAckReq msg;
  ASSERT_TRUE(msg.SetInfo(7));
  ASSERT_TRUE(msg.SetArg1("story1.xml"));
  ASSERT_TRUE(msg.SetArg2(""));
  ASSERT_TRUE(msg.SetArg2(nullptr));
  EXPECT_EQ(Image(msg), "7:+ACK story1.xml\0"s);
  EXPECT_STREQ(msg.GetArg1(), "story1.xml");
  EXPECT_EQ(msg.GetArg2(), nullptr);
}

TEST(WireMsgTest, LongArgumentIsCutTo254CharactersButItsCopyIsWhole) {
  const std::string fits(254, 'f');
  const std::string longer(300, 'x');
  WCXMLWireMsgRequestAckReq msg;
  ASSERT_TRUE(msg.SetInfo(7));
  ASSERT_TRUE(msg.SetArg1(fits.c_str()));
  ASSERT_TRUE(msg.SetArg2(longer.c_str()));
  EXPECT_EQ(Image(msg), "7:+ACK " + fits + " " + longer.substr(0, 254) + "\0"s);
  EXPECT_EQ(msg.GetArg2(), longer);
}

TEST(WireMsgTest, FileKeepsNamesInOrderAndSkipsMissingOnes) {
  WCXMLWireMsgRequestFileAck msg;
  ASSERT_TRUE(msg.SetInfo(3, "parent.xml", "story.rdf"));
  EXPECT_EQ(Image(msg), "3:+FILE parent.xml story.rdf\0"s);
  EXPECT_STREQ(msg.GetName1(), "parent.xml");
  EXPECT_STREQ(msg.GetName2(), "story.rdf");
  ASSERT_TRUE(msg.SetInfo(3, "story.xml", nullptr));
  EXPECT_EQ(Image(msg), "3:+FILE story.xml\0"s);
  EXPECT_EQ(msg.GetName2(), nullptr);
}

TEST(WireMsgTest, BlockWithNulBytesHasBigEndianLengthAndLastMarker) {
  std::string data(258, 'd');
  data[0] = '\0';
  data[100] = '\0';
  data[257] = '\0';
  WCXMLWireMsgRequestBlockAck msg;
  ASSERT_TRUE(msg.SetInfo(4, 31, 258, data.data(), 1));
  const std::string head = "4:+BLK31:\x01\x02"s;
  EXPECT_EQ(Image(msg), head + data + "BLKe\0"s);
  EXPECT_EQ(msg.GetMsgLen(), head.size() + 258 + 4 + 1);
  ASSERT_EQ(msg.GetData(), reinterpret_cast<const uint8_t*>(msg.GetMsgBuf()) + head.size());
  EXPECT_EQ(std::memcmp(msg.GetData(), data.data(), data.size()), 0);
  EXPECT_EQ(msg.GetDataLength(), 258);
  EXPECT_EQ(msg.IsLastBlock(), 1);
}

TEST(WireMsgTest, EmptyBlockDataViewPointsAtTheMarker) {
  WCXMLWireMsgRequestBlockAck msg;
  ASSERT_TRUE(msg.SetInfo(4, 9, 0, nullptr, 0));
  EXPECT_EQ(Image(msg), "4:+BLK9:\0\0BLKm\0"s);
  ASSERT_NE(msg.GetData(), nullptr);
  EXPECT_EQ(std::memcmp(msg.GetData(), "BLKm", 4), 0);
}

TEST(WireMsgTest, LargestBlockKeepsAllBytes) {
  std::string data(65535, 'z');
  WCXMLWireMsgRequestBlockAck msg;
  ASSERT_TRUE(msg.SetInfo(1, 0, 65535, data.data(), 2));  // any flag but 1 means more follow
  EXPECT_EQ(Image(msg), "1:+BLK0:\xFF\xFF"s + data + "BLKm\0"s);
}

TEST(WireMsgTest, ManyAppendsBuildTheConcatenation) {
  WCXMLWireMsg msg;
  EXPECT_FALSE(msg.AppendData("x", 1));  // no head yet
  ASSERT_TRUE(msg.SetHeader(1, 2, WCXMLWireMsg::kTypeAck, WCXMLWireMsg::kAckPositive, 0));
  std::string expected = "2:+ACK";
  for (int i = 0; i < 1000; ++i) {
    ASSERT_TRUE(msg.AppendData("a\0c", 3));
    expected += "a\0c"s;
  }
  EXPECT_EQ(Image(msg), expected + "\0"s);
  ASSERT_TRUE(msg.SetHeader(0, 0, WCXMLWireMsg::kTypeInvalid, 0, 409));
  EXPECT_EQ(Image(msg), "???? (409) Conflict\0"s);
}

TEST(WireMsgTest, HelloIsBuiltAtConstructionAndFollowsVersions) {
  WCXMLWireMsgHello msg;
  EXPECT_EQ(Image(msg), "+Tazu Orbrix v1.00.00 v1.00.00\0"s);
  EXPECT_EQ(msg.GetType(), WCXMLWireMsg::kTypeHello);
  ASSERT_TRUE(msg.SetVersions(2, 3, 45, 10, 0, 123));
  EXPECT_EQ(Image(msg), "+Tazu Orbrix v2.03.45 v10.00.123\0"s);
  EXPECT_EQ(msg.GetPatch2(), 123u);
  ASSERT_TRUE(msg.SetProductID("Feedd"));
  EXPECT_EQ(Image(msg), "+Tazu Feedd v2.03.45 v10.00.123\0"s);
  const std::string longID(300, 'p');
  ASSERT_TRUE(msg.SetProductID(longID.c_str()));
  EXPECT_EQ(std::string(msg.GetProductID()), longID.substr(0, 261));
}

// Fails every allocation after the first `sAllowed` ones.
int sAllowed = 0;
void* FailingRealloc(void* ptr, size_t size) {
  if (sAllowed == 0) return nullptr;
  --sAllowed;
  return std::realloc(ptr, size);
}

class WireMsgAllocTest : public ::testing::Test {
 protected:
  void SetUp() override { owc::SetWireReallocHook(FailingRealloc); }
  void TearDown() override { owc::SetWireReallocHook(nullptr); }

  // Builds with 0, 1, 2, ... allocations allowed until the build succeeds. A build stops
  // at its first failing step, which must leave the message without an image.
  template <class Msg, class Build>
  void ExpectCleanFailures(Build build) {
    for (int allowed = 0; allowed < 20; ++allowed) {
      Msg msg;
      sAllowed = allowed;
      if (build(msg)) return;
      EXPECT_EQ(msg.GetMsgBuf(), nullptr) << "allowed " << allowed;
      EXPECT_EQ(msg.GetMsgLen(), 0u) << "allowed " << allowed;
    }
    ADD_FAILURE() << "never succeeded";
  }
};

TEST_F(WireMsgAllocTest, EveryFailedBuildLeavesNoImage) {
  ExpectCleanFailures<WCXMLWireMsgUserReq>([](auto& m) { return m.SetInfo(1, 5, "guest"); });
  ExpectCleanFailures<WCXMLWireMsgFilterReq>([](auto& m) {
    bool ok = m.SetInfo(5);
    for (int i = 0; ok && i < 6; ++i) ok = m.AddFilter(0);  // the list outgrows its first size
    return ok;
  });
  ExpectCleanFailures<WCXMLWireMsgRequestAckReq>(
      [](auto& m) { return m.SetInfo(5) && m.SetArg1("a.xml") && m.SetArg2("b.xml"); });
  ExpectCleanFailures<WCXMLWireMsgRequestFileAck>(
      [](auto& m) { return m.SetInfo(5, "a.xml", "b.xml"); });
  ExpectCleanFailures<WCXMLWireMsgRequestBlockAck>(
      [](auto& m) { return m.SetInfo(5, 1, 3, "abc", 1); });
}

TEST_F(WireMsgAllocTest, HelloWithoutImageRefusesNewVersions) {
  sAllowed = 0;
  WCXMLWireMsgHello msg;
  EXPECT_EQ(msg.GetMsgLen(), 0u);
  sAllowed = 10;
  EXPECT_FALSE(msg.SetVersions(2, 0, 0, 2, 0, 0));
  EXPECT_EQ(msg.GetMajor1(), 1u);
}

TEST_F(WireMsgAllocTest, BlockIsBuiltWithOneAllocation) {
  sAllowed = 1;
  std::string data(4096, 'b');
  WCXMLWireMsgRequestBlockAck msg;
  EXPECT_TRUE(msg.SetInfo(5, 1, 4096, data.data(), 0));
}

}  // namespace
