#include "platform/text/mac_roman.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/text/utf8.h"

namespace platform {
namespace {

TEST(MacRoman, UpperHalfIsAppleTableOneToOne) {
  EXPECT_EQ(MacRomanToUnicode(0x41), U'A');
  EXPECT_EQ(MacRomanToUnicode(0x80), U'\u00C4');
  EXPECT_EQ(MacRomanToUnicode(0x8E), U'\u00E9');
  EXPECT_EQ(MacRomanToUnicode(0xCA), U'\u00A0');
  EXPECT_EQ(MacRomanToUnicode(0xDB), U'\u20AC');  // the euro sign (iconv: currency sign)
  EXPECT_EQ(MacRomanToUnicode(0xF0), U'\uF8FF');  // the Apple logo (iconv: elsewhere)
  EXPECT_EQ(MacRomanToUnicode(0xFF), U'\u02C7');
  // All 256 bytes decode to distinct characters and encode back to themselves.
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  std::string text = MacRomanToUtf8(all);
  std::set<char32_t> seen;
  for (std::size_t pos = 0; pos < text.size();) seen.insert(NextUtf8(text, &pos));
  EXPECT_EQ(seen.size(), 256u);
  EXPECT_EQ(Utf8ToMacRoman(text), all);
}

TEST(MacRoman, CharactersOutsideTheTable) {
  EXPECT_EQ(Utf8ToMacRoman("\xC2\xA4"), std::nullopt);      // ¤, where iconv puts 0xDB
  EXPECT_EQ(Utf8ToMacRoman("\xE2\x84\xA6"), std::nullopt);  // the ohm sign is not Ω
  EXPECT_EQ(Utf8ToMacRoman("\xF0\x9F\x98\x80"), std::nullopt);
  EXPECT_EQ(Utf8ToMacRoman("\xFF"), std::nullopt);  // not UTF-8
}

TEST(MacRoman, CombiningSequencesAreComposed) {
  EXPECT_EQ(Utf8ToMacRoman("e\xCC\x81"), "\x8E");  // e + acute: é
  EXPECT_EQ(Utf8ToMacRoman("Cafe\xCC\x81!"), "Caf\x8E!");
  EXPECT_EQ(Utf8ToMacRoman("a\xCC\x88o\xCC\x88"), "\x8A\x9A");  // äö
  EXPECT_EQ(Utf8ToMacRoman("a\xCC\xA3"), std::nullopt);         // a + dot below: no such letter
  EXPECT_EQ(Utf8ToMacRoman("\xCC\x81"), std::nullopt);          // a mark with no letter
  // A letter under a long pile of marks fails at once (reordering them would be quadratic).
  std::string pile = "e";
  for (int i = 0; i < 200000; ++i) pile += i % 2 ? "\xCC\x81" : "\xCC\xA3";
  EXPECT_EQ(Utf8ToMacRoman(pile), std::nullopt);
}

TEST(Utf8Text, RejectsMalformedSequences) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8(std::string("a\0b\xF4\x8F\xBF\xBF\xED\x9F\xBF", 10)));
  for (const char* bad :
       {"\x80", "\xC0\xAF", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xE2\x82", "abcdefgh\xC3"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

TEST(Utf8Text, Utf16Pairs) {
  EXPECT_EQ(Utf16ToUtf8(std::string("\xD8\x3D\xDE\x00", 4), true), "\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf16ToUtf8(std::string("\x00\xDC", 2), false), std::nullopt);  // low half alone
  EXPECT_EQ(Utf16ToUtf8(std::string("\x3D\xD8", 2), false), std::nullopt);  // high half at end
  EXPECT_EQ(Utf16ToUtf8("abc", false), std::nullopt);
}

}  // namespace
}  // namespace platform
