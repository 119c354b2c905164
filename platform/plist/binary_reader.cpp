// The walk of a binary property list ("bplist00"): from the top object through the offset
// table, with an explicit stack; each object becomes a value in the place its parent keeps for it.
#include "platform/plist/binary_reader.h"

#include <cmath>
#include <cstring>
#include <vector>

#include "platform/plist/file.h"
#include "platform/plist/scalar_text.h"
#include "platform/plist/xml_text.h"
#include "platform/text/utf8.h"

namespace platform::plist_binary {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

class BinaryReader {
 public:
  BinaryReader(std::string_view in, std::string* err) : in_(in), err_(err) {}

  std::optional<Value> Run();

 private:
  struct Frame {
    std::uint64_t object;
    std::uint64_t refs;   // offset of the container's object references
    std::uint64_t count;  // entries
    std::uint64_t next;   // next entry to visit
    Value* container;     // the array or dictionary being filled; null when none is kept
    bool dict;
  };

  bool Fail(const std::string& what) {
    *err_ = what;
    return false;
  }

  std::uint64_t ReadBigEndian(std::uint64_t at, unsigned size) const {
    std::uint64_t v = 0;
    for (unsigned i = 0; i < size; ++i) v = v << 8 | static_cast<unsigned char>(in_[at + i]);
    return v;
  }

  // Where an object starts, from the offset table.
  bool Offset(std::uint64_t object, std::uint64_t* at) {
    if (object >= objects_) return Fail("an object reference out of range");
    *at = ReadBigEndian(table_ + object * offset_size_, offset_size_);
    if (*at < kHeaderSize || *at >= end_) return Fail("an object offset out of range");
    return true;
  }

  // Reads the entry count of the object at `at` whose marker's low nibble is `info`; *body is
  // where its contents start. Checks that count * unit bytes fit before the offset table.
  bool Count(std::uint64_t at, unsigned info, std::uint64_t unit, std::uint64_t* count,
             std::uint64_t* body) {
    *body = at + 1;
    *count = info;
    if (info == 0xF) {
      if (*body >= end_) return Fail("a truncated object");
      unsigned marker = static_cast<unsigned char>(in_[*body]);
      if (marker >> 4 != 0x1 || (marker & 0xF) > 3) return Fail("a malformed object count");
      unsigned size = 1u << (marker & 0xF);
      if (end_ - *body - 1 < size) return Fail("a truncated object");
      *count = ReadBigEndian(*body + 1, size);
      *body += 1 + size;
    }
    if (*body > end_ || *count > (end_ - *body) / unit)
      return Fail("an object larger than the file");
    return true;
  }

  // Counts `bytes` of string or data against what sharing may expand to.
  bool Expand(std::uint64_t bytes) {
    if (bytes > bytes_left_) return Fail("too many shared objects");
    bytes_left_ -= bytes;
    return true;
  }

  // A fault of a value rather than of the file's structure (a key given twice, bytes that are
  // not UTF-8) is reported once the whole file has been walked, so that a structural fault
  // found later is the one named. No value is kept after it.
  void Defer(const char* what) {
    if (deferred_ == nullptr) deferred_ = what;
  }

  bool NotXml(char32_t c) {
    return Fail(c == 0 ? "a string holding a zero"
                       : "a string holding " + plist_text::CodePoint(c) +
                             ", a character XML cannot carry");
  }

  // Reads the string `object` into *out; with a null `out` only checks it.
  bool String(std::uint64_t object, bool as_key, std::string* out);
  // Reads `object` into *out (null: only checks it). An array or dictionary is made with room
  // for its entries and goes on the stack, which fills them in.
  bool Visit(std::uint64_t object, Value* out);

