// SPDX-License-Identifier: MIT
// The message scheme on its own: what a consumer relies on, without a server.
#include "message_scheme.h"

#include <gtest/gtest.h>

#include "jetstream_options.h"

namespace owc_test {
namespace {

using namespace owgateway;  // the scheme's functions and types, as owgateway uses them

CompletedFile FileOf(const std::string& name, const std::string& bytes,
                     CompletedFile::Kind kind = CompletedFile::Kind::kRaw) {
  CompletedFile file;
  file.kind = kind;
  file.fileName = name;
  file.data = reinterpret_cast<const uint8_t*>(bytes.data());
  file.length = bytes.size();
  return file;
}

std::string HeaderOf(const Headers& headers, const std::string& key) {
  for (const auto& h : headers) {
    if (h.first == key) return h.second;
  }
  return "<none>";
}

TEST(MessageSchemeTest, SubjectTokensHoldNoSeparatorWildcardOrBlank) {
  EXPECT_EQ(SubjectToken("tea-harvest.xml"), "tea-harvest_xml");
  EXPECT_EQ(SubjectToken("a b*c>d\te\x01.\xc3\xa9"), "a_b_c_d_e____");
  EXPECT_EQ(SubjectToken(""), "_");
  std::string longName(300, 'n');
  std::string token = SubjectToken(longName);
  EXPECT_EQ(token.size(), 128u);
  EXPECT_NE(token, SubjectToken(longName + "x")) << "cut names stay apart by their hash";
  EXPECT_EQ(SubjectFor("wire.feed", FileOf("x.htm", "", CompletedFile::Kind::kHtml)),
            "wire.feed.html.x_htm");
  EXPECT_EQ(DefaultSubjectPrefix("127.0.0.1"), "wire.127_0_0_1");
}

TEST(MessageSchemeTest, StreamSubjectsMatchAsTheServerDoes) {
  for (const char* pattern : {"wire.feed.>", ">", "wire.*.raw.*", "wire.feed.raw.x"}) {
    EXPECT_TRUE(SubjectMatches(pattern, "wire.feed.raw.x")) << pattern;
  }
  for (const char* pattern : {"wire.feed", "wire.feed.raw.x.y", "wire.other.>"}) {
    EXPECT_FALSE(SubjectMatches(pattern, "wire.feed.raw.x")) << pattern;
  }
  EXPECT_FALSE(SubjectMatches("wire.feed.raw.*", "wire.feed.html.x"));
}

// The id must survive a new session (it holds none) and tell apart what must not be merged.
TEST(MessageSchemeTest, MessageIdFollowsKindNameAndContent) {
  const std::string a = "<story>one</story>", b = "<story>two</story>";
  EXPECT_EQ(MessageId(FileOf("s.xml", a)), MessageId(FileOf("s.xml", a)));
  EXPECT_NE(MessageId(FileOf("s.xml", a)), MessageId(FileOf("s.xml", b)));
  EXPECT_NE(MessageId(FileOf("s.xml", a)), MessageId(FileOf("t.xml", a)));
  EXPECT_NE(MessageId(FileOf("s.xml", a)),
            MessageId(FileOf("s.xml", a, CompletedFile::Kind::kHtml)));
  std::string id = MessageId(FileOf("bad\r\nname", a));
  EXPECT_EQ(id.find_first_of("\r\n"), std::string::npos);
  EXPECT_NE(MessageId(FileOf("a%0Ab", a)), MessageId(FileOf("a\nb", a)));
}

TEST(MessageSchemeTest, HeadersDescribeTheFileOnOneLineEach) {
  const std::string bytes = "<rdf/>";
  CompletedFile file = FileOf("tea-harvest.rdf", bytes);
  file.storyName = "tea-harvest";
  file.headline = "Hill growers\r\npick early";
  file.receivedUnixMs = 1796528887123;  // 2026-12-06T03:48:07.123Z
  Headers headers = FileHeaders(file, MessageId(file));
  EXPECT_EQ(HeaderOf(headers, "Content-Type"), "application/rdf+xml");
  EXPECT_EQ(HeaderOf(headers, "Ow-Story"), "tea-harvest");
  EXPECT_EQ(HeaderOf(headers, "Ow-Headline"), "Hill growers  pick early");
  EXPECT_EQ(HeaderOf(headers, "Ow-Received"), "2026-12-06T03:48:07.123Z");
  EXPECT_EQ(HeaderOf(headers, "Ow-Size"), "6");
  EXPECT_EQ(HeaderOf(FileHeaders(FileOf("notice.txt", bytes), "id"), "Ow-Story"), "<none>");
  EXPECT_EQ(StoryNameOf("river-ice.htm"), "river-ice");
  EXPECT_EQ(StoryNameOf("notice.txt"), "");
}

TEST(MessageSchemeTest, ChunksFillThePayloadAndTheLastIsMarked) {
  ChunkPlan plan;
  std::string error;
  ASSERT_TRUE(PlanChunks(1000, 1200, 200, 256, plan, error));
  EXPECT_EQ(plan.count, 1u) << "exactly full still fits";
  ASSERT_TRUE(PlanChunks(1001, 1200, 200, 256, plan, error));
  EXPECT_EQ(plan.chunkBytes, 1200u - 200 - 256);
  EXPECT_EQ(plan.count, 2u);
  ASSERT_TRUE(PlanChunks(200000, 65536, 400, 300, plan, error));
  EXPECT_GE(plan.chunkBytes * plan.count, 200000u);
  EXPECT_LT(plan.chunkBytes * (plan.count - 1), 200000u);
  EXPECT_FALSE(PlanChunks(5000, 1000, 400, 200, plan, error));
  EXPECT_NE(error.find("maximum payload"), std::string::npos);
  EXPECT_FALSE(PlanChunks(10, 0, 400, 200, plan, error));

  Headers last = ChunkHeaders("id", 2, 3, 4096);
  Headers middle = ChunkHeaders("id", 1, 3, 2048);
  EXPECT_EQ(HeaderOf(last, "Nats-Msg-Id"), "id#2/3");
  EXPECT_EQ(HeaderOf(last, "Ow-Final"), "1");
  EXPECT_EQ(HeaderOf(middle, "Ow-Final"), "<none>");
  EXPECT_EQ(HeaderOf(middle, "Ow-Offset"), "2048");
  EXPECT_EQ(EncodedHeaderBytes({{"Ab", "cd"}}), 12u + 8u);
}

TEST(MessageSchemeTest, PublishListsSplitAndGetTheirScheme) {
  std::vector<std::string> servers;
  std::string error;
  ASSERT_TRUE(ParsePublishUrls("nats://a:4222, b:4223,,tls://u:p@c:4224", servers, error));
  EXPECT_EQ(servers,
            (std::vector<std::string>{"nats://a:4222", "nats://b:4223", "tls://u:p@c:4224"}));
  EXPECT_FALSE(ParsePublishUrls(" , ", servers, error));
  EXPECT_FALSE(ParsePublishUrls("nats://:4222", servers, error));
  EXPECT_NE(error.find("no host"), std::string::npos);
}

}  // namespace
}  // namespace owc_test
