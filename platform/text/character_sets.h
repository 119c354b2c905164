// Sets of characters that text is checked against: the decomposable characters (accented and
// other composed letters) and single characters.
#pragma once

#include <string_view>

namespace platform {

// True when `c` has a canonical decomposition: "é" (e and a combining acute), "Å", the
// Angstrom sign (which decomposes to "Å"), a Hangul syllable. Plain letters, digits,
// punctuation and characters with only a compatibility decomposition ("ﬁ", "²") are not.
bool IsDecomposableCharacter(char32_t c);

// True when the UTF-8 text holds a decomposable character. Text that is not well-formed UTF-8
// holds no decomposable character; check it with IsValidUtf8 where that matters.
bool HoldsDecomposableCharacter(std::string_view utf8);

}  // namespace platform
