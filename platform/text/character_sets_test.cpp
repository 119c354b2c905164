#include "platform/text/character_sets.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace platform {
namespace {

TEST(DecomposableCharacter, ComposedLettersOnly) {
  struct Case {
    char32_t c;
    bool decomposable;
  };
  const Case cases[] = {
      {U'e', false},     {U':', false}, {U'@', false}, {U'0', false}, {0x00E9, true},  // é
      {0x00C5, true},                                                                  // Å
      {0x212B, true},   // the Angstrom sign: a singleton decomposition to Å
      {0x1E69, true},   // ṩ: two marks
      {0xAC00, true},   // 가, a Hangul syllable, decomposed by rule
      {0x0301, false},  // a combining acute on its own
      {0x00DF, false},  // ß has no decomposition
      {0xFB01, false},  // ﬁ: compatibility only
      {0x00B2, false},  // ²: compatibility only
      {0x6F22, false},  // 漢
      {0xD800, false},  // a surrogate is no character
      {0x110000, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsDecomposableCharacter(c.c), c.decomposable)
        << std::hex << static_cast<std::uint32_t>(c.c);
  }
}

TEST(DecomposableCharacter, FoundAnywhereInText) {
  struct Case {
    std::string text;
    bool holds;
  };
  const Case cases[] = {
      {"", false},
      {"secret:password@host", false},
      {"caf\xC3\xA9", true},    // precomposed é at the end
      {"cafe\xCC\x81", false},  // e + combining acute: already decomposed
      {"\xE2\x84\xAB"
       "bc",
       true},  // Angstrom sign first
      {"stra\xC3\x9F"
       "e",
       false},                        // ß
      {"x\xF0\x9F\x98\x80y", false},  // an emoji
      {"\xC3\xA9\xFF", false},        // not UTF-8: nothing is decoded
  };
  for (const Case& c : cases) EXPECT_EQ(HoldsDecomposableCharacter(c.text), c.holds) << c.text;
}

}  // namespace
}  // namespace platform
