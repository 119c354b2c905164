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

bool ReadReference(std::string_view text, std::size_t at, char32_t* c, std::size_t* end,
                   std::string* why) {
  const std::size_t semicolon = text.find(';', at + 1);
  // Names and numbers are short; a ';' far away belongs to something else.
  if (semicolon == std::string_view::npos || semicolon - at > 32) {
    *why = "an '&' that starts no reference (write it as &amp;)";
    return false;
  }
  std::string_view body = text.substr(at + 1, semicolon - at - 1);
  *end = semicolon + 1;
  if (!body.starts_with('#')) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& [name, value] : kEntities) {
      if (body == name) {
        *c = static_cast<unsigned char>(value);
        return true;
      }
    }
    *why = "the entity &" + std::string(body) + "; (only amp, lt, gt, quot and apos are known)";
    return false;
  }
  body.remove_prefix(1);
  if (body.starts_with('X')) {
    *why =
        "the reference &#" + std::string(body) + "; (hexadecimal ones begin with a lower-case x)";
    return false;
  }
  const bool hex = body.starts_with('x');
  if (hex) body.remove_prefix(1);
  std::uint32_t value = 0;
  for (char d : body) {
    int digit = d >= '0' && d <= '9'          ? d - '0'
                : hex && d >= 'a' && d <= 'f' ? d - 'a' + 10
                : hex && d >= 'A' && d <= 'F' ? d - 'A' + 10
                                              : -1;
    if (digit < 0) {
      *why = "a malformed character reference";
      return false;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
    if (value > 0x10FFFF) value = 0x110000;  // stays out of range, never wraps
  }
  if (body.empty()) {
    *why = "a malformed character reference";
    return false;
  }
  if (!IsXmlChar(value)) {
    *why = "a reference to " + CodePoint(value) + ", a character XML does not allow";
    return false;
  }
  *c = value;
  return true;
}

void AppendWithLineEnds(std::string_view text, std::string* out) {
  for (std::size_t cr; (cr = text.find('\r')) != std::string_view::npos;) {
    out->append(text.substr(0, cr)).push_back('\n');
    text.remove_prefix(cr + (text.substr(cr, 2) == "\r\n" ? 2 : 1));
  }
  out->append(text);
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
