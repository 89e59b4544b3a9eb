// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>

#include "doc/declared_encoding.h"
#include "doc/doc_settings.h"
#include "doc/html_entities.h"
#include "doc/parsed_doc.h"

namespace owc_test {
namespace {

// Every reference of the table resolves through the parser to its own character: the
// declarations handed to expat are complete and well formed.
TEST(HtmlEntitiesTest, EveryHtmlEntityOfTheTableResolvesToItsCodePoint) {
  std::string headline, expected;
  std::set<std::string> names;
  for (const owc::HtmlEntity* e = owc::HtmlEntitiesBegin(); e != owc::HtmlEntitiesEnd(); ++e) {
    names.insert(e->name);
    headline += std::string("&") + e->name + ";";
    const uint32_t cp = e->codePoint;
    if (cp < 0x80) {
      expected += static_cast<char>(cp);
    } else if (cp < 0x800) {
      expected += static_cast<char>(0xC0 | (cp >> 6));
      expected += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      expected += static_cast<char>(0xE0 | (cp >> 12));
      expected += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      expected += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  EXPECT_EQ(252, owc::HtmlEntitiesEnd() - owc::HtmlEntitiesBegin());
  EXPECT_EQ(252u, names.size());
  const std::string xml = "<nitf><body><body.head><hedline><hl1>" + headline +
                          "</hl1></hedline></body.head></body></nitf>";
  owc::SetReadOptions(owc::kReadHtmlEntities);
  owc::SetEntityRefOutput(0);
  ParsedDoc d({kHead + "\\hedline(0)\\hl1(0)"}, xml);
  owc::SetReadOptions(0);
  owc::SetEntityRefOutput(owc::kEntityRefEscape);
  ASSERT_TRUE(d.parsed);
  EXPECT_EQ(expected, d.Get(kHead + "\\hedline(0)\\hl1(0)"));
}

TEST(DeclaredEncodingTest, Utf8CheckRefusesOverlongSurrogateTooLargeAndCutSequences) {
  const std::pair<const char*, bool> cases[] = {
      {"plain", true},           {"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8C\x8A", true},
      {"\xC0\xAF", false},       {"\xE0\x80\xAF", false},  // overlong '/'
      {"\xED\xA0\x80", false},   {"\xF4\x90\x80\x80", false},  // surrogate, above U+10FFFF
      {"caf\xC3", false},        {"\xE2\x82", false},      {"\x80", false}, {"\xFF", false},
  };
  for (const auto& c : cases) EXPECT_EQ(c.second, owc::IsValidUtf8(c.first)) << c.first;
  EXPECT_EQ("ISO-8859-1", owc::DeclaredEncoding("\xEF\xBB\xBF<?xml version='1.0' encoding = "
                                                "\"ISO-8859-1\" ?><a/>"));
  EXPECT_EQ("", owc::DeclaredEncoding("<?xml version='1.0'?><a encoding='latin1'/>"));
  EXPECT_EQ("", owc::DeclaredEncoding("<a/><?xml version='1.0' encoding='latin1'?>"));
}

}  // namespace
}  // namespace owc_test
