#include "wire_format.h"

#include <gtest/gtest.h>

namespace owwired {
namespace {

TEST(ParseClientMessageTest, SplitsPrefixAckKeywordAndArguments) {
  ClientMessage message;
  ASSERT_TRUE(ParseClientMessage("12:+ACK a.xml\tb.rdf", &message));
  EXPECT_TRUE(message.has_session);
  EXPECT_EQ(message.session_id, 12u);
  EXPECT_EQ(message.ack, '+');
  EXPECT_EQ(message.keyword, Keyword::kAck);
  EXPECT_EQ(message.args, (std::vector<std::string>{"a.xml", "b.rdf"}));
}

TEST(ParseClientMessageTest, KeywordsAreWholeWordsInAnyCase) {
  ClientMessage message;
  ASSERT_TRUE(ParseClientMessage("user", &message));
  EXPECT_FALSE(message.has_session);
  EXPECT_EQ(message.keyword, Keyword::kUser);
  ASSERT_TRUE(ParseClientMessage("USERS", &message));
  EXPECT_EQ(message.keyword, Keyword::kUnknown);
  EXPECT_EQ(message.keyword_text, "USERS");
}

TEST(ParseClientMessageTest, NegativeSessionIdIsReadAsItsUnsignedBits) {
  ClientMessage message;
  ASSERT_TRUE(ParseClientMessage("-5:RQST", &message));
  EXPECT_EQ(message.session_id, 4294967291u);
  EXPECT_EQ(message.ack, 0);
  ASSERT_TRUE(ParseClientMessage("4294967295:HRTB", &message));
  EXPECT_EQ(message.session_id, 4294967295u);
}

TEST(ParseClientMessageTest, RejectsWhatIsNotAMessage) {
  ClientMessage message;
  for (const std::string& text :
       {std::string(""), std::string("   "), std::string("12USER"), std::string("12:"),
        std::string("4294967296:USER"), std::string("+"), std::string("1:-"),
        std::string("US\x01"
                    "ER"),
        std::string("USER\x7f", 5)}) {
    EXPECT_FALSE(ParseClientMessage(text, &message)) << text;
  }
}

TEST(TextMessageTest, WritesPrefixAckKeywordStatusAndArguments) {
  EXPECT_EQ(TextMessage(Prefix{true, 7}, '+', "RQST", 204),
            std::string("7:+RQST (204) No content\0", 25));
  EXPECT_EQ(TextMessage(Prefix(), '-', "UNKN", 999), std::string("-UNKN (400) Bad request\0", 24));
  EXPECT_EQ(TextMessage(Prefix{true, 1}, '-', "USER", 401),
            std::string("1:-USER (401) Unauthorized\0", 27));
  EXPECT_EQ(TextMessage(Prefix{true, 3}, 0, "DONE", 0), std::string("3:DONE\0", 7));
  EXPECT_EQ(TextMessage(Prefix{true, 3}, '+', "FILE", 0, {"a.xml", "a.rdf"}),
            std::string("3:+FILE a.xml a.rdf\0", 20));
}

TEST(BlockTest, HeadCarriesTheLengthBigEndianAndTailEndsWithNul) {
  EXPECT_EQ(BlockHead(Prefix{true, 9}, 12, 0x1234), std::string("9:+BLK12:\x12\x34", 11));
  EXPECT_EQ(BlockHead(Prefix(), 0, 65535), std::string("+BLK0:\xff\xff", 8));
  EXPECT_EQ(BlockTail(true), std::string("BLKe\0", 5));
  EXPECT_EQ(BlockTail(false), std::string("BLKm\0", 5));
}

TEST(ParseU32Test, AcceptsOnlyPlainDecimalsThatFit) {
  uint32_t value = 0;
  EXPECT_TRUE(ParseU32("4294967295", &value));
  EXPECT_EQ(value, 4294967295u);
  EXPECT_FALSE(ParseU32("4294967296", &value));
  EXPECT_FALSE(ParseU32("", &value));
  EXPECT_FALSE(ParseU32("+1", &value));
  EXPECT_FALSE(ParseU32("1 ", &value));
  EXPECT_FALSE(ParseU32("00000000001", &value));
}

}  // namespace
}  // namespace owwired
