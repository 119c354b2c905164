// Reading property lists. XML: libxml2's reader builds Values (xml_reader.h). Binary: our scan
// first (scan.h), then libplist, then the conversion of libplist's nodes into Values, checked
// node by node against the scan.
#include "platform/plist/file.h"

#include <plist/plist.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

#include "platform/files/io.h"
#include "platform/plist/scan.h"
#include "platform/plist/xml_reader.h"
#include "platform/plist/xml_text.h"
#include "platform/text/utf8.h"

namespace platform {

namespace {

using plist_scan::Token;

// plist_free recurses. The scan keeps libplist's trees within kMaxPlistDepth, but if libplist
// ever read a file otherwise than the scan did, a tree too deep to free is left unfreed rather
// than crash the program.
bool ShallowEnoughToFree(plist_t root) {
  struct Open {
    plist_t node;
    std::uint32_t next;
    plist_dict_iter iter;
  };
  std::vector<Open> stack;
  auto open = [&](plist_t node) {
    plist_type type = plist_get_node_type(node);
    if (type != PLIST_ARRAY && type != PLIST_DICT) return;
    plist_dict_iter iter = nullptr;
    if (type == PLIST_DICT) plist_dict_new_iter(node, &iter);
    stack.push_back({node, 0, iter});
  };
  open(root);
  bool shallow = true;
  while (!stack.empty() && shallow) {
    Open& top = stack.back();
    plist_t child = nullptr;
    if (top.iter != nullptr) {
      char* key = nullptr;
      plist_dict_next_item(top.node, top.iter, &key, &child);
      std::free(key);
    } else if (top.next < plist_array_get_size(top.node)) {
      child = plist_array_get_item(top.node, top.next++);
    }
    if (child == nullptr) {
      std::free(top.iter);
      stack.pop_back();
      continue;
    }
    open(child);
    shallow = stack.size() <= 16 * static_cast<std::size_t>(kMaxPlistDepth);
  }
  for (Open& o : stack) std::free(o.iter);
  return shallow;
}

struct TreeDeleter {
  bool checked = false;  // set once the tree is known to match the scan
  void operator()(void* root) const {
    if (checked || ShallowEnoughToFree(root)) plist_free(root);
  }
};
using Tree = std::unique_ptr<void, TreeDeleter>;

// The items of an array node in order, each a step from the last (plist_array_get_item walks
// from the first item of a short array every time). Null past the end.
class Items {
 public:
  explicit Items(plist_t array) : array_(array) { plist_array_new_iter(array, &iter_); }
  Items(const Items&) = delete;
  Items& operator=(const Items&) = delete;
  ~Items() { std::free(iter_); }
  plist_t Next() {
    plist_t item = nullptr;
    if (iter_ != nullptr) plist_array_next_item(array_, iter_, &item);
    return item;
  }

 private:
  plist_t array_;
  plist_array_iter iter_ = nullptr;
};

class Converter {
 public:
  Converter(const std::vector<Token>& tokens, std::string* err) : tokens_(tokens), err_(err) {}

  bool Convert(plist_t node, Value* out, int depth);
  bool AllUsed() { return next_ == tokens_.size() || Mismatch(); }

 private:
  bool Fail(const char* what) {
    *err_ = what;
    return false;
  }
  bool Mismatch() { return Fail("the reader saw the file otherwise than its text reads"); }

  bool Text(plist_t node, std::uint64_t expected_size, std::string* out) {
    if (plist_get_node_type(node) != PLIST_STRING) return Mismatch();
    std::uint64_t size = 0;
    const char* p = plist_get_string_ptr(node, &size);
    if (p == nullptr || (expected_size != plist_scan::kUnknownSize && size != expected_size))
      return Mismatch();
    std::string_view s(p, size);
    if (!IsValidUtf8(s)) return Fail("a string that is not valid UTF-8");
    out->assign(s);
    return true;
  }

  bool Entry(Dictionary* dict, std::string key, plist_t value, int depth) {
    Value v;
    if (!Convert(value, &v, depth + 1)) return false;
    std::size_t before = dict->size();
    dict->Set(std::move(key), std::move(v));
    return dict->size() != before || Fail("a dictionary holding a key twice");
  }

