#include "platform/plist/xml_errors.h"

#include <algorithm>
#include <cstdlib>

#include "platform/plist/xml_text.h"

namespace platform::plist_xml {

namespace {

std::string_view Str(const char* s) {
  return s == nullptr ? std::string_view() : std::string_view(s);
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
  return out;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// The offset in `bytes` of line `line` (from 1), column `column` (from 1; libxml2 counts
// characters, which is bytes on the ASCII lines where references stand).
std::size_t OffsetOf(std::string_view bytes, int line, int column) {
  std::size_t at = 0;
  for (int l = 1; l < line && at < bytes.size(); ++l) {
    const std::size_t nl = bytes.find('\n', at);
    if (nl == std::string_view::npos) return bytes.size();
    at = nl + 1;
  }
  return std::min(bytes.size(), at + static_cast<std::size_t>(std::max(column, 1) - 1));
}

// Where the root element starts: the first tag that is not a comment, a processing instruction
// or a declaration (whose quoted literals and internal subset may hold anything).
std::size_t RootStart(std::string_view b) {
  for (std::size_t i = b.find('<'); i != std::string_view::npos; i = b.find('<', i + 1)) {
    const std::string_view rest = b.substr(i);
    if (rest.starts_with("<!--")) {
      i = b.find("-->", i + 4);
    } else if (rest.starts_with("<?")) {
      i = b.find("?>", i + 2);
    } else if (rest.starts_with("<!")) {
      int depth = 0;
      for (++i; i < b.size() && (b[i] != '>' || depth > 0); ++i) {
        if (b[i] == '[') ++depth;
        if (b[i] == ']') --depth;
        if (b[i] == '"' || b[i] == '\'') i = std::min(b.find(b[i], i + 1), b.size() - 1);
        if (b.substr(i).starts_with("<!--")) i = std::min(b.find("-->", i + 4), b.size() - 1);
      }
    } else {
      return i;
    }
    if (i == std::string_view::npos) break;
  }
  return b.size();
}

}  // namespace

std::string DescribeXmlError(const xmlError& e, std::string_view bytes) {
  const std::string_view message = Str(e.message);
  const std::size_t at = OffsetOf(bytes, e.line, e.int2);
  switch (e.code) {
    case XML_ERR_INVALID_CHAR:
      if (message.starts_with("xmlParseCharRef")) {
        const std::size_t digits = message.find_last_of(' ');
        const long value =
            std::strtol(std::string(message.substr(digits + 1)).c_str(), nullptr, 10);
        return "a reference to " + plist_text::CodePoint(static_cast<char32_t>(value)) +
               ", a character XML does not allow";
      }
      break;
    case XML_ERR_INVALID_HEX_CHARREF:
    case XML_ERR_INVALID_DEC_CHARREF:
    case XML_ERR_INVALID_CHARREF: {
      const std::size_t ref = bytes.rfind("&#", at);
      if (ref != std::string_view::npos && at - ref < 32 &&
          bytes.substr(ref + 2).starts_with('X')) {
        const std::size_t end = bytes.find(';', ref);
        return "the reference " +
               std::string(bytes.substr(ref, end == std::string_view::npos ? 3 : end + 1 - ref)) +
               " (hexadecimal ones begin with a lower-case x)";
      }
      return "a malformed character reference";
    }
    case XML_ERR_DOCUMENT_END:
      if (at >= RootStart(bytes)) return "text after the end of the property list";
      break;
    case XML_ERR_MISPLACED_CDATA_END:
      return "\"]]>\" in text";
    case XML_ERR_HYPHEN_IN_COMMENT:
      return "\"--\" inside a comment";
    case XML_ERR_RESERVED_XML_NAME:
      return "an XML declaration that is not at the start of the file";
    case XML_ERR_ATTRIBUTE_REDEFINED:
      return "the attribute " + std::string(Str(e.str1)) + " given twice";
    case XML_ERR_STANDALONE_VALUE:
      return "malformed XML declaration: standalone is neither \"yes\" nor \"no\"";
    case XML_ERR_ENTITYREF_SEMICOL_MISSING:
      return "an '&' that starts no reference (write it as &amp;)";
    case XML_ERR_NAME_REQUIRED:
      if (message.starts_with("xmlParseEntityRef"))
        return "an '&' that starts no reference (write it as &amp;)";
      break;
    case XML_ERR_UNDECLARED_ENTITY:
      return "the entity &" + std::string(Str(e.str1)) +
             "; (only amp, lt, gt, quot and apos are known)";
    default:
      break;
  }
  std::string text(message.empty() ? "malformed XML" : message);
  while (!text.empty() && IsSpace(text.back())) text.pop_back();
  // Before the root element stand only the XML declaration, the document type declaration,
  // comments and processing instructions.
  if (at < RootStart(bytes))
    return "malformed markup or declaration before the property list: " + text;
  return text;
}

std::optional<std::string> RefuseDeclaredEncoding(std::string_view bytes) {
  if (!bytes.starts_with("<?xml") || bytes.size() < 6 || !IsSpace(bytes[5])) return std::nullopt;
  const std::string_view declaration = bytes.substr(0, bytes.find("?>"));
  std::size_t i = declaration.find("encoding");
  if (i == std::string_view::npos) return std::nullopt;
  i += 8;
  while (i < declaration.size() && (IsSpace(declaration[i]) || declaration[i] == '=')) ++i;
  if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
    return std::nullopt;
  const std::size_t close = declaration.find(declaration[i], i + 1);
  if (close == std::string_view::npos) return std::nullopt;
  const std::string_view encoding = declaration.substr(i + 1, close - i - 1);
  const std::string name = Upper(encoding);
  if (name == "UTF-8" || name == "UTF8") return std::nullopt;
  if (name == "US-ASCII" || name == "ASCII") {
    auto high = std::find_if(bytes.begin(), bytes.end(), [](char c) { return c & 0x80; });
    if (high == bytes.end()) return std::nullopt;
    return "a byte that is not ASCII in a file declared " + std::string(encoding) + " (line " +
           std::to_string(1 + std::count(bytes.begin(), high, '\n')) + ")";
  }
  return "the encoding " + std::string(encoding) + " is not supported (UTF-8 only) (line 1)";
}

}  // namespace platform::plist_xml