  std::string_view in_;
  std::string* err_;
  const char* deferred_ = nullptr;
  unsigned offset_size_ = 0, ref_size_ = 0;
  std::uint64_t objects_ = 0, top_ = 0, table_ = 0;
  std::uint64_t end_ = 0;  // where the objects' room ends: the offset table
  std::uint64_t visits_left_ = 0, bytes_left_ = 0;
  std::vector<Frame> stack_;
  std::vector<bool> on_path_;
};

std::optional<Value> BinaryReader::Run() {
  if (in_.size() < kHeaderSize + kTrailerSize + 1) {
    Fail("a truncated binary property list");
    return std::nullopt;
  }
  const std::uint64_t trailer = in_.size() - kTrailerSize;
  offset_size_ = static_cast<unsigned char>(in_[trailer + 6]);
  ref_size_ = static_cast<unsigned char>(in_[trailer + 7]);
  objects_ = ReadBigEndian(trailer + 8, 8);
  top_ = ReadBigEndian(trailer + 16, 8);
  table_ = ReadBigEndian(trailer + 24, 8);
  if (offset_size_ < 1 || offset_size_ > 8 || ref_size_ < 1 || ref_size_ > 8 ||
      table_ < kHeaderSize || table_ > trailer || objects_ == 0 ||
      objects_ > (trailer - table_) / offset_size_ || top_ >= objects_) {
    Fail("a malformed binary property-list trailer");
    return std::nullopt;
  }
  // Objects lie between the header and the offset table; none may start in it or run into it.
  end_ = table_;
  // Values are copied for every reference to their object, so shared references let a few
  // bytes stand for an endless tree. Without shared containers a file has at most one reference
  // a byte; allow sharing up to a like amount of objects and of string and data bytes.
  visits_left_ = 2 * static_cast<std::uint64_t>(in_.size()) + 1024;
  bytes_left_ = 8 * static_cast<std::uint64_t>(in_.size()) + (1 << 20);
  on_path_.assign(objects_, false);
  Value root;
  if (!Visit(top_, &root)) return std::nullopt;
  while (!stack_.empty()) {
    Frame& f = stack_.back();
    if (f.next == f.count) {
      on_path_[f.object] = false;
      stack_.pop_back();
      continue;
    }
    const std::uint64_t i = f.next++;
    Value* const container = deferred_ == nullptr ? f.container : nullptr;
    Value* slot = nullptr;
    std::uint64_t value_ref = f.refs + i * ref_size_;
    if (f.dict) {
      std::string key;
      value_ref = f.refs + (f.count + i) * ref_size_;
      if (!String(ReadBigEndian(f.refs + i * ref_size_, ref_size_), true,
                  container != nullptr ? &key : nullptr))
        return std::nullopt;
      if (container != nullptr && deferred_ == nullptr) {
        slot = container->dictionary().Insert(std::move(key));
        if (slot == nullptr) Defer("a dictionary holding a key twice");
      }
    } else if (container != nullptr) {
      slot = &container->array()[i];
    }
    if (!Visit(ReadBigEndian(value_ref, ref_size_), deferred_ == nullptr ? slot : nullptr))
      return std::nullopt;
  }
  if (deferred_ != nullptr) {
    Fail(deferred_);
    return std::nullopt;
  }
  return root;
}

// A string object: ASCII (0x5n) or UTF-16 big-endian (0x6n). A zero, an unpaired surrogate and
// a character that XML cannot carry are refused (the file is written back as XML, which would
// not read).
bool BinaryReader::String(std::uint64_t object, bool as_key, std::string* out) {
  std::uint64_t at, count, body;
  if (!Offset(object, &at)) return false;
  unsigned marker = static_cast<unsigned char>(in_[at]);
  if (marker >> 4 != 0x5 && marker >> 4 != 0x6)
    return Fail(as_key ? "a dictionary key that is not a string" : "an unsupported object");
  bool utf16 = marker >> 4 == 0x6;
  if (!Count(at, marker & 0xF, utf16 ? 2 : 1, &count, &body)) return false;
  if (!Expand(count)) return false;
  if (!utf16) {
    // The bytes of an "ASCII" string are taken as they stand, so bytes above ASCII are UTF-8
    // to everything after: what they encode must suit XML too (U+FFFE, U+FFFF). Bytes that
    // are not UTF-8 at all are refused once the walk is over.
    const std::string_view text = in_.substr(body, count);
    bool ascii = true;
    for (std::size_t i = 0; i < text.size();) {
      auto c = static_cast<unsigned char>(text[i]);
      if (c < 0x80) {
        if (c < 0x20 && !plist_text::IsXmlChar(c)) return NotXml(c);
        ++i;
        continue;
      }
      ascii = false;
      const char32_t decoded = NextUtf8(text, &i);
      if (!plist_text::IsXmlChar(decoded)) return NotXml(decoded);
    }
    if (!ascii && !IsValidUtf8(text)) {
      Defer(as_key ? "a key that is not valid UTF-8" : "a string that is not valid UTF-8");
    } else if (out != nullptr) {
      out->assign(text);
    }
    return true;
  }
  for (std::uint64_t i = 0; i < count; ++i) {
    auto unit = static_cast<std::uint32_t>(ReadBigEndian(body + 2 * i, 2));
    if (unit < 0x20 || unit >= 0xFFFE) {
      if (!plist_text::IsXmlChar(unit)) return NotXml(unit);
    }
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
      auto low = static_cast<std::uint32_t>(ReadBigEndian(body + 2 * i + 2, 2));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        ++i;
        continue;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) return Fail("a string with an unpaired surrogate");
  }
  if (out != nullptr) {
    std::optional<std::string> text = Utf16ToUtf8(in_.substr(body, 2 * count), true);
    if (!text) return Fail("a string with an unpaired surrogate");
    *out = std::move(*text);
  }
  return true;
}

