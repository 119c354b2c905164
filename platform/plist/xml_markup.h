// Reading the markup of an XML property list: tags, comments, CDATA sections, processing
// instructions and the document type declaration. The base of the XML scan (plist_scan.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::plist_scan {

class XmlMarkup {
 protected:
  XmlMarkup(std::string_view in, std::string* err) : in_(in), err_(err) {}

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  // Sets *err_ to `what` and the line of offset `at`; returns false.
  bool Fail(const std::string& what, std::size_t at);
  bool StartsWith(std::size_t at, std::string_view s) const {
    return in_.substr(at, s.size()) == s;
  }
  // Moves pos_ just past `end`, searched from `from`.
  bool SkipPast(std::size_t from, std::string_view end, const char* what);
  // At "<?": a processing instruction; the XML declaration's encoding must be UTF-8.
  bool Declaration();
  // At "<!" (not a comment or CDATA): a declaration, with an internal subset in brackets and
  // quoted literals.
  bool DocumentType();
  // Reads the name of the tag at pos_ (after `skip` characters: 1 for "<", 2 for "</") and the
  // rest of the tag up to '>', leaving pos_ after it. Attributes, with quoted values, are
  // allowed on <plist> only; a self-closing "/>" on start tags only.
  bool Tag(std::size_t skip, std::string_view* name, bool* self_closing);

  std::string_view in_;
  std::string* err_;
  std::size_t pos_ = 0;
};

}  // namespace platform::plist_scan
