// Checking, decoding and producing UTF-8 text, and reading UTF-16 bytes into it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// True when `bytes` is well-formed UTF-8: shortest forms only, no surrogates, nothing above
// U+10FFFF. Embedded zero bytes are well-formed.
bool IsValidUtf8(std::string_view bytes);

// Decodes the character at `*pos` of well-formed UTF-8 and moves `*pos` past it. The caller
// has checked the text with IsValidUtf8; on a malformed byte the result is U+FFFD and one byte
// is consumed.
char32_t NextUtf8(std::string_view text, std::size_t* pos);

// Appends the UTF-8 form of `c` (a scalar value: not a surrogate, at most U+10FFFF).
void AppendUtf8(std::string* out, char32_t c);

// UTF-16 bytes (no byte order mark) as UTF-8: nullopt for an odd byte count or a surrogate
// without its partner.
std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool big_endian);

}  // namespace platform
