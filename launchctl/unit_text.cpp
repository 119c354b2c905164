#include "launchctl/unit_text.h"

namespace launchctl {
namespace {

bool Plain(char c, bool first) {
  if (c >= 'a' && c <= 'z') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= '0' && c <= '9') return true;
  if (c == ':' || c == '_') return true;
  return c == '.' && !first;
}

std::string Quoted(std::string_view s, bool command) {
  std::string out = "\"";
  for (char c : s) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '%':
        out += "%%";
        break;
      case '$':
        out += command ? "$$" : "$";
        break;
      default:
        out += c;
    }
  }
  out += '"';
  return out;
}

}  // namespace

std::string EscapeUnitName(std::string_view label) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < label.size(); ++i) {
    const char c = label[i];
    if (c == '/') {
      out += '-';
    } else if (Plain(c, i == 0)) {
      out += c;
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    }
  }
  return out;
}

bool HasControlCharacter(std::string_view s) {
  for (char c : s) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return true;
  }
  return false;
}

std::string Specifiers(std::string_view s) {
  std::string out;
  for (char c : s) {
    out += c;
    if (c == '%') out += '%';
  }
  return out;
}

std::string QuotedWord(std::string_view s) {
  return Quoted(s, false);
}

std::string CommandWord(std::string_view s) {
  return Quoted(s, true);
}

}  // namespace launchctl
