// SPDX-License-Identifier: MIT
// Stories written to hurt the reader, converted through the C interface with the example
// template. Each is refused with its parse error or rendered; no local file's byte leaks.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "owclient/owclient.h"
#include "support/log_capture.h"
#include "support/temp_dir.h"

namespace owc_test {
namespace {

const std::string kMarker = "TOP-SECRET-9431";

std::string Story(const std::string& prolog, const std::string& headline, const std::string& body) {
  return "<?xml version=\"1.0\"?>" + prolog + "<nitf><body><body.head><hedline><hl1>" + headline +
         "</hl1></hedline></body.head><body.content>" + body + "</body.content></body></nitf>";
}

void Append(const uint8_t* data, uint32_t len, uintptr_t out, uintptr_t) {
  if (data != nullptr)
    reinterpret_cast<std::string*>(out)->append(reinterpret_cast<const char*>(data), len);
}

class HostileStoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string tmpl = TempDir::Read(OWC_EXAMPLES_DIR "/templates/story.tmpl");
    const std::string xlate = TempDir::Read(OWC_EXAMPLES_DIR "/templates/story.xlate");
    ASSERT_EQ(0u, OBConvertNewEnv(tmpl.data(), static_cast<uint32_t>(tmpl.size()), xlate.data(),
                                  static_cast<uint32_t>(xlate.size()), &mEnv));
  }
  void TearDown() override { OBConvertFreeEnv(mEnv); }

  // Fills mHtml, mHeadline and mBody; a non-empty error is the parse error that must refuse.
  void Convert(const std::string& xml, const std::string& error = "") {
    mHtml = mHeadline = mBody = "";
    mLog.Clear();
    OBConvertObj obj = nullptr;
    ASSERT_EQ(
        0u, OBConvertNewObj(0, xml.data(), static_cast<uint32_t>(xml.size()), 0, nullptr, 0, &obj));
    EXPECT_EQ(error.empty() ? 0u : 1u,
              OBConvertApplyTemplate(mEnv, obj, &Append, reinterpret_cast<uintptr_t>(&mHtml), 0));
    OBConvertGetHeadline(obj, &Append, reinterpret_cast<uintptr_t>(&mHeadline), 0);
    OBConvertGetBody(obj, &Append, reinterpret_cast<uintptr_t>(&mBody), 0);
    OBConvertFreeObj(obj);
    EXPECT_EQ(error.empty(), !mLog.HasPart("WCXMLDoc::Parse XML parse error: [" + error)) << error;
    EXPECT_FALSE(mLog.HasPart(kMarker));
    for (const std::string* text : {&mHtml, &mHeadline, &mBody})
      EXPECT_EQ(std::string::npos, text->find(kMarker));
  }

  owc_test::LogCapture mLog;
  OBConvertEnv mEnv = nullptr;
  std::string mHtml, mHeadline, mBody;
};

TEST_F(HostileStoryTest, EntityExpansionBombsAreRefusedWithTheirParseError) {
  std::string laughs = "<!DOCTYPE nitf [<!ENTITY e0 \"lol\">";  // e10: 10^10 copies
  for (int i = 1; i <= 10; ++i) {
    laughs += "<!ENTITY e" + std::to_string(i) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&e" + std::to_string(i - 1) + ";";
    laughs += "\">";
  }
  laughs += "]>";
  for (const std::string& bomb :
       {Story(laughs, "&e10;", "x"), Story(laughs, "h", "<p class=\"&e10;\">x</p>")}) {
    Convert(bomb, "limit on input amplification");
  }
}

// An external entity refuses the story; an external DTD subset or parameter entity is never
// read, and the story renders without it.
TEST_F(HostileStoryTest, NoExternalEntityEverReadsALocalFile) {
  TempDir dir;
  const std::string txt = dir.File("secret.txt"), dtd = dir.File("secret.dtd");
  TempDir::Write(txt, kMarker);
  TempDir::Write(dtd, "<!ENTITY leak \"" + kMarker + "\">");
  const std::string entity = "<!DOCTYPE nitf [<!ENTITY x SYSTEM \"file://" + txt + "\">]>";
  Convert(Story(entity, "&x;", "x"), "error in processing external entity reference");
  Convert(Story(entity, "h", "<p class=\"&x;\">x</p>"),
          "reference to external entity in attribute");
  for (const std::string& prolog :
       {"<!DOCTYPE nitf SYSTEM \"" + dtd + "\">",
        "<!DOCTYPE nitf [<!ENTITY % ext SYSTEM \"" + dtd + "\"> %ext;]>"}) {
    Convert(Story(prolog, "A&leak;B", "<p>kept</p>"));
    EXPECT_EQ("AB", mHeadline);
  }
}

// Capture, tag translation and output walk deep nesting without recursion.
TEST_F(HostileStoryTest, NestingHundredsOfThousandsDeepRendersOrFailsCleanly) {
  std::string open, close;
  for (int i = 0; i < 200000; ++i) {
    open += "<em>";
    close += "</em>";
  }
  Convert(Story("", "Deep", open + "core" + close));
  EXPECT_EQ(open + "core" + close, mBody);
  EXPECT_NE(std::string::npos, mHtml.find("core"));
  Convert(Story("", "Cut", open + "core"), "mismatched tag");
}

TEST_F(HostileStoryTest, TensOfThousandsOfAttributesAreKeptOrRefused) {
  std::string attributes;
  for (int i = 0; i < 50000; ++i)
    attributes += " a" + std::to_string(i) + "=\"v" + std::to_string(i) + "\"";
  std::string xml = Story("", "H", "<p" + attributes + ">text</p>");
  xml.replace(xml.find("<hl1>"), 5, "<hl1" + attributes + ">");
  Convert(xml);
  EXPECT_EQ("H", mHeadline);
  EXPECT_NE(std::string::npos, mBody.find(" a49999=\"v49999\">text</p>"));
  EXPECT_NE(std::string::npos, mHtml.find("text"));
  Convert(Story("", "H", "<p" + attributes + " a7=\"again\">x</p>"), "duplicate attribute");
}

}  // namespace
}  // namespace owc_test
