// Mac OS Roman, as Apple publishes it: the lower 128 code points are ASCII; the upper 128 map
// one to one onto Unicode characters (0xDB is the euro sign U+20AC, 0xF0 the Apple logo
// U+F8FF). glibc's iconv "MACINTOSH" differs, so the table is our own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The character that a Mac OS Roman byte stands for.
char32_t MacRomanToUnicode(unsigned char byte);

// Mac OS Roman bytes decoded into UTF-8. Every byte has a character, so this cannot fail.
std::string MacRomanToUtf8(std::string_view bytes);

// UTF-8 text as Mac OS Roman bytes; nullopt when the text is not well-formed UTF-8 or holds a
// character that Mac OS Roman lacks. A letter followed by combining marks is composed first
// (canonical composition of that run only), so "e" + U+0301 becomes 0x8E like "é" does;
// characters without combining marks must be in the table as they stand.
std::optional<std::string> Utf8ToMacRoman(std::string_view utf8);

}  // namespace platform
