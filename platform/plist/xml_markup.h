// Reading the markup of an XML property list: tags, the text of leaf elements, comments,
// processing instructions, the XML declaration and the document type declaration. The base of
// the XML scan (plist_scan.h). What is not well-formed XML is refused with the line it is on.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace platform::plist_scan {

class XmlMarkup {
 protected:
  XmlMarkup(std::string_view in, std::string* err) : in_(in), err_(err) {}

  // The content of a leaf element (<string>, <key>, <integer>, ...) as XML reads it.
  struct Leaf {
    std::size_t start = 0, end = 0;  // the content in the file: after the start tag, up to the
                                     // end tag's '<'
    bool as_it_stands = true;        // plain text: no reference, CR, CDATA section or other markup
    std::string decoded;             // otherwise the text, references replaced and line ends LF
    std::string_view text;           // the file's bytes or `decoded`
  };

  static bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

  // Sets *err_ to `what` and the line of offset `at`; returns false.
  bool Fail(const std::string& what, std::size_t at);
  bool StartsWith(std::size_t at, std::string_view s) const {
    return in_.substr(at, s.size()) == s;
  }
  // At "<!--": a comment, which may not hold "--" before its end.
  bool Comment();
  // At "<?": a processing instruction. Its target may be "xml" (in any case) only in the XML
  // declaration at the very start of the file: version 1.x, encoding UTF-8 (or US-ASCII when
  // every byte is ASCII), standalone "yes" or "no", each at most once and in that order.
  bool ProcessingInstruction();
  // At "<!DOCTYPE": the document type declaration, a name, an optional public or system
  // identifier and an internal subset in brackets (declarations, comments, processing
  // instructions; what it declares is not used).
  bool DocumentType();
  // Reads the name of the tag at pos_ (after `skip` characters: 1 for "<", 2 for "</") and the
  // rest of the tag up to '>', leaving pos_ after it. Attributes, with quoted values and each
  // named once, are allowed on <plist> only; a self-closing "/>" on start tags only.
  bool Tag(std::size_t skip, std::string_view* name, bool* self_closing);
  // Reads the content of leaf element `name` from pos_ (just after its start tag) through its
  // end tag, leaving pos_ after that. Comments and processing instructions inside are skipped,
  // CDATA sections taken as text; "]]>" may not stand in the text.
  bool LeafContent(std::string_view name, Leaf* leaf);

  std::string_view in_;
  std::string* err_;
  std::size_t pos_ = 0;

 private:
  bool XmlDeclaration(std::size_t start, std::string_view attributes);
  bool DecodeLeaf(std::string_view name, Leaf* leaf);
};

}  // namespace platform::plist_scan
