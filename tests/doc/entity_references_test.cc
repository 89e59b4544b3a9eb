// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "doc/entity_references.h"

namespace owc_test {
namespace {

// A byte needs 2 free bytes, a reference of k characters k + 2; the result is the number
// of source bytes left over, and the source pointer stops at the first of them.
TEST(EntityReferencesTest, EscapesWhatFitsAndReturnsTheBytesLeft) {
  const std::string quotes(10, '"');
  const std::string quoted = "&quot;&quot;&quot;&quot;&quot;&quot;&quot;&quot;&quot;&quot;";
  const struct {
    std::string in;
    uint32_t room;
    bool apos;
    std::string out;
    uint32_t count;
    int32_t left;
  } cases[] = {
      {"a<b & c>d \"q\" it's", 64, false, "a&lt;b &amp; c&gt;d &quot;q&quot; it's", 5, 0},
      {"AT&amp;T &quot;&apos;&lt;&gt;", 64, false, "AT&amp;T &quot;&apos;&lt;&gt;", 0, 0},
      {"&#38; &eacute; &Amp; &amp", 64, false, "&amp;#38; &amp;eacute; &amp;Amp; &amp;amp", 4, 0},
      {"it's", 64, true, "it&apos;s", 1, 0},
      {"", 1, false, "", 0, 0},
      {"caf\xc3\xa9 <\xff", 64, false, "caf\xc3\xa9 &lt;\xff", 1, 0},
      // Longer than one 16-byte scan, with references across the block boundaries.
      {"0123456789abcde&amp;0123456789abcdef<0123456789abcdef&quot", 128, false,
       "0123456789abcde&amp;0123456789abcdef&lt;0123456789abcdef&amp;quot", 2, 0},
      {quotes, 16, false, quoted.substr(0, 12), 2, 8},
      {quotes, 61, false, quoted.substr(0, 54), 9, 1},
      {quotes, 62, false, quoted, 10, 0},
      {"abc", 3, false, "ab", 0, 1},
      {"abc", 4, false, "abc", 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in + " in " + std::to_string(c.room));
    std::string dest(c.room + 1, '\x7f');  // one guard byte past the destination
    const char* source = c.in.data();
    uint32_t count = 99;
    EXPECT_EQ(c.left, owc::FixEntityReferences(&source, static_cast<uint32_t>(c.in.size()),
                                               &dest[0], c.room, &count, c.apos));
    EXPECT_EQ('\x7f', dest[c.room]);
    EXPECT_EQ(c.out, dest.c_str());
    EXPECT_EQ(c.count, count);
    EXPECT_EQ(c.in.size() - c.left, static_cast<size_t>(source - c.in.data()));
  }
}

}  // namespace
}  // namespace owc_test