  bool Dict(plist_t node, const Token& t, Value* out, int depth);

  const std::vector<Token>& tokens_;
  std::string* err_;
  std::size_t next_ = 0;
};

bool Converter::Convert(plist_t node, Value* out, int depth) {
  if (depth > kMaxPlistDepth + 1 || next_ >= tokens_.size()) return Mismatch();
  const Token& t = tokens_[next_++];
  const plist_type type = plist_get_node_type(node);
  switch (t.kind) {
    case Value::Kind::kString: {
      std::string s;
      if (!Text(node, t.size, &s)) return false;
      *out = Value(std::move(s));
      return true;
    }
    case Value::Kind::kInteger: {
      std::uint64_t u = 0;
      if (type != PLIST_UINT) return Mismatch();
      plist_get_uint_val(node, &u);
      if (u != static_cast<std::uint64_t>(t.integer_bits)) return Mismatch();
      *out = Value(Integer{t.integer_bits, t.boolean});
      return true;
    }
    case Value::Kind::kReal: {
      double d = 0;
      if (type != PLIST_REAL) return Mismatch();
      plist_get_real_val(node, &d);
      if (d != t.real && !(std::isnan(d) && std::isnan(t.real))) return Mismatch();
      *out = Value(t.real);
      return true;
    }
    case Value::Kind::kBoolean: {
      std::uint8_t b = 0;
      if (type != PLIST_BOOLEAN) return Mismatch();
      plist_get_bool_val(node, &b);
      if ((b != 0) != t.boolean) return Mismatch();
      *out = Value(t.boolean);
      return true;
    }
    case Value::Kind::kDate:
      if (type != PLIST_DATE) return Mismatch();
      *out = Value(Date{t.real});  // libplist's own is clamped to 32-bit seconds
      return true;
    case Value::Kind::kData: {
      std::uint64_t size = 0;
      if (type != PLIST_DATA) return Mismatch();
      const char* p = plist_get_data_ptr(node, &size);
      if (size != t.size || (p == nullptr && size != 0)) return Mismatch();
      *out = Value(Data{std::string(p == nullptr ? "" : p, size)});
      return true;
    }
    case Value::Kind::kArray: {
      if (type != PLIST_ARRAY || plist_array_get_size(node) != t.size) return Mismatch();
      Array array(t.size);
      Items items(node);
      for (Value& v : array)
        if (!Convert(items.Next(), &v, depth + 1)) return false;
      *out = Value(std::move(array));
      return true;
    }
    case Value::Kind::kDictionary:
      return Dict(node, t, out, depth);
  }
  return Mismatch();
}

bool Converter::Dict(plist_t node, const Token& t, Value* out, int depth) {
  Dictionary dict;
  {
    if (plist_get_node_type(node) != PLIST_DICT || plist_dict_get_size(node) != t.size)
      return Mismatch();
    dict.Reserve(t.size);
    std::unique_ptr<void, decltype(&std::free)> iter(nullptr, &std::free);
    plist_dict_iter raw = nullptr;
    plist_dict_new_iter(node, &raw);
    iter.reset(raw);
    for (std::uint64_t i = 0; i < t.size; ++i) {
      char* raw_key = nullptr;
      plist_t value = nullptr;
      plist_dict_next_item(node, raw, &raw_key, &value);
      std::unique_ptr<char, decltype(&std::free)> key(raw_key, &std::free);
      if (value == nullptr || raw_key == nullptr) return Mismatch();
      if (!IsValidUtf8(raw_key)) return Fail("a key that is not valid UTF-8");
      if (!Entry(&dict, raw_key, value, depth)) return false;
    }
  }
  *out = Value(std::move(dict));
  return true;
}

std::optional<Value> Parse(std::string_view bytes, std::string* err, ReaderTree keep) {
  if (bytes.size() >= kMaxPlistFileSize) return *err = "the file is 4 GiB or larger", std::nullopt;
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
  if (bytes.empty()) return *err = "an empty file", std::nullopt;
  const bool binary = bytes.starts_with("bplist");
  if (binary && !bytes.starts_with("bplist00"))
    return *err = "an unsupported binary property-list version", std::nullopt;

  std::string why;
  if (!binary) {
    std::optional<Value> root = plist_xml::ReadXml(bytes, &why);
    if (!root) *err = "not a valid property list: " + why;
    return root;
  }
  plist_scan::Scan scan;
  if (!plist_scan::ScanBinary(bytes, &scan, &why))
    return *err = "not a valid property list: " + why, std::nullopt;

  plist_t raw = nullptr;
  plist_from_bin(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &raw);
  if (raw == nullptr) return *err = "not a valid property list", std::nullopt;
  Tree tree(raw);

  Converter converter(scan.tokens, &why);
  Value root;
  if (!converter.Convert(raw, &root, 1) || !converter.AllUsed())
    return *err = "not a valid property list: " + why, std::nullopt;
  tree.get_deleter().checked = true;
  if (keep == ReaderTree::kKeepUntilExit) {
    static auto* kept = new std::vector<plist_t>();
    kept->push_back(tree.release());
    return root;
  }
  std::vector<Token>().swap(scan.tokens);  // large blocks first, then libplist's many small ones
  tree.reset();
  return root;
}

}  // namespace

std::optional<Value> ParsePlist(std::string_view bytes, std::string* err, ReaderTree tree) {
  try {
    return Parse(bytes, err, tree);
  } catch (const std::exception&) {  // bad_alloc: a file too large for memory
    *err = kPlistNoMemory;
    return std::nullopt;
  }
}

bool IsPlistString(std::string_view s) {
  std::string what;
  return plist_text::FindNonXmlCharacter(s, &what) == std::string_view::npos;
}

std::optional<Value> ReadPlistFrom(const PlistBlockReader& read, std::uint64_t size_hint,
                                   std::string* err, ReaderTree tree) try {
  // Enough to tell the kind of file and to hold the XML declaration.
  constexpr std::size_t kHead = std::size_t{64} << 10;
  std::string bytes(kHead, '\0');
  std::uint64_t got = 0;
  for (long n; got < kHead && (n = read(got, bytes.data() + got, kHead - got)) != 0;) {
    if (n < 0) return *err = "cannot read the file", std::nullopt;
    got += static_cast<std::uint64_t>(n);
  }
  bytes.resize(got);
  std::string_view head = bytes;
  if (head.starts_with("\xEF\xBB\xBF")) head.remove_prefix(3);
  if (got == kHead && !head.starts_with("bplist")) {
    std::uint64_t offset = got;
    const plist_xml::XmlSource more = [&](char* buf, std::size_t size) {
      const long n = read(offset, buf, size);
      if (n > 0) offset += static_cast<std::uint64_t>(n);
      return n;
    };
    std::string why;
    if (std::optional<Value> root = plist_xml::ReadXmlFrom(head, more, &why)) return root;
  }
  // A binary file, a small one, or one refused: read whole, in one block when the size given
  // is right.
  for (;;) {
    if (bytes.size() <= got)
      bytes.resize(std::max<std::uint64_t>(size_hint + 1, got + got / 2 + kHead));
    const long n = read(got, bytes.data() + got, bytes.size() - got);
    if (n < 0) return *err = "cannot read the file", std::nullopt;
    if (n == 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  bytes.resize(got);
  return ParsePlist(bytes, err, tree);
} catch (const std::exception&) {
  *err = kPlistNoMemory;
  return std::nullopt;
}

std::optional<Value> ReadPlistFile(const std::string& path, std::string* err, ReaderTree tree) {
  struct stat st;
  if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
      static_cast<std::uint64_t>(st.st_size) >= kMaxPlistFileSize) {
    *err = path + ": the file is 4 GiB or larger";
    return std::nullopt;
  }
  std::optional<std::string> bytes = ReadWholeFile(path, err);
  if (!bytes) return std::nullopt;
  std::string why;
  std::optional<Value> root = ParsePlist(*bytes, &why, tree);
  if (!root) *err = path + ": " + why;
  return root;
}

}  // namespace platform
