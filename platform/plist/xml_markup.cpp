#include "platform/plist/xml_markup.h"

#include <algorithm>
#include <array>

namespace platform::plist_scan {

namespace {

constexpr auto kNameChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == ':' || c == '.' || c == '-';
  return table;
}();

bool IsNameChar(char c) {
  return kNameChars[static_cast<unsigned char>(c)];
}

}  // namespace

bool XmlMarkup::Fail(const std::string& what, std::size_t at) {
  *err_ = what + " (line " +
          std::to_string(
              1 + std::count(in_.begin(),
                             in_.begin() + static_cast<std::ptrdiff_t>(std::min(at, in_.size())),
                             '\n')) +
          ")";
  return false;
}

bool XmlMarkup::SkipPast(std::size_t from, std::string_view end, const char* what) {
  std::size_t e = in_.find(end, from);
  if (e == std::string_view::npos) return Fail(std::string("unterminated ") + what, pos_);
  pos_ = e + end.size();
  return true;
}

bool XmlMarkup::Declaration() {
  std::size_t start = pos_;
  if (!SkipPast(pos_ + 2, "?>", "processing instruction")) return false;
  std::string_view pi = in_.substr(start, pos_ - start);
  if (!pi.starts_with("<?xml") || pi.size() < 6 || IsNameChar(pi[5])) return true;
  std::size_t enc = pi.find("encoding");
  if (enc == std::string_view::npos) return true;
  std::size_t q = pi.find_first_of("\"'", enc);
  std::size_t q2 = q == std::string_view::npos ? q : pi.find(pi[q], q + 1);
  if (q2 == std::string_view::npos) return Fail("malformed XML declaration", start);
  std::string name(pi.substr(q + 1, q2 - q - 1));
  for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  if (name != "UTF-8" && name != "UTF8")
    return Fail("the encoding " + std::string(pi.substr(q + 1, q2 - q - 1)) +
                    " is not supported (UTF-8 only)",
                start);
  return true;
}

bool XmlMarkup::DocumentType() {
  int brackets = 0;
  char quote = 0;
  for (std::size_t i = pos_ + 2; i < in_.size(); ++i) {
    char c = in_[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'') {
      quote = c;
    } else if (c == '[') {
      ++brackets;
    } else if (c == ']') {
      --brackets;
    } else if (c == '>' && brackets <= 0) {
      pos_ = i + 1;
      return true;
    }
  }
  return Fail("unterminated declaration", pos_);
}

bool XmlMarkup::Tag(std::size_t skip, std::string_view* name, bool* self_closing) {
  std::size_t start = pos_, i = pos_ + skip, n = i;
  while (n < in_.size() && IsNameChar(in_[n])) ++n;
  *name = in_.substr(i, n - i);
  if (name->empty()) return Fail("malformed tag", start);
  if (n < in_.size() && in_[n] == '>') {  // the usual tag: a bare name
    *self_closing = false;
    pos_ = n + 1;
    return true;
  }
  bool attributes = false;
  for (i = n;;) {
    while (i < in_.size() && IsSpace(in_[i])) ++i;
    if (i >= in_.size()) return Fail("unterminated tag", start);
    if (in_[i] == '>' || (skip == 1 && StartsWith(i, "/>"))) {
      *self_closing = in_[i] == '/';
      pos_ = i + (*self_closing ? 2 : 1);
      break;
    }
    std::size_t a = i;
    while (i < in_.size() && IsNameChar(in_[i])) ++i;
    while (i < in_.size() && IsSpace(in_[i])) ++i;
    if (skip != 1 || a == i || i >= in_.size() || in_[i] != '=')
      return Fail("malformed tag", start);
    ++i;
    while (i < in_.size() && IsSpace(in_[i])) ++i;
    if (i >= in_.size() || (in_[i] != '"' && in_[i] != '\'')) return Fail("malformed tag", start);
    std::size_t close = in_.find(in_[i], i + 1);
    if (close == std::string_view::npos) return Fail("unterminated tag", start);
    i = close + 1;
    attributes = true;
  }
  if (attributes && *name != "plist")
    return Fail("attributes on <" + std::string(*name) + ">", start);
  return true;
}

}  // namespace platform::plist_scan
