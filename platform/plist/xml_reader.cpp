#include "platform/plist/xml_reader.h"

#include <algorithm>
#include <climits>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/plist/file.h"
#include "platform/plist/libxml.h"
#include "platform/plist/scalar_text.h"
#include "platform/plist/xml_errors.h"
#include "platform/plist/xml_input.h"
#include "platform/plist/xml_text.h"

namespace platform::plist_xml {

namespace {

// No document may make us read anything else: every external DTD or entity libxml2 might be
// asked for (it is not, with the options below) fails to load.
xmlParserInputPtr RefuseExternal(const char*, const char*, xmlParserCtxtPtr) {
  return nullptr;
}
void Quiet(void*, const char*, ...) {}

// libxml2, once loaded and set up.
const LibXml* lx = nullptr;

bool SetUpLibxml(std::string* err) {
  const LibXml* lib = LoadLibXml(err);
  if (lib == nullptr) return false;
  static std::once_flag once;
  std::call_once(once, [lib] {
    lib->xmlInitParser();
    // libxml2's own limit on nesting (256 elements) would come before ours.
    *lib->xmlParserMaxDepth = std::max(*lib->xmlParserMaxDepth, 2u * kMaxPlistDepth);
    lib->xmlSetExternalEntityLoader(RefuseExternal);
    lib->xmlSetGenericErrorFunc(nullptr, Quiet);
    lx = lib;
  });
  return true;
}

// The file: no network, no DTD loaded, entities left as references (which are refused).
// Without XML_PARSE_HUGE, which would also lift libxml2's guard against entities that expand
// without end (in attribute values, say): a text of more than 10 MB is refused.
constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_BIG_LINES;

struct Reader {
  explicit Reader(xmlTextReaderPtr r) : r(r) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;
  ~Reader() {
    if (r != nullptr) lx->xmlFreeTextReader(r);
  }
  xmlTextReaderPtr r;
};

std::string_view Str(const xmlChar* s) {
  return s == nullptr ? std::string_view() : reinterpret_cast<const char*>(s);
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Appends `text` with CR LF and a lone CR as LF.
void AppendWithLineEnds(std::string_view text, std::string* out) {
  for (std::size_t cr; (cr = text.find('\r')) != std::string_view::npos;) {
    out->append(text.substr(0, cr)).push_back('\n');
    text.remove_prefix(cr + (text.substr(cr, 2) == "\r\n" ? 2 : 1));
  }
  out->append(text);
}

enum class Leaf { kNone, kKey, kString, kInteger, kReal, kDate, kData, kTrue, kFalse };

Leaf LeafNamed(std::string_view name) {
  static constexpr std::pair<std::string_view, Leaf> kLeaves[] = {
      {"key", Leaf::kKey},   {"string", Leaf::kString}, {"integer", Leaf::kInteger},
      {"real", Leaf::kReal}, {"date", Leaf::kDate},     {"data", Leaf::kData},
      {"true", Leaf::kTrue}, {"false", Leaf::kFalse}};
  for (const auto& [n, leaf] : kLeaves)
    if (n == name) return leaf;
  return Leaf::kNone;
}

class PlistBuilder {
 public:
  PlistBuilder(std::string_view bytes, std::string* err) : bytes_(bytes), err_(err) {}

  // The first error libxml2 reports (warnings aside) refuses the file.
  static void OnError(void* self, xmlErrorPtr e) {
    auto* b = static_cast<PlistBuilder*>(self);
    if (e == nullptr || e->level < XML_ERR_ERROR || b->xml_error_) return;
    // A prefix without a declaration changes nothing in a property list.
    if (e->domain == XML_FROM_NAMESPACE) return;
    b->xml_error_ = true;
    b->Fail(DescribeXmlError(*e, b->bytes_), e->line);
  }

  std::optional<Value> Run(xmlTextReaderPtr r) {
    r_ = r;
    lx->xmlTextReaderSetStructuredErrorHandler(r, &PlistBuilder::OnError, this);
    int status;
    while ((status = lx->xmlTextReaderRead(r)) == 1 && !failed_) {
      if (!Node()) break;
    }
    if (!failed_ && status < 0) Fail("malformed XML", lx->xmlTextReaderGetParserLineNumber(r));
    if (failed_) return std::nullopt;
    if (!root_) return Fail("no property list in the file", Line()), std::nullopt;
    return std::move(*root_);
  }

 private:
  enum class Element { kPlist, kArray, kDict };
  struct Open {
    Element element;
    Array array;
    Dictionary dict;
    std::string key;
    bool has_key = false;    // kDict: a key was read, its value not yet
    bool has_value = false;  // kPlist
  };

  bool Fail(const std::string& what, int line) {
    if (!failed_) *err_ = what + " (line " + std::to_string(line) + ")";
    failed_ = true;
    return false;
  }
  // The line of the node read; the parser itself may have read further.
  int Line() const {
    const xmlNodePtr node = lx->xmlTextReaderCurrentNode(r_);
    const long line = node != nullptr ? lx->xmlGetLineNo(node) : -1;
    return line > 0 ? static_cast<int>(line) : lx->xmlTextReaderGetParserLineNumber(r_);
  }

  bool Node();
  bool StartElement();
  bool EndLeaf();
  bool Place(Value v);

  std::string_view bytes_;
  std::string* err_;
  xmlTextReaderPtr r_ = nullptr;
  bool failed_ = false, xml_error_ = false;
  std::vector<Open> open_;
  int depth_ = 0;  // arrays and dictionaries open
  std::optional<Value> root_;
  Leaf leaf_ = Leaf::kNone;  // the leaf element being read
  std::string leaf_name_, text_;
};

bool PlistBuilder::Node() {
  const int type = lx->xmlTextReaderNodeType(r_);
  switch (type) {
    case XML_READER_TYPE_ELEMENT:
      if (leaf_ != Leaf::kNone)
        return Fail("unexpected markup inside <" + leaf_name_ + ">", Line());
      return StartElement();
    case XML_READER_TYPE_END_ELEMENT:
      if (leaf_ != Leaf::kNone) return EndLeaf();
      if (open_.empty()) return Fail("unexpected end tag", Line());
      {
        Open& o = open_.back();
        if (o.element == Element::kDict && o.has_key) return Fail("a key without a value", Line());
        if (o.element == Element::kPlist) {
          if (!o.has_value) return Fail("an empty <plist>", Line());
          open_.pop_back();
          return true;
        }
        Value v =
            o.element == Element::kArray ? Value(std::move(o.array)) : Value(std::move(o.dict));
        open_.pop_back();
        --depth_;
        return Place(std::move(v));
      }
    case XML_READER_TYPE_TEXT:
    case XML_READER_TYPE_CDATA:
    case XML_READER_TYPE_WHITESPACE:
    case XML_READER_TYPE_SIGNIFICANT_WHITESPACE: {
      const std::string_view text = Str(lx->xmlTextReaderConstValue(r_));
      if (leaf_ != Leaf::kNone) {
        // libxml2 leaves the line ends of a CDATA section as they stand; XML reads them as LF.
        if (type == XML_READER_TYPE_CDATA)
          AppendWithLineEnds(text, &text_);
        else
          text_.append(text);
        return true;
      }
      if (std::all_of(text.begin(), text.end(), IsSpace)) return true;
      return Fail(!open_.empty() ? "text between values"
                  : root_        ? "text after the end of the property list"
                                 : "text before the property list",
                  Line());
    }
    case XML_READER_TYPE_ENTITY_REFERENCE:
      return Fail("the entity &" + std::string(Str(lx->xmlTextReaderConstName(r_))) +
                      "; (only amp, lt, gt, quot and apos are known)",
                  Line());
    default:  // comments, processing instructions, the document type declaration
      return true;
  }
}

bool PlistBuilder::StartElement() {
  const std::string_view name = Str(lx->xmlTextReaderConstName(r_));
  const bool empty = lx->xmlTextReaderIsEmptyElement(r_) == 1;
  if (name != "plist" && lx->xmlTextReaderHasAttributes(r_) == 1)
    return Fail("attributes on <" + std::string(name) + ">", Line());
  const bool in_dict = !open_.empty() && open_.back().element == Element::kDict;
  if (name == "key") {
    if (!in_dict || open_.back().has_key) return Fail("a <key> where a value belongs", Line());
  } else if (in_dict && !open_.back().has_key && name != "plist") {
    return Fail("a value without a key", Line());
  }
  if (name == "plist") {
    if (!open_.empty() || root_) return Fail("unexpected <plist>", Line());
    if (empty) return Fail("an empty <plist>", Line());
    open_.push_back({Element::kPlist, {}, {}, {}, false, false});
    return true;
  }
  if (name == "array" || name == "dict") {
    // An empty container counts as a level too, as it does in a binary file.
    if (depth_ + 1 > kMaxPlistDepth)
      return Fail(
          "arrays and dictionaries nest deeper than " + std::to_string(kMaxPlistDepth) + " levels",
          Line());
    const Element e = name == "dict" ? Element::kDict : Element::kArray;
    if (empty) return Place(e == Element::kDict ? Value(Dictionary()) : Value(Array()));
    open_.push_back({e, {}, {}, {}, false, false});
    ++depth_;
    return true;
  }
  leaf_ = LeafNamed(name);
  if (leaf_ == Leaf::kNone) return Fail("unknown element <" + std::string(name) + ">", Line());
  leaf_name_ = name;
  text_.clear();
  return empty ? EndLeaf() : true;
}

bool PlistBuilder::EndLeaf() {
  const Leaf leaf = std::exchange(leaf_, Leaf::kNone);
  switch (leaf) {
    case Leaf::kKey:
      open_.back().key = std::move(text_);
      open_.back().has_key = true;
      text_.clear();
      return true;
    case Leaf::kString: {
      Value v(std::move(text_));
      text_.clear();
      return Place(std::move(v));
    }
    case Leaf::kTrue:
    case Leaf::kFalse:
      return Place(Value(leaf == Leaf::kTrue));
    case Leaf::kInteger:
      if (auto i = plist_text::ParseInteger(text_)) return Place(Value(*i));
      return Fail("an integer that is malformed or outside -2^63..2^64-1", Line());
    case Leaf::kReal:
      if (auto d = plist_text::ParseReal(text_)) return Place(Value(*d));
      return Fail("a malformed real", Line());
    case Leaf::kDate:
      if (auto d = plist_text::ParseDate(text_)) return Place(Value(Date{*d}));
      return Fail("a malformed date", Line());
    case Leaf::kData:
      if (auto bytes = plist_text::DecodeBase64(text_))
        return Place(Value(Data{std::move(*bytes)}));
      return Fail("malformed base64 in <data>", Line());
    case Leaf::kNone:
      break;
  }
  return Fail("malformed XML", Line());
}

bool PlistBuilder::Place(Value v) {
  if (open_.empty()) {
    if (root_) return Fail("more than one value at the top level", Line());
    root_ = std::move(v);
    return true;
  }
  Open& o = open_.back();
  switch (o.element) {
    case Element::kPlist:
      if (o.has_value) return Fail("more than one value in <plist>", Line());
      o.has_value = true;
      root_ = std::move(v);
      return true;
    case Element::kArray:
      o.array.push_back(std::move(v));
      return true;
    case Element::kDict: {
      const std::size_t before = o.dict.size();
      o.dict.Set(std::move(o.key), std::move(v));
      o.key.clear();
      o.has_key = false;
      return o.dict.size() != before || Fail("a dictionary holding a key twice", Line());
    }
  }
  return false;
}

bool DeclaredAscii(std::string_view head) {
  const std::string_view declaration = head.substr(0, head.find("?>"));
  for (std::string_view name : {"\"US-ASCII\"", "'US-ASCII'", "\"ASCII\"", "'ASCII'"}) {
    auto at = std::search(declaration.begin(), declaration.end(), name.begin(), name.end(),
                          [](char a, char b) { return (a >= 'a' && a <= 'z' ? a - 32 : a) == b; });
    if (at != declaration.end()) return true;
  }
  return false;
}

std::optional<Value> Build(std::string_view head, const XmlSource* more,
                           std::string_view for_messages, std::string* err) {
  using namespace std::string_view_literals;
  if (head.starts_with("\xFE\xFF"sv) || head.starts_with("\xFF\xFE"sv) ||
      head.starts_with("<\0"sv) || head.starts_with("\0<"sv))
    return *err = "the file is in UTF-16 (only UTF-8 is read) (line 1)", std::nullopt;
  if (std::optional<std::string> why = RefuseDeclaredEncoding(head))
    if (more == nullptr || why->starts_with("the encoding")) return *err = *why, std::nullopt;
  if (!SetUpLibxml(err)) return std::nullopt;
  Input input(head, more, DeclaredAscii(head));
  // Read as UTF-8 whatever the declaration says: any other encoding was refused above.
  Reader reader(lx->xmlReaderForIO(Input::Read, nullptr, &input, nullptr, "UTF-8", kOptions));
  if (reader.r == nullptr) return *err = kPlistNoMemory, std::nullopt;
  PlistBuilder builder(for_messages, err);
  std::optional<Value> root = builder.Run(reader.r);
  if (root && input.refused()) return *err = "malformed XML", std::nullopt;
  return root;
}

}  // namespace

std::optional<Value> ReadXmlFrom(std::string_view head, const XmlSource& more, std::string* err) {
  return Build(head, &more, {}, err);
}

std::optional<Value> ReadXml(std::string_view bytes, std::string* err) {
  using namespace std::string_view_literals;
  if (bytes.starts_with("\xFE\xFF"sv) || bytes.starts_with("\xFF\xFE"sv) ||
      bytes.starts_with("<\0"sv) || bytes.starts_with("\0<"sv))
    return Build(bytes, nullptr, bytes, err);
  // Checked first for a plain reason: libxml2 names such bytes less clearly.
  std::string what;
  if (std::size_t at = plist_text::FindNonXmlCharacter(bytes, &what); at != std::string_view::npos)
    return *err = what + " (line " +
                  std::to_string(1 + std::count(bytes.begin(),
                                                bytes.begin() + static_cast<std::ptrdiff_t>(at),
                                                '\n')) +
                  ")",
           std::nullopt;
  return Build(bytes, nullptr, bytes, err);
}

}  // namespace platform::plist_xml
