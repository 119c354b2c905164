#include "platform/plist/xml_markup.h"

#include <algorithm>
#include <array>
#include <unordered_set>

#include "platform/plist/xml_text.h"
#include "platform/text/utf8.h"

namespace platform::plist_scan {

namespace {

// Name characters: ASCII letters, digits and "_:.-", and every byte of a non-ASCII character.
constexpr auto kNameChars = [] {
  std::array<bool, 256> table{};
  for (int c = 0; c < 256; ++c)
    table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == ':' || c == '.' || c == '-' || c >= 0x80;
  return table;
}();

bool IsNameChar(char c) {
  return kNameChars[static_cast<unsigned char>(c)];
}

bool IsNameStart(char c) {
  return IsNameChar(c) && c != '-' && c != '.' && !(c >= '0' && c <= '9');
}

// Where plain text in a leaf element ends: markup, a reference, a CR, or a '>' that may close
// "]]>".
constexpr auto kTextStops = [] {
  std::array<bool, 256> table{};
  for (unsigned char c : {'<', '&', '\r', '>'}) table[c] = true;
  return table;
}();

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return out;
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

bool XmlMarkup::Comment() {
  std::size_t dashes = in_.find("--", pos_ + 4);
  if (dashes == std::string_view::npos) return Fail("unterminated comment", pos_);
  if (!StartsWith(dashes, "-->")) return Fail("\"--\" inside a comment", dashes);
  pos_ = dashes + 3;
  return true;
}

bool XmlMarkup::ProcessingInstruction() {
  const std::size_t start = pos_;
  std::size_t n = pos_ + 2;
  while (n < in_.size() && IsNameChar(in_[n])) ++n;
  const std::string_view target = in_.substr(start + 2, n - start - 2);
  const std::size_t end = in_.find("?>", n);
  if (end == std::string_view::npos) return Fail("unterminated processing instruction", start);
  if (target.empty() || !IsNameStart(target[0]) || (end != n && !IsSpace(in_[n])))
    return Fail("malformed processing instruction", start);
  pos_ = end + 2;
  if (Upper(target) != "XML") return true;
  if (start != 0 || target != "xml")
    return Fail("an XML declaration that is not at the start of the file", start);
  return XmlDeclaration(start, in_.substr(n, end - n));
}

bool XmlMarkup::XmlDeclaration(std::size_t start, std::string_view attributes) {
  static constexpr std::string_view kNames[] = {"version", "encoding", "standalone"};
  std::string_view values[3];
  std::size_t next = 0, i = 0;
  for (;;) {
    const std::size_t space = i;
    while (i < attributes.size() && IsSpace(attributes[i])) ++i;
    if (i == attributes.size()) break;
    const std::size_t n = i;
    while (i < attributes.size() && IsNameChar(attributes[i])) ++i;
    const std::string_view name = attributes.substr(n, i - n);
    while (next < 3 && kNames[next] != name) ++next;
    if (space == n || next == 3)
      return Fail("malformed XML declaration: \"" + std::string(name) +
                      "\" is unknown, repeated or out of order",
                  start);
    while (i < attributes.size() && IsSpace(attributes[i])) ++i;
    if (i == attributes.size() || attributes[i] != '=')
      return Fail("malformed XML declaration", start);
    ++i;
    while (i < attributes.size() && IsSpace(attributes[i])) ++i;
    const std::size_t close =
        i < attributes.size() && (attributes[i] == '"' || attributes[i] == '\'')
            ? attributes.find(attributes[i], i + 1)
            : std::string_view::npos;
    if (close == std::string_view::npos) return Fail("malformed XML declaration", start);
    values[next++] = attributes.substr(i + 1, close - i - 1);
    i = close + 1;
  }
  const std::string_view version = values[0], encoding = values[1], standalone = values[2];
  if (version.size() < 3 || !version.starts_with("1.") ||
      version.find_first_not_of("0123456789", 2) != std::string_view::npos)
    return Fail("malformed XML declaration: no version 1.x", start);
  if (!standalone.empty() && standalone != "yes" && standalone != "no")
    return Fail("malformed XML declaration: standalone is neither \"yes\" nor \"no\"", start);
  const std::string name = Upper(encoding);
  if (name.empty() || name == "UTF-8" || name == "UTF8") return true;
  if (name == "US-ASCII" || name == "ASCII") {
    auto high = std::find_if(in_.begin(), in_.end(), [](char c) { return c & 0x80; });
    if (high == in_.end()) return true;
    return Fail("a byte that is not ASCII in a file declared " + std::string(encoding),
                static_cast<std::size_t>(high - in_.begin()));
  }
  return Fail("the encoding " + std::string(encoding) + " is not supported (UTF-8 only)", start);
}

bool XmlMarkup::DocumentType() {
  const std::size_t start = pos_;
  std::size_t i = start + 9;  // after "<!DOCTYPE"
  auto space = [&] {
    const std::size_t from = i;
    while (i < in_.size() && IsSpace(in_[i])) ++i;
    return i > from;
  };
  auto name = [&] {
    const std::size_t from = i;
    while (i < in_.size() && IsNameChar(in_[i])) ++i;
    return i > from;
  };
  // A quoted literal; a public identifier holds only letters, digits, white space and a few
  // marks.
  auto literal = [&](bool public_id) {
    if (i >= in_.size() || (in_[i] != '"' && in_[i] != '\'')) return false;
    const std::size_t close = in_.find(in_[i], i + 1);
    if (close == std::string_view::npos) return false;
    for (std::size_t c = i + 1; public_id && c < close; ++c)
      if (!kNameChars[static_cast<unsigned char>(in_[c])] &&
          std::string_view(" \r\n'()+,/=?;!*#@$%").find(in_[c]) == std::string_view::npos)
        return false;
    i = close + 1;
    return true;
  };
  const auto malformed = [&] { return Fail("malformed document type declaration", start); };
  if (!space() || !name()) return malformed();
  if (space() && (StartsWith(i, "SYSTEM") || StartsWith(i, "PUBLIC"))) {
    const bool public_id = in_[i] == 'P';
    i += 6;
    if (!space() || !literal(public_id)) return malformed();
    if (public_id && (!space() || !literal(false))) return malformed();
    space();
  }
  if (i < in_.size() && in_[i] == '[') {  // the internal subset: declarations, comments, PIs
    for (++i; i >= in_.size() || in_[i] != ']';) {
      if (i >= in_.size()) return Fail("unterminated document type declaration", start);
      pos_ = i;
      if (StartsWith(i, "<!--") && !Comment()) return false;
      if (StartsWith(i, "<?") && !ProcessingInstruction()) return false;
      if (pos_ != i) {
        i = pos_;
      } else if (in_[i] == '"' || in_[i] == '\'') {
        if (!literal(false)) return Fail("unterminated document type declaration", start);
      } else {
        ++i;
      }
    }
    ++i;
    space();
  }
  if (i >= in_.size() || in_[i] != '>') return malformed();
  pos_ = i + 1;
  return true;
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
  // Kept in a hash set: a tag with many attributes must cost no more than its length.
  std::unordered_set<std::string_view> attributes;
  for (i = n;;) {
    const std::size_t space = i;
    while (i < in_.size() && IsSpace(in_[i])) ++i;
    if (i >= in_.size()) return Fail("unterminated tag", start);
    if (in_[i] == '>' || (skip == 1 && StartsWith(i, "/>"))) {
      *self_closing = in_[i] == '/';
      pos_ = i + (*self_closing ? 2 : 1);
      break;
    }
    std::size_t a = i;
    while (i < in_.size() && IsNameChar(in_[i])) ++i;
    const std::string_view attribute = in_.substr(a, i - a);
    while (i < in_.size() && IsSpace(in_[i])) ++i;
    if (skip != 1 || space == a || a == i || i >= in_.size() || in_[i] != '=')
      return Fail("malformed tag", start);
    if (!attributes.insert(attribute).second)
      return Fail("the attribute " + std::string(attribute) + " given twice", start);
    ++i;
    while (i < in_.size() && IsSpace(in_[i])) ++i;
    if (i >= in_.size() || (in_[i] != '"' && in_[i] != '\'')) return Fail("malformed tag", start);
    std::size_t close = in_.find(in_[i], i + 1);
    if (close == std::string_view::npos) return Fail("unterminated tag", start);
    for (std::size_t v = i + 1; v < close; ++v) {
      char32_t c;
      std::size_t end;
      std::string why;
      if (in_[v] == '<') return Fail("a '<' in an attribute value", start);
      if (in_[v] != '&') continue;
      if (!plist_text::ReadReference(in_.substr(0, close), v, &c, &end, &why))
        return Fail(why, start);
      v = end - 1;
    }
    i = close + 1;
  }
  if (!attributes.empty() && *name != "plist")
    return Fail("attributes on <" + std::string(*name) + ">", start);
  return true;
}

bool XmlMarkup::LeafContent(std::string_view name, Leaf* leaf) {
  leaf->start = pos_;
  std::size_t i = pos_;
  while (i < in_.size() && !kTextStops[static_cast<unsigned char>(in_[i])]) ++i;
  // The usual end: "</name>" with nothing else in the tag.
  const std::size_t close = i + 2 + name.size();
  if (close < in_.size() && in_[i] == '<' && in_[i + 1] == '/' && in_[close] == '>' &&
      in_.compare(i + 2, name.size(), name) == 0) {
    leaf->end = i;
    leaf->as_it_stands = true;
    leaf->text = in_.substr(leaf->start, i - leaf->start);
    pos_ = close + 1;
    return true;
  }
  return DecodeLeaf(name, leaf);
}

bool XmlMarkup::DecodeLeaf(std::string_view name, Leaf* leaf) {
  leaf->as_it_stands = false;
  leaf->decoded.clear();
  std::string& out = leaf->decoded;
  std::size_t run = leaf->start;  // start of the character data not yet taken
  for (std::size_t i = run;;) {
    const std::size_t stop = in_.find_first_of("<&]", i);
    if (stop == std::string_view::npos)
      return Fail("unterminated <" + std::string(name) + ">", leaf->start);
    if (in_[stop] == ']') {
      if (StartsWith(stop, "]]>")) return Fail("\"]]>\" in text", stop);
      i = stop + 1;
      continue;
    }
    plist_text::AppendWithLineEnds(in_.substr(run, stop - run), &out);
    if (in_[stop] == '&') {
      char32_t c;
      std::string why;
      if (!plist_text::ReadReference(in_, stop, &c, &i, &why)) return Fail(why, stop);
      AppendUtf8(&out, c);
      run = i;
      continue;
    }
    pos_ = stop;
    if (StartsWith(stop, "<![CDATA[")) {
      std::size_t end = in_.find("]]>", stop + 9);
      if (end == std::string_view::npos) return Fail("unterminated CDATA section", stop);
      plist_text::AppendWithLineEnds(in_.substr(stop + 9, end - stop - 9), &out);
      pos_ = end + 3;
    } else if (StartsWith(stop, "<!--")) {
      if (!Comment()) return false;
    } else if (StartsWith(stop, "<?")) {
      if (!ProcessingInstruction()) return false;
    } else {
      std::string_view end;
      bool unused;
      if (!StartsWith(stop, "</") || !Tag(2, &end, &unused) || end != name)
        return Fail("unexpected markup inside <" + std::string(name) + ">", stop);
      leaf->end = stop;
      leaf->text = out;
      return true;
    }
    i = run = pos_;
  }
}

}  // namespace platform::plist_scan
