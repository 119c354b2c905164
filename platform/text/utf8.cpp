#include "platform/text/utf8.h"

#include <cstdint>
#include <cstring>

namespace platform {
namespace {

// Length of the run of ASCII bytes from `pos`, eight bytes at a time.
std::size_t AsciiRun(std::string_view s, std::size_t pos) {
  std::size_t start = pos;
  while (pos + 8 <= s.size()) {
    std::uint64_t word;
    std::memcpy(&word, s.data() + pos, 8);
    if (word & 0x8080808080808080ULL) break;
    pos += 8;
  }
  while (pos < s.size() && static_cast<unsigned char>(s[pos]) < 0x80) ++pos;
  return pos - start;
}

// The well-formed sequence at `pos` (first byte >= 0x80): its length and value, or length 0.
std::size_t DecodeMultibyte(std::string_view s, std::size_t pos, char32_t* value) {
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[pos + i]); };
  unsigned char lead = byte(0);
  std::size_t len;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  char32_t c;
  if (lead >= 0xC2 && lead <= 0xDF) {
    len = 2, c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    len = 3, c = lead & 0x0F;
    if (lead == 0xE0) lo = 0xA0;  // no overlong forms
    if (lead == 0xED) hi = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    len = 4, c = lead & 0x07;
    if (lead == 0xF0) lo = 0x90;  // no overlong forms
    if (lead == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (s.size() - pos < len) return 0;
  if (byte(1) < lo || byte(1) > hi) return 0;
  c = (c << 6) | (byte(1) & 0x3F);
  for (std::size_t i = 2; i < len; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i) & 0x3F);
  }
  *value = c;
  return len;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  std::size_t pos = 0;
  while (pos < bytes.size()) {
    pos += AsciiRun(bytes, pos);
    if (pos == bytes.size()) break;
    char32_t c;
    std::size_t len = DecodeMultibyte(bytes, pos, &c);
    if (len == 0) return false;
    pos += len;
  }
  return true;
}

char32_t NextUtf8(std::string_view text, std::size_t* pos) {
  unsigned char lead = static_cast<unsigned char>(text[*pos]);
  if (lead < 0x80) {
    ++*pos;
    return lead;
  }
  char32_t c;
  std::size_t len = DecodeMultibyte(text, *pos, &c);
  if (len == 0) {
    ++*pos;
    return U'\uFFFD';
  }
  *pos += len;
  return c;
}

void AppendUtf8(std::string* out, char32_t c) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

std::optional<std::string> Utf16ToUtf8(std::string_view bytes, bool big_endian) {
  if (bytes.size() % 2 != 0) return std::nullopt;
  auto unit = [&](std::size_t i) -> char32_t {
    auto a = static_cast<unsigned char>(bytes[i]), b = static_cast<unsigned char>(bytes[i + 1]);
    return big_endian ? (a << 8) | b : (b << 8) | a;
  };
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xDC00 && c <= 0xDFFF) return std::nullopt;  // a low half with no high half
    if (c >= 0xD800 && c <= 0xDBFF) {
      if (i + 4 > bytes.size()) return std::nullopt;
      char32_t low = unit(i + 2);
      if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    }
    AppendUtf8(&out, c);
  }
  return out;
}

}  // namespace platform
