#include "doc/entity_references.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Converted {
  std::string text;
  uint32_t count;
  int32_t result;
  size_t consumed;
};

Converted Convert(const std::string& in, uint32_t destSize, bool escapeApos = false) {
  std::string dest(destSize + 1, '\x7f');  // one guard byte past the destination
  const char* source = in.data();
  uint32_t count = 99;
  int32_t result = owc::FixEntityReferences(&source, static_cast<uint32_t>(in.size()), &dest[0],
                                            destSize, &count, escapeApos);
  EXPECT_EQ('\x7f', dest[destSize]) << "wrote past the destination";
  return {std::string(dest.c_str()), count, result, static_cast<size_t>(source - in.data())};
}

TEST(FixEntityReferences, EscapesMarkupAndCountsReferences) {
  Converted c = Convert("a<b & c>d \"q\"", 64);
  EXPECT_EQ("a&lt;b &amp; c&gt;d &quot;q&quot;", c.text);
  EXPECT_EQ(5u, c.count);
  EXPECT_EQ(0, c.result);
  EXPECT_EQ(13u, c.consumed);
}

TEST(FixEntityReferences, KeepsTheFivePredefinedReferencesOnly) {
  Converted kept = Convert("AT&amp;T &quot;&apos;&lt;&gt;", 64);
  EXPECT_EQ("AT&amp;T &quot;&apos;&lt;&gt;", kept.text);
  EXPECT_EQ(0u, kept.count);
  EXPECT_EQ("&amp;#38; &amp;eacute; &amp;Amp;", Convert("&#38; &eacute; &Amp;", 64).text);
  EXPECT_EQ("&amp;amp", Convert("&amp", 64).text);
}

TEST(FixEntityReferences, ApostropheOnlyWhenAsked) {
  EXPECT_EQ("it's", Convert("it's", 64).text);
  Converted escaped = Convert("it's", 64, true);
  EXPECT_EQ("it&apos;s", escaped.text);
  EXPECT_EQ(1u, escaped.count);
}

TEST(FixEntityReferences, StopsWhereTheNextOutputWouldNotFitWithItsTerminator) {
  Converted quotes = Convert(std::string(10, '"'), 16);
  EXPECT_EQ("&quot;&quot;", quotes.text);
  EXPECT_EQ(8, quotes.result);
  EXPECT_EQ(2u, quotes.consumed);
  EXPECT_EQ(2u, quotes.count);

  EXPECT_EQ(0, Convert(std::string(10, '"'), 62).result);
  EXPECT_EQ(1, Convert(std::string(10, '"'), 61).result);

  Converted plain = Convert("abc", 3);
  EXPECT_EQ("ab", plain.text);
  EXPECT_EQ(1, plain.result);
  EXPECT_EQ(0, Convert("abc", 4).result);
  EXPECT_EQ(3, Convert("abc", 1).result);
}

TEST(FixEntityReferences, EmptySourceAndHighBitBytes) {
  Converted empty = Convert("", 1);
  EXPECT_EQ("", empty.text);
  EXPECT_EQ(0, empty.result);
  EXPECT_EQ(0u, empty.count);
  EXPECT_EQ("caf\xc3\xa9 &lt;\xff", Convert("caf\xc3\xa9 <\xff", 64).text);
}

// Captured text is escaped in one pass; it must produce exactly what the routine with
// the room rule produces, across every path of the fast scan (runs of 16 and more).
TEST(WriteEntityEscaped, MatchesFixEntityReferencesOnEveryInput) {
  const std::string inputs[] = {
      "",
      "plain text longer than sixteen bytes without anything special in it",
      "<<>>&&''\"\"",
      "0123456789abcde&amp;0123456789abcdef<0123456789abcdef&quot",
      "AT&amp;T &lt;x&gt; &#38; it's \xc3\xa9",
      std::string(40, 'x') + "'" + std::string(17, 'y') + "&gt",
  };
  for (const std::string& in : inputs) {
    for (bool apos : {false, true}) {
      std::string fixed = Convert(in, 8 * static_cast<uint32_t>(in.size()) + 16, apos).text;
      std::string fast(owc::kMaxEscapeGrowth * in.size(), '\0');
      uint32_t count = 0;
      fast.resize(owc::WriteEntityEscaped(&fast[0], in.data(), in.size(), apos, &count));
      EXPECT_EQ(fixed, fast) << in;
      EXPECT_EQ(Convert(in, 8 * static_cast<uint32_t>(in.size()) + 16, apos).count, count) << in;
    }
  }
}

}  // namespace
