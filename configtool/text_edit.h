// The edit of a text configuration file: on the line that names a parameter, replace every
// occurrence of an old value by a new one. Works on UTF-8 bytes; on valid UTF-8 a literal byte
// search finds exactly the occurrences a character search finds.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace configtool {

struct TextEdit {
  bool found = false;          // the parameter name occurs in the text
  std::size_t line_start = 0;  // the lines holding its first occurrence, terminator included,
  std::size_t line_end = 0;    // as offsets into the text before the edit
  std::size_t count = 0;       // occurrences of the old value replaced within those lines
};

// Finds the first occurrence of `param` in `*text` and takes the lines it touches: from the
// start of the line holding its first byte to the end of the line holding its last, including
// that line's terminator (LF, CR, CR LF, U+0085, U+2028 or U+2029; CR LF counts as one). Within
// those lines replaces every non-overlapping occurrence of `old_value` by `new_value`, left to
// right, in place; every other byte stays. An empty `param` finds nothing and an empty
// `old_value` replaces nothing. Linear in the text's size.
TextEdit EditParameterLine(std::string* text, std::string_view param, std::string_view old_value,
                           std::string_view new_value);

// The start of the line holding the byte at `pos` of `text` (0 when no line ends before it).
std::size_t LineStartOf(std::string_view text, std::size_t pos);

// The end, past its terminator, of the line holding the byte at `pos` (the text's size when
// no terminator follows).
std::size_t LineEndOf(std::string_view text, std::size_t pos);

// The first occurrence of `needle` in [from, to) of `hay`, or npos; linear in to - from.
std::size_t FindLiteral(std::string_view hay, std::string_view needle, std::size_t from,
                        std::size_t to);

}  // namespace configtool
