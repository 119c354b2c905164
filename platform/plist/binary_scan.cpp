// The scan of a binary property list ("bplist00"): a walk of the object graph from the top
// object through the offset table, with an explicit stack.
#include <cmath>
#include <cstring>

#include "platform/plist/file.h"
#include "platform/plist/scalar_text.h"
#include "platform/plist/scan.h"
#include "platform/plist/xml_text.h"
#include "platform/text/utf8.h"

namespace platform::plist_scan {

namespace {

constexpr std::size_t kHeaderSize = 8;
constexpr std::size_t kTrailerSize = 32;

class BinaryScanner {
 public:
  BinaryScanner(std::string_view in, Scan* scan, std::string* err)
      : in_(in), scan_(scan), err_(err) {}

  bool Run();

 private:
  struct Frame {
    std::uint64_t object;
    std::uint64_t refs;   // offset of the container's object references
    std::uint64_t count;  // entries
    std::uint64_t next;   // next entry to visit
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
  // where its contents start. Checks that count * unit bytes fit before the trailer.
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

  Token& Add(Value::Kind kind) {
    scan_->tokens.emplace_back();
    scan_->tokens.back().kind = kind;
    return scan_->tokens.back();
  }

  bool NotXml(char32_t c) {
    return Fail(c == 0 ? "a string holding a zero"
                       : "a string holding " + plist_text::CodePoint(c) +
                             ", a character XML cannot carry");
  }

  bool String(std::uint64_t object, bool as_key);
  bool Visit(std::uint64_t object);

