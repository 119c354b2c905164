// The scan of an XML property list: one pass over the text, no recursion.
#include "platform/plist/file.h"
#include "platform/plist/scalar_text.h"
#include "platform/plist/scan.h"
#include "platform/plist/xml_markup.h"
#include "platform/plist/xml_text.h"

namespace platform::plist_scan {

namespace {

class XmlScanner : XmlMarkup {
 public:
  XmlScanner(std::string_view in, Scan* scan, std::string* err) : XmlMarkup(in, err), scan_(scan) {}

  bool Run() {
    using namespace std::string_view_literals;
    if (in_.starts_with("\xFE\xFF"sv) || in_.starts_with("\xFF\xFE"sv) ||
        in_.starts_with("<\0"sv) || in_.starts_with("\0<"sv))
      return Fail("the file is in UTF-16 (only UTF-8 is read)", 0);
    std::string what;
    if (std::size_t at = plist_text::FindNonXmlCharacter(in_, &what); at != std::string_view::npos)
      return Fail(what, at);
    // Room for the whole copy at once: each rewritten tag grows by a byte and is at least six
    // long. Tokens for a value every 32 bytes (a large file has about one every 50); a denser
    // file grows the list. Pages not written to are never touched.
    scan_->xml_for_reader.reserve(in_.size() + in_.size() / 6 + 64);
    scan_->tokens.reserve(in_.size() / 32 + 16);
    for (std::size_t lt; (lt = in_.find('<', pos_)) != std::string_view::npos;) {
      if (!OnlySpace(pos_, lt)) return false;
      pos_ = lt;
      if (!Markup()) return false;
    }
    if (!OnlySpace(pos_, in_.size())) return false;
    if (!stack_.empty())
      return Fail("the file ends inside <" + std::string(Name(stack_.back().element)) + ">",
                  in_.size());
    if (!have_root_) return Fail("no property list in the file", in_.size());
    scan_->xml_for_reader.append(in_.substr(copied_));
    return true;
  }

 private:
  enum class Element { kPlist, kArray, kDict };
  struct Open {
    Element element;
    std::size_t token;      // the container's token (not for kPlist)
    std::uint64_t entries;  // values so far (kPlist, kArray) or keys so far (kDict)
    bool awaiting_value;    // kDict: a key was read, its value not yet
  };

  static std::string_view Name(Element e) {
    return e == Element::kPlist ? "plist" : e == Element::kArray ? "array" : "dict";
  }

  // Replaces in the reader's copy the text from `from` up to `to` by `with`.
  void Rewrite(std::size_t from, std::size_t to, std::string_view with) {
    scan_->xml_for_reader.append(in_.substr(copied_, from - copied_)).append(with);
    copied_ = to;
  }
  void Rewrite(std::size_t from, std::string_view with) { Rewrite(from, pos_, with); }

