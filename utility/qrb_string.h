// Operations on text: reading and writing text files, Mac OS Roman reinterpretation, an MD5
// digest, dropping a path's first component and splitting into lines. Text is UTF-8 held in a
// std::string.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The operating-system version as packed hexadecimal digits (0x1040 for 10.4.0); 0 until the
// host program sets it. Above 0x103F the file operations take the newer, strict path.
extern std::int32_t MacOSXVersion;

namespace QRBString {

// The text of the file at `path`, or nullopt when it cannot be read or decoded (the reason in
// *err when err is not null).
// Newer path (MacOSXVersion > 0x103F): the bytes must be UTF-8; a leading UTF-8 byte order mark
// is dropped, not kept as U+FEFF, so both paths give the same text for the same file.
// Older path: a byte order mark selects UTF-8, UTF-16 little- or big-endian; without one the
// bytes must be UTF-8.
std::optional<std::string> stringReadingFromFile(const std::string& path,
                                                 std::string* err = nullptr);

// Writes `s` as UTF-8 (no byte order mark) to `path`, replacing the file atomically. Both
// version paths write the same bytes. false (the reason in *err) when `s` is not well-formed
// UTF-8 or the file cannot be replaced; the old file then stays as it was.
bool writeToPath(const std::string& s, const std::string& path, std::string* err = nullptr);

// The text's Mac OS Roman bytes read as UTF-8: nullopt when the text has a character Mac OS
// Roman lacks (combining sequences are composed first) or when those bytes are not UTF-8.
std::optional<std::string> macDecodedString(const std::string& s);

// The text's UTF-8 bytes read as Mac OS Roman (every byte has a character): nullopt only when
// `s` is not well-formed UTF-8.
std::optional<std::string> macEncodedString(const std::string& s);

// The MD5 digest of the text's bytes up to (not including) the first zero byte, as 32
// upper-case hexadecimal digits. Stored digests were made that way, so an embedded zero byte
// ends the digested text. Empty only if the digest is unavailable (MD5 disabled in OpenSSL).
std::string md5Hash(const std::string& s);

// The path without its first real component: "/a/b/c" gives "/b/c", "a/b" gives "b". A path
// with fewer than two components besides the leading "/" ("/", "/a", "a", "") comes back as it
// is. Repeated slashes count as one; a trailing slash is not a component and is kept.
std::string stringByDeletingFirstPathComponent(const std::string& s);

// The lines of the text without their terminators (LF, CR, CR LF, U+0085, U+2028, U+2029). An
// empty text gives no lines; a text that ends with a terminator gives a last, empty line.
std::vector<std::string> componentsSeparatedByLineSeparators(std::string_view s);

}  // namespace QRBString
