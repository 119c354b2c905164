#include "platform/plist/xml_text.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/text/utf8.h"

namespace platform::plist_text {

namespace {

// Sixteen bytes as one vector (GCC's and clang's vector extension: SSE2 on x86-64, plain code
// elsewhere).
using Bytes16 = unsigned char __attribute__((vector_size(16)));

// True when the sixteen bytes at `p` are ASCII with no control character but tab, LF and CR.
bool PlainAscii16(const char* p) {
  Bytes16 v;
  std::memcpy(&v, p, sizeof v);
  auto odd = ((v < 0x20) & (v != '\t') & (v != '\n') & (v != '\r')) | (v >= 0x80);
  std::uint64_t half[2];
  std::memcpy(half, &odd, sizeof half);
  return (half[0] | half[1]) == 0;
}

}  // namespace

std::size_t FindNonXmlCharacter(std::string_view text, std::string* what) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (text.size() - i >= 16 && PlainAscii16(text.data() + i)) {
      i += 16;
      continue;
    }
    // One character at a time to the end of this block of sixteen.
    for (const std::size_t stop = i + 16; i < stop && i < text.size();) {
      const std::size_t at = i;
      const char32_t c = NextUtf8(text, &i);
      if (c == U'\uFFFD' && text.substr(at, 3) != "\xEF\xBF\xBD") {
        *what = "bytes that are not UTF-8";
        return at;
      }
      if (!IsXmlChar(c)) {
        *what =
            c == 0 ? "a zero byte" : "the character " + CodePoint(c) + ", which XML does not allow";
        return at;
      }
    }
  }
  return std::string_view::npos;
}

void AppendEscaped(std::string_view s, std::string* out) {
  std::size_t run = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    // Every character that needs escaping sorts at or below '>'.
    if (c > '>' || (c != '&' && c != '<' && c != '>' && c != '\r')) continue;
    out->append(s.data() + run, i - run);
    out->append(c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : "&#13;");
    run = i + 1;
  }
  out->append(s.data() + run, s.size() - run);
}

std::string CodePoint(char32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
  return buf;
}

}  // namespace platform::plist_text
