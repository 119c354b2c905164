#include "platform/text/mac_roman.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <utility>

#include "platform/text/utf8.h"

namespace platform {
namespace {

// The characters of bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kUpperHalf = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,  // 0x80
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,  // 0x88
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,  // 0x90
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,  // 0x98
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,  // 0xA0
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,  // 0xA8
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,  // 0xB0
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,  // 0xB8
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,  // 0xC0
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,  // 0xC8
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,  // 0xD0
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,  // 0xD8
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,  // 0xE0
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,  // 0xE8
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,  // 0xF0
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,  // 0xF8
};

// No character of the table decomposes into more than a letter and one mark, so a letter with
// more marks than this cannot convert; the cap also keeps the reordering of marks short.
constexpr int kMaxMarks = 4;

using Entry = std::pair<char32_t, unsigned char>;

// The upper half ordered by character, for the way back.
const std::array<Entry, 128>& ByCharacter() {
  static const std::array<Entry, 128> table = [] {
    std::array<Entry, 128> t{};
    for (unsigned i = 0; i < 128; ++i) t[i] = {kUpperHalf[i], static_cast<unsigned char>(0x80 + i)};
    std::sort(t.begin(), t.end());
    return t;
  }();
  return table;
}

// The byte for `c`, or -1 when Mac OS Roman lacks it.
int ByteFor(char32_t c) {
  if (c < 0x80) return static_cast<int>(c);
  const auto& table = ByCharacter();
  auto it = std::lower_bound(table.begin(), table.end(), Entry{c, 0});
  if (it == table.end() || it->first != c) return -1;
  return it->second;
}

bool IsCombiningMark(char32_t c) {
  utf8proc_category_t category = utf8proc_category(static_cast<utf8proc_int32_t>(c));
  return category == UTF8PROC_CATEGORY_MN || category == UTF8PROC_CATEGORY_MC ||
         category == UTF8PROC_CATEGORY_ME;
}

// Appends the bytes of `run` (a character and its combining marks) after canonical composition.
bool AppendComposed(std::string_view run, std::string* out) {
  utf8proc_uint8_t* composed = nullptr;
  utf8proc_ssize_t n =
      utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(run.data()),
                   static_cast<utf8proc_ssize_t>(run.size()), &composed,
                   static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(composed, &std::free);
  if (n < 0) return false;
  std::string_view text(reinterpret_cast<const char*>(composed), static_cast<std::size_t>(n));
  for (std::size_t pos = 0; pos < text.size();) {
    int byte = ByteFor(NextUtf8(text, &pos));
    if (byte < 0) return false;
    out->push_back(static_cast<char>(byte));
  }
  return true;
}

}  // namespace

char32_t MacRomanToUnicode(unsigned char byte) {
  return byte < 0x80 ? byte : kUpperHalf[byte - 0x80];
}

std::string MacRomanToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char b : bytes) AppendUtf8(&out, MacRomanToUnicode(static_cast<unsigned char>(b)));
  return out;
}

std::optional<std::string> Utf8ToMacRoman(std::string_view utf8) {
  if (!IsValidUtf8(utf8)) return std::nullopt;
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    std::size_t start = pos;
    char32_t c = NextUtf8(utf8, &pos);
    std::size_t end = pos;
    int marks = 0;
    // Take in the combining marks that follow (none is ASCII).
    while (end < utf8.size() && static_cast<unsigned char>(utf8[end]) >= 0x80) {
      std::size_t next = end;
      if (!IsCombiningMark(NextUtf8(utf8, &next))) break;
      if (++marks > kMaxMarks) return std::nullopt;
      end = next;
    }
    if (end == pos) {
      int byte = ByteFor(c);
      if (byte < 0) return std::nullopt;
      out.push_back(static_cast<char>(byte));
    } else {
      if (!AppendComposed(utf8.substr(start, end - start), &out)) return std::nullopt;
      pos = end;
    }
  }
  return out;
}

}  // namespace platform