  // A leaf's content as libplist is to read it: the text as XML reads it, when libplist would
  // read the file's own bytes otherwise (it keeps CRs and stops at comments inside). Numbers,
  // dates and data are plain ASCII once read; anything else in them is white space or refuses
  // the file, and libplist takes a raw CR only, so every other byte goes as a space.
  void RewriteLeaf(const Leaf& leaf, bool text) {
    if (leaf.as_it_stands) return;
    escaped_.clear();
    if (text) {
      plist_text::AppendEscaped(leaf.text, &escaped_);
    } else {
      for (char c : leaf.text)
        escaped_.push_back((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ||
                                   (c >= 'a' && c <= 'z') ||
                                   std::string_view("+-./:=").find(c) != std::string_view::npos
                               ? c
                               : ' ');
    }
    Rewrite(leaf.start, leaf.end, escaped_);
  }

  // Between markup outside leaf elements only white space may stand.
  bool OnlySpace(std::size_t from, std::size_t to) {
    for (std::size_t i = from; i < to; ++i) {
      if (IsSpace(in_[i])) continue;
      return Fail(!stack_.empty() ? "text between values"
                  : have_root_    ? "text after the end of the property list"
                                  : "text before the property list",
                  i);
    }
    return true;
  }

  bool Markup() {
    const char second = pos_ + 1 < in_.size() ? in_[pos_ + 1] : '\0';
    if (second == '/') return EndTag();
    if (second == '?') return ProcessingInstruction();
    if (second != '!') return StartTag();
    if (StartsWith(pos_, "<!--")) return Comment();
    if (StartsWith(pos_, "<![CDATA[")) return Fail("a CDATA section outside a value", pos_);
    if (!StartsWith(pos_, "<!DOCTYPE") || seen_doctype_ || have_root_ || !stack_.empty())
      return Fail("a document type declaration out of place", pos_);
    seen_doctype_ = true;
    return DocumentType();
  }

  bool EndTag() {
    std::size_t start = pos_;
    std::string_view name;
    bool unused;
    if (!Tag(2, &name, &unused)) return false;
    if (stack_.empty() || name != Name(stack_.back().element))
      return Fail("unexpected </" + std::string(name) + ">", start);
    return Close(start);
  }

  bool Close(std::size_t tag_start) {
    Open& open = stack_.back();
    if (open.element == Element::kDict) {
      if (open.awaiting_value) return Fail("a key without a value", tag_start);
      Rewrite(tag_start, "</array>");
    }
    if (open.element == Element::kPlist && open.entries == 0)
      return Fail("an empty <plist>", tag_start);
    if (open.element != Element::kPlist) {
      scan_->tokens[open.token].size = open.entries;
      --depth_;
    }
    stack_.pop_back();
    return true;
  }

  // Checks that a value may stand here and counts it.
  bool PlaceValue(std::size_t at) {
    if (stack_.empty()) {
      if (have_root_) return Fail("more than one value at the top level", at);
    } else if (Open& open = stack_.back(); open.element == Element::kDict) {
      if (!open.awaiting_value) return Fail("a value without a key", at);
      open.awaiting_value = false;
    } else {
      if (open.element == Element::kPlist && open.entries != 0)
        return Fail("more than one value in <plist>", at);
      ++open.entries;
    }
    have_root_ = true;
    return true;
  }

  Token& Add(Value::Kind kind) {
    scan_->tokens.emplace_back();
    scan_->tokens.back().kind = kind;
    return scan_->tokens.back();
  }

  bool StartTag();
  bool Scalar(std::string_view name, std::size_t at, bool self_closing);

  Scan* scan_;
  std::size_t copied_ = 0;
  std::vector<Open> stack_;
  int depth_ = 0;
  bool have_root_ = false;
  bool seen_doctype_ = false;
  Leaf leaf_;            // the leaf element being read
  std::string escaped_;  // its text as rewritten for libplist
};

bool XmlScanner::StartTag() {
  std::size_t start = pos_;
  std::string_view name;
  bool self_closing = false;
  if (!Tag(1, &name, &self_closing)) return false;
  if (name == "key") {
    // Left as it is: libplist reads a <key> inside an array as a string.
    if (stack_.empty() || stack_.back().element != Element::kDict || stack_.back().awaiting_value)
      return Fail("a <key> where a value belongs", start);
    stack_.back().awaiting_value = true;
    ++stack_.back().entries;
    if (self_closing) return true;
    if (!LeafContent(name, &leaf_)) return false;
    RewriteLeaf(leaf_, true);
    return true;
  }
  if (name == "plist") {
    if (!stack_.empty() || have_root_) return Fail("unexpected <plist>", start);
    if (self_closing) return Fail("an empty <plist>", start);
    stack_.push_back({Element::kPlist, 0, 0, false});
    return true;
  }
  if (!PlaceValue(start)) return false;
  if (name == "array" || name == "dict") {
    bool dict = name == "dict";
    Add(dict ? Value::Kind::kDictionary : Value::Kind::kArray).size = 0;
    if (dict) Rewrite(start, self_closing ? "<array/>" : "<array>");
    // An empty container counts as a level too, as it does in a binary file.
    if (depth_ + 1 > kMaxPlistDepth)
      return Fail(
          "arrays and dictionaries nest deeper than " + std::to_string(kMaxPlistDepth) + " levels",
          start);
    if (self_closing) return true;
    ++depth_;
    stack_.push_back({dict ? Element::kDict : Element::kArray, scan_->tokens.size() - 1, 0, false});
    return true;
  }
  return Scalar(name, start, self_closing);
}

bool XmlScanner::Scalar(std::string_view name, std::size_t at, bool self_closing) {
  const bool text = name == "string";
  const bool boolean = name == "true" || name == "false";
  if (!text && !boolean && name != "integer" && name != "real" && name != "date" && name != "data")
    return Fail("unknown element <" + std::string(name) + ">", at);
  std::string_view body;
  if (!self_closing) {
    if (!LeafContent(name, &leaf_)) return false;
    RewriteLeaf(leaf_, text);
    body = leaf_.text;
  }
  if (boolean) return Add(Value::Kind::kBoolean).boolean = name == "true", true;
  if (text) return Add(Value::Kind::kString).size = body.size(), true;
  if (name == "data") {
    auto size = plist_text::Base64DecodedSize(body);
    if (!size) return Fail("malformed base64 in <data>", at);
    Add(Value::Kind::kData).size = *size;
  } else if (name == "integer") {
    auto i = plist_text::ParseInteger(body);
    if (!i) return Fail("an integer that is malformed or outside -2^63..2^64-1", at);
    Token& t = Add(Value::Kind::kInteger);
    t.integer_bits = i->value;
    t.boolean = i->is_big_unsigned;
  } else if (name == "real") {
    auto d = plist_text::ParseReal(body);
    if (!d) return Fail("a malformed real", at);
    Add(Value::Kind::kReal).real = *d;
  } else {
    auto d = plist_text::ParseDate(body);
    if (!d) return Fail("a malformed date", at);
    Add(Value::Kind::kDate).real = *d;
  }
  return true;
}

}  // namespace

bool ScanXml(std::string_view bytes, Scan* scan, std::string* err) {
  return XmlScanner(bytes, scan, err).Run();
}

}  // namespace platform::plist_scan
