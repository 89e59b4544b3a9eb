// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "owclient/owclient.h"
#include "support/log_capture.h"
#include "support/story_samples.h"
#include "support/temp_dir.h"

namespace owc_test {
namespace {

// What each callback received ("<null>" for a null pointer), and the user values of the last.
thread_local std::vector<std::string> gCalls;
thread_local uintptr_t gUser[2];

void Collect(const uint8_t* data, uint32_t len, uintptr_t u1, uintptr_t u2) {
  gCalls.push_back(data ? std::string(reinterpret_cast<const char*>(data), len) : "<null>");
  gUser[0] = u1;
  gUser[1] = u2;
}

// For getters only: their text is zero-terminated just past len.
void CollectTerminated(const uint8_t* data, uint32_t len, uintptr_t u1, uintptr_t u2) {
  Collect(data, len, u1, u2);
  EXPECT_EQ(0, data[len]);
}

// The text of the last call, once the call that made it returned `result` 0.
std::string Got(uint32_t result) {
  EXPECT_EQ(0u, result);
  return gCalls.empty() ? "<no call>" : gCalls.back();
}

const char kTemplate[] =
    "<h1><?Kavio insert headline?></h1><?Kavio foreach byline?><i><?Kavio insert byline?></i>"
    "<?Kavio end?><div><?Kavio insert body?></div>";
const char kTable[] = "\"p\" \"p\" \"p\" 0 1\n\"media\" \"\" \"\" 1 0\n";

// A template env and a story object for one scope: the template and table above, the sample.
struct Story {
  Story() {
    gCalls.clear();
    EXPECT_EQ(0u,
              OBConvertNewEnv(kTemplate, sizeof kTemplate - 1, kTable, sizeof kTable - 1, &env));
    EXPECT_EQ(0u, OBConvertNewObj(0, kStoryXml, sizeof kStoryXml - 1, 0, owc_test::kStoryRdf,
                                  sizeof owc_test::kStoryRdf - 1, &obj));
  }
  // An empty template and `xml`: a file name (its length left 0) when `xmlIsFile` is 1.
  Story(uint8_t xmlIsFile, const std::string& xml) {
    gCalls.clear();
    EXPECT_EQ(0u, OBConvertNewEnv(nullptr, 0, nullptr, 0, &env));
    uint32_t length = xmlIsFile == 1 ? 0 : static_cast<uint32_t>(xml.size());
    EXPECT_EQ(0u, OBConvertNewObj(xmlIsFile, xml.c_str(), length, 0, nullptr, 0, &obj));
  }
  ~Story() { EXPECT_TRUE(OBConvertFreeObj(obj) == 0 && OBConvertFreeEnv(env) == 0); }
  OBConvertEnv env = nullptr;
  OBConvertObj obj = nullptr;
};

// A parse property in the default namespace is read with its index only.
TEST(ConvertApiTest, ApplyTemplatePassesTheHtmlAndTheGettersReadFieldsAndProperties) {
  Story s;
  EXPECT_EQ("", Got(OBConvertGetHeadline(s.obj, CollectTerminated, 1, 2)));  // not parsed yet
  EXPECT_EQ(0u, OBConvertAddParseProperty(s.env, nullptr, "headline"));
  EXPECT_EQ(0u, OBConvertAddParseProperty(s.env, nullptr, "keyword"));
  const uintptr_t big = ~static_cast<uintptr_t>(0);
  EXPECT_EQ(std::string("<h1>Rates &amp; Markets</h1><i>By Ann</i><i>By Bob</i>"
                        "<div><p>It's up &lt;5%</p><p>Second</p></div>") +
                std::string(1, '\0'),
            Got(OBConvertApplyTemplate(s.env, s.obj, Collect, big, 7)));
  EXPECT_TRUE(gCalls.size() == 2 && gUser[0] == big && gUser[1] == 7u);
  EXPECT_EQ("Second sub", Got(OBConvertGetSubheadline(s.obj, Collect, 0, 0, 1)));
  EXPECT_EQ("", Got(OBConvertGetSubheadline(s.obj, Collect, 0, 0, 2)));
  EXPECT_EQ("By Ann", Got(OBConvertGetByline(s.obj, Collect, 0, 0, 0)));
  EXPECT_EQ("Wire Co", Got(OBConvertGetDistributor(s.obj, Collect, 0, 0)));
  EXPECT_EQ("2024-05-01", Got(OBConvertGetDateline(s.obj, Collect, 0, 0)));
  EXPECT_EQ("Economy", Got(OBConvertGetSeriesName(s.obj, Collect, 0, 0)));
  EXPECT_EQ("2", Got(OBConvertGetSeriesPart(s.obj, Collect, 0, 0)));
  EXPECT_EQ("5", Got(OBConvertGetSeriesTotalPart(s.obj, Collect, 0, 0)));
  std::string body = Got(OBConvertGetBody(s.obj, CollectTerminated, 0, 0));
  const char path[] = "\\nitf(0)\\body(0)\\body.content(0)";
  EXPECT_EQ(body, Got(OBConvertGetProperty(s.obj, Collect, 0, 0, "", path, 1)));
  EXPECT_EQ("<body.content>" + body + "</body.content>",
            Got(OBConvertGetProperty(s.obj, Collect, 0, 0, "", path, 2)));
  EXPECT_EQ("Economy", Got(OBConvertGetPropertyAttribute(
                           s.obj, Collect, 0, 0, "", "\\nitf(0)\\body(0)\\body.head(0)\\series(0)",
                           "series.name")));
  EXPECT_EQ("Meta headline",
            Got(OBConvertGetProperty(s.obj, Collect, 0, 0, nullptr, "headline(0)", 1)));
  EXPECT_EQ("", Got(OBConvertGetProperty(s.obj, Collect, 0, 0, nullptr, "headline", 1)));
  EXPECT_EQ("gamma",
            Got(OBConvertGetProperty(s.obj, Collect, 0, 0, owc_test::kMetaNs, "keyword(2)", 1)));
}

TEST(ConvertApiTest, ArgumentChecksReturnTheirCodesBeforeAnyCallback) {
  Story s;
  EXPECT_EQ(2u, OBConvertGetHeadline(nullptr, Collect, 0, 0));
  EXPECT_EQ(1u, OBConvertGetProperty(s.obj, Collect, 0, 0, "", nullptr, 1));
  EXPECT_EQ(1u, OBConvertGetPropertyAttribute(s.obj, Collect, 0, 0, "", "x", nullptr));
  EXPECT_EQ(1u, OBConvertGetPropertyAttribute(s.obj, nullptr, 0, 0, "", nullptr, "a"));
  EXPECT_EQ(0u, OBConvertGetBody(s.obj, nullptr, 0, 0));
  EXPECT_EQ(2u, OBConvertApplyTemplate(nullptr, s.obj, Collect, 0, 0));
  EXPECT_EQ(2u, OBConvertApplyTemplate(s.env, nullptr, Collect, 0, 0));
  EXPECT_EQ(2u, OBConvertAddParseProperty(nullptr, "", "x"));
  EXPECT_EQ(1u, OBConvertAddParseProperty(s.env, "", nullptr));
  EXPECT_EQ(1u, OBConvertAddParseProperty(s.env, "", ""));
  EXPECT_EQ(2u, OBConvertFreeEnv(nullptr));
  EXPECT_EQ(2u, OBConvertFreeObj(nullptr));
  EXPECT_EQ(2u, OBConvertNewEnv(kTemplate, 3, nullptr, 0, nullptr));
  EXPECT_EQ(2u, OBConvertNewObj(0, "x", 1, 0, nullptr, 0, nullptr));
  EXPECT_TRUE(gCalls.empty());
}

// Failed creations clear the handle; only file flag 1 means a file name; an empty template hands
// a null pointer; a story that does not parse gets no call.
TEST(ConvertApiTest, FailuresClearHandlesFilesAreNamedAndAnEmptyTemplateHandsNull) {
  OBConvertEnv env = reinterpret_cast<OBConvertEnv>(1);
  EXPECT_TRUE(OBConvertNewEnv("<?Kavio version 3?>", 19, nullptr, 0, &env) == 1 && !env);
  env = reinterpret_cast<OBConvertEnv>(1);
  EXPECT_TRUE(OBConvertNewEnv("x", 1, "\"p\" \"P\"", 7, &env) == 1 && !env);
  TempDir dir;
  OBConvertObj obj = reinterpret_cast<OBConvertObj>(1);
  EXPECT_TRUE(OBConvertNewObj(1, dir.File("none.xml").c_str(), 0, 0, nullptr, 0, &obj) == 1 &&
              !obj);
  TempDir::Write(dir.File("s.xml"), kStoryXml);
  Story file(1, dir.File("s.xml"));
  Story memory(2,
               "<nitf><body><body.head><distributor>Mem</distributor></body.head></body></nitf>");
  for (Story* s : {&file, &memory})
    EXPECT_EQ(0u, OBConvertApplyTemplate(s->env, s->obj, nullptr, 0, 0));
  EXPECT_TRUE(gCalls.empty()) << "no callback, no call";
  EXPECT_EQ("Wire Co", Got(OBConvertGetDistributor(file.obj, Collect, 0, 0)));
  EXPECT_EQ("Mem", Got(OBConvertGetDistributor(memory.obj, Collect, 0, 0)));
  Story broken(0, "<nitf>");
  EXPECT_EQ(1u, OBConvertApplyTemplate(broken.env, broken.obj, Collect, 0, 0));
  EXPECT_TRUE(gCalls.empty());
  Story good(0, kStoryXml);
  EXPECT_EQ(0u, OBConvertApplyTemplate(good.env, good.obj, Collect, 0, 0));
  EXPECT_EQ(gCalls, std::vector<std::string>{"<null>"});
}

// An environment keeps its parser from story to story: each story renders, fails and logs
// as through an environment of its own, whatever the stories before it left behind.
TEST(ConvertApiTest, AnEnvironmentRendersEachStoryAsAFreshOneWould) {
  const std::string named =
      "<!DOCTYPE nitf [<!ENTITY own \"O\">]><nitf><body><body.head><hedline><hl1>&eacute;&own;"
      "</hl1></hedline></body.head><body.content><p>&own;</p></body.content></body></nitf>";
  const struct {
    uint32_t options;
    std::string xml;
  } stories[] = {
      {0, kStoryXml},
      {0, "<nitf><body><body.head><hedline><hl1>cut</hedline></nitf>"},  // stops midway
      {OBCONVERT_READ_HTML_ENTITIES, named},  // the library's declarations read
      {0, named},                             // and no longer: the parse fails
      {0, kStoryXml},
  };
  auto render = [](OBConvertEnv env, uint32_t options, const std::string& xml) {
    OBConvertSetReadOptions(options);
    LogCapture log;
    OBConvertObj obj = nullptr;
    EXPECT_EQ(0u, OBConvertNewObj(0, xml.data(), static_cast<uint32_t>(xml.size()), 0, kStoryRdf,
                                  sizeof kStoryRdf - 1, &obj));
    gCalls.clear();
    std::string seen = std::to_string(OBConvertApplyTemplate(env, obj, Collect, 0, 0));
    for (const std::string& call : gCalls) seen += " " + call;
    for (const auto& line : log.Lines()) seen += "\n" + line.text;
    OBConvertFreeObj(obj);
    return seen;
  };
  Story shared;
  for (const auto& story : stories) {
    SCOPED_TRACE(story.xml);
    Story fresh;
    const std::string expected = render(fresh.env, story.options, story.xml);
    EXPECT_EQ(expected, render(shared.env, story.options, story.xml));
  }
  OBConvertSetReadOptions(0);
}

}  // namespace
}  // namespace owc_test