bool BinaryReader::Visit(std::uint64_t object, Value* out) {
  if (visits_left_-- == 0) return Fail("too many shared objects");
  std::uint64_t at, count, body;
  if (!Offset(object, &at)) return false;
  unsigned marker = static_cast<unsigned char>(in_[at]);
  unsigned info = marker & 0xF;
  switch (marker >> 4) {
    case 0x0:
      if (info != 0x8 && info != 0x9) return Fail("an unsupported object");
      if (out != nullptr) *out = Value(info == 0x9);
      return true;
    case 0x1: {
      if (info > 4) return Fail("a malformed integer");
      unsigned size = 1u << info;
      if (end_ - at - 1 < size) return Fail("a truncated object");
      Integer n;
      if (size <= 8) {  // unsigned up to 4 bytes, signed in 8
        n.value = static_cast<std::int64_t>(ReadBigEndian(at + 1, size));
      } else {  // 128-bit signed: only what fits -2^63..2^64-1
        std::uint64_t high = ReadBigEndian(at + 1, 8), low = ReadBigEndian(at + 9, 8);
        if (high != 0 && !(high == UINT64_MAX && low >> 63 != 0))
          return Fail("an integer outside -2^63..2^64-1");
        n.value = static_cast<std::int64_t>(low);
        n.is_big_unsigned = high == 0 && low >> 63 != 0;
      }
      if (out != nullptr) *out = Value(n);
      return true;
    }
    case 0x2: {
      if (info != 2 && info != 3) return Fail("a malformed real");
      unsigned size = 1u << info;
      if (end_ - at - 1 < size) return Fail("a truncated object");
      std::uint64_t bits = ReadBigEndian(at + 1, size);
      double d;
      if (size == 4) {
        float f;
        auto b32 = static_cast<std::uint32_t>(bits);
        std::memcpy(&f, &b32, 4);
        d = f;
      } else {
        std::memcpy(&d, &bits, 8);
      }
      if (out != nullptr) *out = Value(d);
      return true;
    }
    case 0x3: {
      if (info != 3) return Fail("a malformed date");
      if (end_ - at - 1 < 8) return Fail("a truncated object");
      std::uint64_t bits = ReadBigEndian(at + 1, 8);
      double d;
      std::memcpy(&d, &bits, 8);
      if (!plist_text::DateInRange(d)) return Fail("a date outside the years 0000 to 9999");
      if (out != nullptr) *out = Value(Date{std::floor(d)});  // whole seconds, as written
      return true;
    }
    case 0x4:
      if (!Count(at, info, 1, &count, &body) || !Expand(count)) return false;
      if (out != nullptr) *out = Value(Data{std::string(in_.substr(body, count))});
      return true;
    case 0x5:
    case 0x6: {
      std::string text;
      if (!String(object, false, out != nullptr ? &text : nullptr)) return false;
      if (out != nullptr) *out = Value(std::move(text));
      return true;
    }
    case 0xA:
    case 0xD: {
      bool dict = marker >> 4 == 0xD;
      if (!Count(at, info, dict ? 2 * ref_size_ : ref_size_, &count, &body)) return false;
      if (on_path_[object]) return Fail("a container that contains itself");
      if (stack_.size() >= static_cast<std::size_t>(kMaxPlistDepth))
        return Fail("arrays and dictionaries nest deeper than " + std::to_string(kMaxPlistDepth) +
                    " levels");
      on_path_[object] = true;
      if (out != nullptr && dict) {
        *out = Value(Dictionary());
        out->dictionary().Reserve(count);
      } else if (out != nullptr) {
        *out = Value(Array(count));
      }
      stack_.push_back({object, body, count, 0, out, dict});
      return true;
    }
    default:
      return Fail("an unsupported object");
  }
}

}  // namespace

std::optional<Value> ReadBinary(std::string_view bytes, std::string* err) {
  return BinaryReader(bytes, err).Run();
}

}  // namespace platform::plist_binary
