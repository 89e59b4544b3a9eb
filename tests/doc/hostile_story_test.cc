// Stories written to hurt the reader, taken through the conversion interface with the
// example template as an application would: entity-expansion bombs, entities that name a
// local file, nesting hundreds of thousands of levels deep, elements with tens of
// thousands of attributes. Each story is refused with a logged parse error, or rendered;
// either way the call returns, and no byte of a local file reaches any output.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "owclient/owclient.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace {

using owc_test::LogCapture;
using owc_test::TempDir;

const std::string kMarker = "TOP-SECRET-9431";

std::string Example(const std::string& path) {
  return TempDir::Read(std::string(OWC_EXAMPLES_DIR) + "/" + path);
}

// A story whose headline and body are given as markup; prolog goes before the root.
std::string Story(const std::string& prolog, const std::string& headline, const std::string& body) {
  return "<?xml version=\"1.0\"?>" + prolog +
         "<nitf><head><title>t</title></head><body><body.head><hedline><hl1>" + headline +
         "</hl1></hedline></body.head><body.content>" + body + "</body.content></body></nitf>";
}

// Entities each ten references to the one before, `levels` deep: "e<levels>" expands to
// 10^levels copies of "lol".
std::string LaughsDoctype(int levels) {
  std::string dtd = "<!DOCTYPE nitf [<!ENTITY e0 \"lol\">";
  for (int i = 1; i <= levels; ++i) {
    dtd += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) dtd += "&e" + std::to_string(i - 1) + ";";
    dtd += "\">";
  }
  return dtd + "]>";
}

struct Outcome {
  uint32_t result = 0;  // of OBConvertApplyTemplate
  std::string html;
  std::string headline;
  std::string body;
};

void Append(const uint8_t* data, uint32_t len, uintptr_t out, uintptr_t) {
  if (data != nullptr)
    reinterpret_cast<std::string*>(out)->append(reinterpret_cast<const char*>(data), len);
}

class HostileStory : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string tmpl = Example("templates/story.tmpl");
    const std::string xlate = Example("templates/story.xlate");
    ASSERT_EQ(0u, OBConvertNewEnv(tmpl.data(), static_cast<uint32_t>(tmpl.size()), xlate.data(),
                                  static_cast<uint32_t>(xlate.size()), &mEnv));
    mRdf = Example("stories/weather-brief.rdf");
  }
  void TearDown() override { OBConvertFreeEnv(mEnv); }

  Outcome Convert(const std::string& xml) {
    Outcome out;
    OBConvertObj obj = nullptr;
    EXPECT_EQ(0u, OBConvertNewObj(0, xml.data(), static_cast<uint32_t>(xml.size()), 0, mRdf.data(),
                                  static_cast<uint32_t>(mRdf.size()), &obj));
    if (obj == nullptr) return out;
    auto html = reinterpret_cast<uintptr_t>(&out.html);
    out.result = OBConvertApplyTemplate(mEnv, obj, &Append, html, 0);
    OBConvertGetHeadline(obj, &Append, reinterpret_cast<uintptr_t>(&out.headline), 0);
    OBConvertGetBody(obj, &Append, reinterpret_cast<uintptr_t>(&out.body), 0);
    OBConvertFreeObj(obj);
    return out;
  }

  // True when some line logged at the failure level (severity 0) contains part.
  bool FailureLogged(const std::string& part) {
    for (const auto& line : mLog.Lines()) {
      if (line.severity == 0 && line.text.find(part) != std::string::npos) return true;
    }
    return false;
  }

  LogCapture mLog;
  OBConvertEnv mEnv = nullptr;
  std::string mRdf;
};

TEST_F(HostileStory, EntityExpansionBombsAreRefusedWithTheirParseError) {
  const std::string laughs = LaughsDoctype(10);  // 10^10 copies
  std::string quadratic = "<!DOCTYPE nitf [<!ENTITY big \"" + std::string(50000, 'q') + "\">]>";
  std::string references;
  for (int i = 0; i < 40000; ++i) references += "&big;";  // 2 GB from 250 KB
  const std::vector<std::string> bombs = {
      Story(laughs, "&e10;", "<p>x</p>"),
      Story(quadratic, "h", "<p>" + references + "</p>"),
      Story(laughs, "h", "<p class=\"&e10;\">x</p>"),
  };
  for (const std::string& bomb : bombs) {
    mLog.Clear();
    Outcome out = Convert(bomb);
    EXPECT_NE(0u, out.result);
    EXPECT_TRUE(FailureLogged("WCXMLDoc::Parse XML parse error: [limit on input amplification"));
    EXPECT_LT(out.html.size() + out.headline.size() + out.body.size(), 64u << 20);
  }
}

