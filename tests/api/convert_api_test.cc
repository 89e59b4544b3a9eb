#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "doc/story_samples.h"
#include "owclient/owclient.h"
#include "support/temp_dir.h"

namespace {

using owc_test::kStoryRdf;
using owc_test::kStoryXml;
using owc_test::TempDir;

struct Call {
  bool nullData;
  std::string bytes;
  uintptr_t user1;
  uintptr_t user2;
};

std::vector<Call> gCalls;

void Collect(const uint8_t* data, uint32_t len, uintptr_t u1, uintptr_t u2) {
  gCalls.push_back({data == nullptr,
                    data == nullptr ? "" : std::string(reinterpret_cast<const char*>(data), len),
                    u1, u2});
}

// For getters only: their text is zero-terminated just past len.
void CollectTerminated(const uint8_t* data, uint32_t len, uintptr_t u1, uintptr_t u2) {
  Collect(data, len, u1, u2);
  EXPECT_EQ(0, data[len]);
}

std::string Last(const std::vector<Call>& calls) {
  return calls.empty() ? "<no call>" : calls.back().bytes;
}

const char kTemplate[] =
    "<h1><?Kavio insert headline?></h1><?Kavio foreach byline?><i><?Kavio insert byline?></i>"
    "<?Kavio end?><div><?Kavio insert body?></div>";
const char kTable[] = "\"p\" \"p\" \"p\" 0 1\n\"media\" \"\" \"\" 1 0\n";

class ConvertApi : public ::testing::Test {
 protected:
  void SetUp() override {
    gCalls.clear();
    ASSERT_EQ(0u,
              OBConvertNewEnv(kTemplate, sizeof kTemplate - 1, kTable, sizeof kTable - 1, &mEnv));
    ASSERT_EQ(0u, OBConvertNewObj(0, kStoryXml, sizeof kStoryXml - 1, 0, kStoryRdf,
                                  sizeof kStoryRdf - 1, &mObj));
  }
  void TearDown() override {
    EXPECT_EQ(0u, OBConvertFreeObj(mObj));
    EXPECT_EQ(0u, OBConvertFreeEnv(mEnv));
  }
  std::string Last() const { return ::Last(gCalls); }

