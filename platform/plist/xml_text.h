// Characters and escaping of the XML text of a property list, so that what the writer writes
// any XML reader reads back.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::plist_text {

// The characters an XML 1.0 document may hold: tab, LF, CR, U+0020-U+D7FF, U+E000-U+FFFD and
// U+10000-U+10FFFF. No control character, no U+FFFE or U+FFFF, and no zero: a string holding
// anything else has no XML form at all, raw or as a reference.
constexpr bool IsXmlChar(char32_t c) {
  return c == '\t' || c == '\n' || c == '\r' || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The offset of the first thing in `text` that an XML document cannot hold (a byte that is not
// part of well-formed UTF-8, or a character outside IsXmlChar), with what it is in *what;
// npos when there is none. Plain ASCII text is checked sixteen bytes at a time.
std::size_t FindNonXmlCharacter(std::string_view text, std::string* what);

// Appends `text` as XML character data: '&', '<' and '>' as entities, and CR as "&#13;", since
// a reader turns a raw CR into LF.
void AppendEscaped(std::string_view text, std::string* out);

// "U+0001": the code point in the usual notation, for messages.
std::string CodePoint(char32_t c);

}  // namespace platform::plist_text