// The file exists and is readable; only the parser's refusal keeps it out. A reference to
// an external entity refuses the story; the external DTD subset and parameter entities
// are simply never read, and the story renders without them.
TEST_F(HostileStory, NoExternalEntityEverReadsALocalFile) {
  TempDir dir;
  TempDir::Write(dir.File("secret.txt"), kMarker);
  TempDir::Write(dir.File("secret.dtd"), "<!ENTITY leak \"" + kMarker + "\">");
  const std::string txt = dir.File("secret.txt");
  const std::string dtd = dir.File("secret.dtd");
  const std::string fileUrl = "<!DOCTYPE nitf [<!ENTITY x SYSTEM \"file://" + txt + "\">]>";
  const std::string plainPath = "<!DOCTYPE nitf [<!ENTITY x SYSTEM \"" + txt + "\">]>";
  struct Case {
    std::string xml;
    const char* error;  // nullptr: renders
  };
  const std::vector<Case> cases = {
      {Story(fileUrl, "&x;", "<p>x</p>"), "error in processing external entity reference"},
      {Story(plainPath, "h", "<p>&x;</p>"), "error in processing external entity reference"},
      {Story(plainPath, "h", "<p class=\"&x;\">x</p>"),
       "reference to external entity in attribute"},
      {Story("<!DOCTYPE nitf SYSTEM \"" + dtd + "\">", "A&leak;B", "<p>kept</p>"), nullptr},
      {Story("<!DOCTYPE nitf [<!ENTITY % ext SYSTEM \"" + dtd + "\"> %ext;]>", "A&leak;B",
             "<p>kept</p>"),
       nullptr},
  };
  for (const Case& c : cases) {
    mLog.Clear();
    Outcome out = Convert(c.xml);
    if (c.error != nullptr) {
      EXPECT_NE(0u, out.result);
      EXPECT_TRUE(FailureLogged(std::string("WCXMLDoc::Parse XML parse error: [") + c.error))
          << c.xml;
    } else {
      EXPECT_EQ(0u, out.result) << c.xml;
      EXPECT_EQ("AB", out.headline);
      EXPECT_NE(std::string::npos, out.html.find("kept"));
    }
    for (const std::string* text : {&out.html, &out.headline, &out.body}) {
      EXPECT_EQ(std::string::npos, text->find(kMarker)) << c.xml;
    }
    for (const auto& line : mLog.Lines()) EXPECT_EQ(std::string::npos, line.text.find(kMarker));
  }
}

// Deep nesting inside the captured body goes through capture, tag translation and output
// without recursion; cut short, it is an ordinary parse error.
TEST_F(HostileStory, NestingHundredsOfThousandsDeepRendersOrFailsCleanly) {
  constexpr int kDepth = 200000;
  std::string open, close;
  for (int i = 0; i < kDepth; ++i) open += "<em>";
  for (int i = 0; i < kDepth; ++i) close += "</em>";
  Outcome deep = Convert(Story("", "Deep", open + "core" + close));
  EXPECT_EQ(0u, deep.result);
  EXPECT_EQ("Deep", deep.headline);
  EXPECT_EQ(open + "core" + close, deep.body);
  EXPECT_NE(std::string::npos, deep.html.find("core"));

  Outcome outside = Convert("<nitf><head>" + open + close +
                            "</head><body><body.head><hedline>"
                            "<hl1>Outside</hl1></hedline></body.head></body></nitf>");
  EXPECT_EQ(0u, outside.result);
  EXPECT_EQ("Outside", outside.headline);

  mLog.Clear();
  Outcome cut = Convert(Story("", "Cut", open + "core"));
  EXPECT_NE(0u, cut.result);
  EXPECT_TRUE(FailureLogged("WCXMLDoc::Parse XML parse error: [mismatched tag]"));
}

TEST_F(HostileStory, TensOfThousandsOfAttributesAreKeptOrRefused) {
  constexpr int kAttributes = 50000;
  std::string attributes;
  for (int i = 0; i < kAttributes; ++i)
    attributes += " a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
  const std::string xml = Story("", "H", "<p" + attributes + ">text</p>");
  const std::string withTitle = xml.substr(0, xml.find("<hl1>")) + "<hl1" + attributes + ">H" +
                                xml.substr(xml.find("<hl1>") + 6);
  Outcome out = Convert(withTitle);
  ASSERT_EQ(0u, out.result);
  EXPECT_EQ("H", out.headline);
  EXPECT_NE(std::string::npos, out.body.find(" a49999=\"v49999\">text</p>"));
  EXPECT_NE(std::string::npos, out.html.find("text"));

  mLog.Clear();
  Outcome twice = Convert(Story("", "H", "<p" + attributes + " a7=\"again\">x</p>"));
  EXPECT_NE(0u, twice.result);
  EXPECT_TRUE(FailureLogged("WCXMLDoc::Parse XML parse error: [duplicate attribute]"));
}

}  // namespace