  OBConvertEnv mEnv = nullptr;
  OBConvertObj mObj = nullptr;
};

TEST_F(ConvertApi, GettersOnAnUnparsedObjectGiveEmptyText) {
  EXPECT_EQ(0u, OBConvertGetHeadline(mObj, CollectTerminated, 1, 2));
  ASSERT_EQ(1u, gCalls.size());
  EXPECT_FALSE(gCalls[0].nullData);
  EXPECT_EQ("", gCalls[0].bytes);
}

TEST_F(ConvertApi, ApplyTemplatePassesTheHtmlWithItsTerminatorAndTheUserValues) {
  const uintptr_t big = ~static_cast<uintptr_t>(0);
  EXPECT_EQ(0u, OBConvertApplyTemplate(mEnv, mObj, Collect, big, 7));
  ASSERT_EQ(1u, gCalls.size());
  EXPECT_EQ(big, gCalls[0].user1);
  EXPECT_EQ(7u, gCalls[0].user2);
  EXPECT_EQ(std::string("<h1>Rates &amp; Markets</h1><i>By Ann</i><i>By Bob</i>"
                        "<div><p>It's up &lt;5%</p><p>Second</p></div>") +
                std::string(1, '\0'),
            gCalls[0].bytes);
}

TEST_F(ConvertApi, StandardFieldsAfterApplyingWithoutCallback) {
  EXPECT_EQ(0u, OBConvertApplyTemplate(mEnv, mObj, nullptr, 0, 0));
  EXPECT_TRUE(gCalls.empty());
  OBConvertGetSubheadline(mObj, Collect, 0, 0, 1);
  EXPECT_EQ("Second sub", Last());
  OBConvertGetSubheadline(mObj, Collect, 0, 0, 2);
  EXPECT_EQ("", Last());
  OBConvertGetByline(mObj, Collect, 0, 0, 0);
  EXPECT_EQ("By Ann", Last());
  OBConvertGetDistributor(mObj, Collect, 0, 0);
  EXPECT_EQ("Wire Co", Last());
  OBConvertGetDateline(mObj, Collect, 0, 0);
  EXPECT_EQ("2024-05-01", Last());
  OBConvertGetSeriesName(mObj, Collect, 0, 0);
  EXPECT_EQ("Economy", Last());
  OBConvertGetSeriesPart(mObj, Collect, 0, 0);
  EXPECT_EQ("2", Last());
  OBConvertGetSeriesTotalPart(mObj, Collect, 0, 0);
  EXPECT_EQ("5", Last());
  OBConvertGetBody(mObj, CollectTerminated, 0, 0);
  std::string body = Last();
  EXPECT_EQ(
      0u, OBConvertGetProperty(mObj, Collect, 0, 0, "", "\\nitf(0)\\body(0)\\body.content(0)", 1));
  EXPECT_EQ(body, Last());
  OBConvertGetProperty(mObj, Collect, 0, 0, "", "\\nitf(0)\\body(0)\\body.content(0)", 2);
  EXPECT_EQ("<body.content>" + body + "</body.content>", Last());
  OBConvertGetPropertyAttribute(mObj, Collect, 0, 0, "",
                                "\\nitf(0)\\body(0)\\body.head(0)\\series(0)", "series.name");
  EXPECT_EQ("Economy", Last());
}

TEST_F(ConvertApi, ParsePropertyInTheDefaultNamespaceNeedsItsIndexToBeRead) {
  EXPECT_EQ(0u, OBConvertAddParseProperty(mEnv, nullptr, "headline"));
  EXPECT_EQ(0u, OBConvertAddParseProperty(mEnv, nullptr, "keyword"));
  EXPECT_EQ(0u, OBConvertAddParseProperty(mEnv, nullptr, "keyword"));
  ASSERT_EQ(0u, OBConvertApplyTemplate(mEnv, mObj, nullptr, 0, 0));
  OBConvertGetProperty(mObj, Collect, 0, 0, nullptr, "headline(0)", 1);
  EXPECT_EQ("Meta headline", Last());
  OBConvertGetProperty(mObj, Collect, 0, 0, nullptr, "headline", 1);
  EXPECT_EQ("", Last());
  OBConvertGetProperty(mObj, Collect, 0, 0, owc_test::kMetaNs, "keyword(2)", 1);
  EXPECT_EQ("gamma", Last());
}

TEST_F(ConvertApi, ArgumentChecksReturnTheirCodesBeforeAnyCallback) {
  EXPECT_EQ(2u, OBConvertGetHeadline(nullptr, Collect, 0, 0));
  EXPECT_EQ(2u, OBConvertGetByline(nullptr, Collect, 0, 0, 0));
  EXPECT_EQ(2u, OBConvertGetProperty(nullptr, Collect, 0, 0, "", "x", 1));
  EXPECT_EQ(1u, OBConvertGetProperty(mObj, Collect, 0, 0, "", nullptr, 1));
  EXPECT_EQ(1u, OBConvertGetPropertyAttribute(mObj, Collect, 0, 0, "", "x", nullptr));
  EXPECT_EQ(1u, OBConvertGetPropertyAttribute(mObj, nullptr, 0, 0, "", nullptr, "a"));
  EXPECT_EQ(0u, OBConvertGetBody(mObj, nullptr, 0, 0));
  EXPECT_EQ(2u, OBConvertApplyTemplate(nullptr, mObj, Collect, 0, 0));
  EXPECT_EQ(2u, OBConvertApplyTemplate(mEnv, nullptr, Collect, 0, 0));
  EXPECT_EQ(2u, OBConvertAddParseProperty(nullptr, "", "x"));
  EXPECT_EQ(1u, OBConvertAddParseProperty(mEnv, "", nullptr));
  EXPECT_EQ(1u, OBConvertAddParseProperty(mEnv, "", ""));
  EXPECT_EQ(2u, OBConvertFreeEnv(nullptr));
  EXPECT_EQ(2u, OBConvertFreeObj(nullptr));
  EXPECT_EQ(2u, OBConvertNewEnv(kTemplate, 3, nullptr, 0, nullptr));
  EXPECT_EQ(2u, OBConvertNewObj(0, "x", 1, 0, nullptr, 0, nullptr));
  EXPECT_TRUE(gCalls.empty());
}

TEST(ConvertApiEnv, BadTemplateOrTableFailsCreationAndClearsTheHandle) {
  OBConvertEnv env = reinterpret_cast<OBConvertEnv>(1);
  EXPECT_EQ(1u, OBConvertNewEnv("<?Kavio version 3?>", 19, nullptr, 0, &env));
  EXPECT_EQ(nullptr, env);
  EXPECT_EQ(1u, OBConvertNewEnv("x", 1, "\"p\" \"P\"", 7, &env));
  EXPECT_EQ(nullptr, env);
}

TEST(ConvertApiEnv, EmptyTemplateHandsANullPointerAndFailedParseNoCall) {
  OBConvertEnv env = nullptr;
  ASSERT_EQ(0u, OBConvertNewEnv(nullptr, 0, nullptr, 0, &env));
  OBConvertObj good = nullptr;
  OBConvertObj bad = nullptr;
  ASSERT_EQ(0u, OBConvertNewObj(0, kStoryXml, sizeof kStoryXml - 1, 0, nullptr, 0, &good));
  ASSERT_EQ(0u, OBConvertNewObj(0, "<nitf>", 6, 0, nullptr, 0, &bad));
  gCalls.clear();
  EXPECT_EQ(0u, OBConvertApplyTemplate(env, good, Collect, 0, 0));
  ASSERT_EQ(1u, gCalls.size());
  EXPECT_TRUE(gCalls[0].nullData);
  EXPECT_EQ(1u, OBConvertApplyTemplate(env, bad, Collect, 0, 0));
  EXPECT_EQ(1u, gCalls.size());
  OBConvertFreeObj(good);
  OBConvertFreeObj(bad);
  OBConvertFreeEnv(env);
}

TEST(ConvertApiObj, FilesAreNamedByTheirPathAndOnlyFlagOneMeansFile) {
  TempDir dir;
  TempDir::Write(dir.File("s.xml"), kStoryXml);
  std::string xml = dir.File("s.xml");
  std::string missing = dir.File("none.xml");
  OBConvertObj obj = reinterpret_cast<OBConvertObj>(1);
  EXPECT_EQ(1u, OBConvertNewObj(1, missing.c_str(), 0, 0, nullptr, 0, &obj));
  EXPECT_EQ(nullptr, obj);
  ASSERT_EQ(0u, OBConvertNewObj(1, xml.c_str(), 0, 1, nullptr, 0, &obj));
  OBConvertEnv env = nullptr;
  ASSERT_EQ(0u, OBConvertNewEnv(nullptr, 0, nullptr, 0, &env));
  ASSERT_EQ(0u, OBConvertApplyTemplate(env, obj, nullptr, 0, 0));
  gCalls.clear();
  OBConvertGetDistributor(obj, Collect, 0, 0);
  EXPECT_EQ("Wire Co", Last(gCalls));
  OBConvertFreeObj(obj);

  // Flag 2 is not "file": the pointer is XML text in memory.
  const char text[] =
      "<nitf><body><body.head><distributor>Mem</distributor></body.head></body></nitf>";
  ASSERT_EQ(0u, OBConvertNewObj(2, text, sizeof text - 1, 0, nullptr, 0, &obj));
  ASSERT_EQ(0u, OBConvertApplyTemplate(env, obj, nullptr, 0, 0));
  OBConvertGetDistributor(obj, Collect, 0, 0);
  EXPECT_EQ("Mem", Last(gCalls));
  OBConvertFreeObj(obj);
  OBConvertFreeEnv(env);
}

TEST(ConvertApiSettings, EntityModeAndSeparatorApplyToLaterConversions) {
  const char text[] = "<nitf><body><body.content>a &amp; 'b'</body.content></body></nitf>";
  std::vector<std::string> bodies;
  for (uint32_t mode : {0u, 1u, 2u}) {
    OBConvertSetEntityRefOutput(mode);
    OBConvertSetLevelSeparator(mode == 2 ? '/' : '\\');
    OBConvertEnv env = nullptr;
    OBConvertObj obj = nullptr;
    OBConvertNewEnv(nullptr, 0, nullptr, 0, &env);
    OBConvertNewObj(0, text, sizeof text - 1, 0, nullptr, 0, &obj);
    OBConvertApplyTemplate(env, obj, nullptr, 0, 0);
    gCalls.clear();
    OBConvertGetBody(obj, Collect, 0, 0);
    bodies.push_back(Last(gCalls));
    OBConvertFreeObj(obj);
    OBConvertFreeEnv(env);
  }
  OBConvertSetEntityRefOutput(1);
  OBConvertSetLevelSeparator('\\');
  std::vector<std::string> expected = {"a & 'b'", "a &amp; 'b'", "a &amp; &apos;b&apos;"};
  EXPECT_EQ(expected, bodies);
}

void AppendTo(const uint8_t* data, uint32_t len, uintptr_t user, uintptr_t) {
  reinterpret_cast<std::string*>(user)->assign(reinterpret_cast<const char*>(data), len);
}

// Handles share no hidden state: conversions on separate handles may run in parallel.
TEST(ConvertApiThreads, SeparateHandlesConvertInParallel) {
  auto convert = [](std::string* result) {
    for (int i = 0; i < 20; ++i) {
      OBConvertEnv env = nullptr;
      OBConvertObj obj = nullptr;
      OBConvertNewEnv(kTemplate, sizeof kTemplate - 1, kTable, sizeof kTable - 1, &env);
      OBConvertNewObj(0, kStoryXml, sizeof kStoryXml - 1, 0, kStoryRdf, sizeof kStoryRdf - 1, &obj);
      std::string html;
      OBConvertApplyTemplate(env, obj, AppendTo, reinterpret_cast<uintptr_t>(&html), 0);
      if (i > 0 && html != *result) html = "mismatch";
      *result = html;
      OBConvertFreeObj(obj);
      OBConvertFreeEnv(env);
    }
  };
  std::string a;
  std::string b;
  std::thread first(convert, &a);
  std::thread second(convert, &b);
  first.join();
  second.join();
  EXPECT_NE(std::string::npos, a.find("<h1>Rates &amp; Markets</h1>"));
  EXPECT_EQ(a, b);
}

}  // namespace