  std::string_view in_;
  Scan* scan_;
  std::string* err_;
  unsigned offset_size_ = 0, ref_size_ = 0;
  std::uint64_t objects_ = 0, top_ = 0, table_ = 0, end_ = 0;
  std::uint64_t visits_left_ = 0, bytes_left_ = 0;
  std::vector<Frame> stack_;
  std::vector<bool> on_path_;
};

bool BinaryScanner::Run() {
  if (in_.size() < kHeaderSize + kTrailerSize + 1) return Fail("a truncated binary property list");
  end_ = in_.size() - kTrailerSize;
  std::uint64_t trailer = end_;
  offset_size_ = static_cast<unsigned char>(in_[trailer + 6]);
  ref_size_ = static_cast<unsigned char>(in_[trailer + 7]);
  objects_ = ReadBigEndian(trailer + 8, 8);
  top_ = ReadBigEndian(trailer + 16, 8);
  table_ = ReadBigEndian(trailer + 24, 8);
  if (offset_size_ < 1 || offset_size_ > 8 || ref_size_ < 1 || ref_size_ > 8)
    return Fail("a malformed binary property-list trailer");
  if (table_ < kHeaderSize || table_ > end_ || objects_ == 0 ||
      objects_ > (end_ - table_) / offset_size_ || top_ >= objects_)
    return Fail("a malformed binary property-list trailer");
  // libplist copies an object for every reference to it, so shared references let a few bytes
  // stand for an endless tree. Without shared containers a file has at most one reference a
  // byte; allow sharing up to a like amount of objects and of string and data bytes.
  visits_left_ = 2 * static_cast<std::uint64_t>(in_.size()) + 1024;
  bytes_left_ = 8 * static_cast<std::uint64_t>(in_.size()) + (1 << 20);
  on_path_.assign(objects_, false);
  if (!Visit(top_)) return false;
  while (!stack_.empty()) {
    Frame& f = stack_.back();
    if (f.next == f.count) {
      on_path_[f.object] = false;
      stack_.pop_back();
      continue;
    }
    std::uint64_t i = f.next++;
    std::uint64_t value_ref = f.dict ? f.refs + (f.count + i) * ref_size_ : f.refs + i * ref_size_;
    if (f.dict && !String(ReadBigEndian(f.refs + i * ref_size_, ref_size_), true)) return false;
    if (!Visit(ReadBigEndian(value_ref, ref_size_))) return false;
  }
  return true;
}

// A string object: ASCII (0x5n) or UTF-16 big-endian (0x6n). libplist cuts a string at a zero
// and drops a UTF-16 string with an unpaired surrogate, so both are refused here; so is a
// character that XML cannot carry (the file is written back as XML, which would not read).
bool BinaryScanner::String(std::uint64_t object, bool as_key) {
  std::uint64_t at, count, body;
  if (!Offset(object, &at)) return false;
  unsigned marker = static_cast<unsigned char>(in_[at]);
  if (marker >> 4 != 0x5 && marker >> 4 != 0x6)
    return Fail(as_key ? "a dictionary key that is not a string" : "an unsupported object");
  bool utf16 = marker >> 4 == 0x6;
  if (!Count(at, marker & 0xF, utf16 ? 2 : 1, &count, &body)) return false;
  if (!Expand(count)) return false;
  std::uint64_t utf8_size = 0;
  if (!utf16) {
    // The reader takes the bytes of an "ASCII" string as they stand, so bytes above ASCII are
    // UTF-8 to everything after it: what they encode must suit XML too (U+FFFE, U+FFFF). Bytes
    // that are not UTF-8 at all are refused once the string is read.
    const std::string_view text = in_.substr(body, count);
    for (std::size_t i = 0; i < text.size();) {
      auto c = static_cast<unsigned char>(text[i]);
      if (c < 0x80) {
        if (c < 0x20 && !plist_text::IsXmlChar(c)) return NotXml(c);
        ++i;
        continue;
      }
      const char32_t decoded = NextUtf8(text, &i);
      if (!plist_text::IsXmlChar(decoded)) return NotXml(decoded);
    }
    utf8_size = count;
  } else {
    for (std::uint64_t i = 0; i < count; ++i) {
      auto unit = static_cast<std::uint32_t>(ReadBigEndian(body + 2 * i, 2));
      if (unit < 0x20 || unit >= 0xFFFE) {
        if (!plist_text::IsXmlChar(unit)) return NotXml(unit);
      }
      if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count) {
        auto low = static_cast<std::uint32_t>(ReadBigEndian(body + 2 * i + 2, 2));
        if (low >= 0xDC00 && low <= 0xDFFF) {
          utf8_size += 4;
          ++i;
          continue;
        }
      }
      if (unit >= 0xD800 && unit <= 0xDFFF) return Fail("a string with an unpaired surrogate");
      utf8_size += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    }
  }
  if (!as_key) Add(Value::Kind::kString).size = utf8_size;
  return true;
}

bool BinaryScanner::Visit(std::uint64_t object) {
  if (visits_left_-- == 0) return Fail("too many shared objects");
  std::uint64_t at, count, body;
  if (!Offset(object, &at)) return false;
  unsigned marker = static_cast<unsigned char>(in_[at]);
  unsigned info = marker & 0xF;
  switch (marker >> 4) {
    case 0x0:
      if (info != 0x8 && info != 0x9) return Fail("an unsupported object");
      Add(Value::Kind::kBoolean).boolean = info == 0x9;
      return true;
    case 0x1: {
      if (info > 4) return Fail("a malformed integer");
      unsigned size = 1u << info;
      if (end_ - at - 1 < size) return Fail("a truncated object");
      Token& t = Add(Value::Kind::kInteger);
      if (size <= 4) {  // unsigned
        t.integer_bits = static_cast<std::int64_t>(ReadBigEndian(at + 1, size));
      } else if (size == 8) {  // signed
        t.integer_bits = static_cast<std::int64_t>(ReadBigEndian(at + 1, 8));
      } else {  // 128-bit signed: only what fits -2^63..2^64-1
        std::uint64_t high = ReadBigEndian(at + 1, 8), low = ReadBigEndian(at + 9, 8);
        if (high != 0 && !(high == UINT64_MAX && low >> 63 != 0))
          return Fail("an integer outside -2^63..2^64-1");
        t.integer_bits = static_cast<std::int64_t>(low);
        t.boolean = high == 0 && low >> 63 != 0;
      }
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
      Add(Value::Kind::kReal).real = d;
      return true;
    }
    case 0x3: {
      if (info != 3) return Fail("a malformed date");
      if (end_ - at - 1 < 8) return Fail("a truncated object");
      std::uint64_t bits = ReadBigEndian(at + 1, 8);
      double d;
      std::memcpy(&d, &bits, 8);
      if (!plist_text::DateInRange(d)) return Fail("a date outside the years 0000 to 9999");
      Add(Value::Kind::kDate).real = std::floor(d);  // whole seconds, as they are written
      return true;
    }
    case 0x4:
      if (!Count(at, info, 1, &count, &body) || !Expand(count)) return false;
      Add(Value::Kind::kData).size = count;
      return true;
    case 0x5:
    case 0x6:
      return String(object, false);
    case 0xA:
    case 0xD: {
      bool dict = marker >> 4 == 0xD;
      if (!Count(at, info, dict ? 2 * ref_size_ : ref_size_, &count, &body)) return false;
      if (on_path_[object]) return Fail("a container that contains itself");
      if (stack_.size() >= static_cast<std::size_t>(kMaxPlistDepth))
        return Fail("arrays and dictionaries nest deeper than " + std::to_string(kMaxPlistDepth) +
                    " levels");
      on_path_[object] = true;
      Add(dict ? Value::Kind::kDictionary : Value::Kind::kArray).size = count;
      stack_.push_back({object, body, count, 0, dict});
      return true;
    }
    default:
      return Fail("an unsupported object");
  }
}

}  // namespace

bool ScanBinary(std::string_view bytes, Scan* scan, std::string* err) {
  return BinaryScanner(bytes, scan, err).Run();
}

}  // namespace platform::plist_scan
