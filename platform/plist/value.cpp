#include "platform/plist/value.h"

#include <utf8proc.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

bool IsNumber(const Value& v) {
  return v.kind() == Value::Kind::kInteger || v.kind() == Value::Kind::kReal;
}

// Integers reach 2^64-1 and reals are doubles; long double on this platform holds both exactly
// enough to order them (a 64-bit mantissa).
long double NumericValue(const Value& v) {
  if (v.kind() == Value::Kind::kReal) return v.real();
  const Integer& i = v.integer();
  if (i.is_big_unsigned) return static_cast<long double>(static_cast<std::uint64_t>(i.value));
  return static_cast<long double>(i.value);
}

int CompareNumbers(const Value& a, const Value& b) {
  if (a.kind() == Value::Kind::kInteger && b.kind() == Value::Kind::kInteger) {
    const Integer& x = a.integer();
    const Integer& y = b.integer();
    if (x.is_big_unsigned != y.is_big_unsigned) return x.is_big_unsigned ? 1 : -1;
    if (x.is_big_unsigned) {
      auto ux = static_cast<std::uint64_t>(x.value), uy = static_cast<std::uint64_t>(y.value);
      return ux < uy ? -1 : ux > uy;
    }
    return x.value < y.value ? -1 : x.value > y.value;
  }
  long double x = NumericValue(a), y = NumericValue(b);
  // A NaN equals only a NaN and orders before every other number, so that sorts see a
  // consistent order and a NaN is never found in place of a number.
  if (std::isnan(x) || std::isnan(y)) return int{std::isnan(y)} - int{std::isnan(x)};
  if (x < y) return -1;
  if (x > y) return 1;
  return 0;
}

int CompareBytes(std::string_view a, std::string_view b) {
  int c = a.compare(b);
  return c < 0 ? -1 : c > 0;
}

// Kinds in sort order; integers and reals share a rank (a string must never share it).
int KindRank(const Value& v) {
  return IsNumber(v) ? static_cast<int>(Value::Kind::kInteger) : static_cast<int>(v.kind());
}

std::string CaseFolded(const std::string& s) {
  utf8proc_uint8_t* folded = nullptr;
  utf8proc_ssize_t n = utf8proc_map(
      reinterpret_cast<const utf8proc_uint8_t*>(s.data()), static_cast<utf8proc_ssize_t>(s.size()),
      &folded,
      static_cast<utf8proc_option_t>(UTF8PROC_CASEFOLD | UTF8PROC_COMPOSE | UTF8PROC_STABLE));
  if (n < 0) return s;  // not valid UTF-8: compare the bytes as they are
  std::string out(reinterpret_cast<char*>(folded), static_cast<std::size_t>(n));
  std::free(folded);
  return out;
}

int CompareWith(const Value& a, const Value& b, bool fold_case);

int CompareSameKind(const Value& a, const Value& b, bool fold_case) {
  switch (a.kind()) {
    case Value::Kind::kString:
      return fold_case ? CompareBytes(CaseFolded(a.string()), CaseFolded(b.string()))
                       : CompareBytes(a.string(), b.string());
    case Value::Kind::kInteger:
    case Value::Kind::kReal:
      return CompareNumbers(a, b);
    case Value::Kind::kBoolean:
      return static_cast<int>(a.boolean()) - static_cast<int>(b.boolean());
    case Value::Kind::kDate: {
      double x = a.date().seconds_since_2001, y = b.date().seconds_since_2001;
      if (std::isnan(x) || std::isnan(y)) return int{std::isnan(y)} - int{std::isnan(x)};
      return x < y ? -1 : x > y;
    }
    case Value::Kind::kData:
      return CompareBytes(a.data().bytes, b.data().bytes);
    case Value::Kind::kArray: {
      const Array &x = a.array(), &y = b.array();
      for (std::size_t i = 0; i < x.size() && i < y.size(); ++i)
        if (int c = CompareWith(x[i], y[i], fold_case)) return c;
      return x.size() < y.size() ? -1 : x.size() > y.size();
    }
    case Value::Kind::kDictionary: {
      std::size_t x = a.dictionary().size(), y = b.dictionary().size();
      return x < y ? -1 : x > y;
    }
  }
  return 0;
}

int CompareWith(const Value& a, const Value& b, bool fold_case) {
  int ra = KindRank(a), rb = KindRank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  return CompareSameKind(a, b, fold_case);
}

}  // namespace

// Small dictionaries, the most common by far, are searched in order. Past kIndexFrom keys an
// open-addressing table of entry positions (plus one; zero marks a free slot) is kept, at most
// half full, so that no key is copied for the index.
namespace {
constexpr std::size_t kIndexFrom = 16;
}  // namespace

struct Dictionary::Index {
  std::vector<std::size_t> slots;  // a power of two in size

  std::size_t Home(std::string_view key) const {
    return std::hash<std::string_view>{}(key) & (slots.size() - 1);
  }
  std::size_t Next(std::size_t i) const { return (i + 1) & (slots.size() - 1); }
  // Position of the key in `entries`, or entries.size().
  std::size_t Lookup(const std::vector<std::pair<std::string, Value>>& entries,
                     std::string_view key) const {
    for (std::size_t i = Home(key); slots[i] != 0; i = Next(i))
      if (entries[slots[i] - 1].first == key) return slots[i] - 1;
    return entries.size();
  }
  void Place(std::string_view key, std::size_t position) {
    std::size_t i = Home(key);
    while (slots[i] != 0) i = Next(i);
    slots[i] = position + 1;
  }
  // Room for `keys` keys at most half full, the entries placed again.
  void Rebuild(const std::vector<std::pair<std::string, Value>>& entries, std::size_t keys) {
    std::size_t size = 64;
    while (size < 2 * keys) size *= 2;
    slots.assign(size, 0);
    for (std::size_t p = 0; p < entries.size(); ++p) Place(entries[p].first, p);
  }
};

Dictionary::Dictionary() = default;
Dictionary::Dictionary(const Dictionary& other)
    : entries_(other.entries_),
      index_(other.index_ ? std::make_unique<Index>(*other.index_) : nullptr) {}
// A moved-from dictionary is empty: its entries and index have both gone.
Dictionary::Dictionary(Dictionary&& other) noexcept = default;
Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other) *this = Dictionary(other);
  return *this;
}
Dictionary& Dictionary::operator=(Dictionary&& other) noexcept = default;
Dictionary::~Dictionary() = default;

const Value* Dictionary::Find(std::string_view key) const {
  if (index_) {
    std::size_t p = index_->Lookup(entries_, key);
    return p == entries_.size() ? nullptr : &entries_[p].second;
  }
  for (const auto& [k, v] : entries_)
    if (k == key) return &v;
  return nullptr;
}

Value* Dictionary::Find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Dictionary*>(this)->Find(key));
}

const std::string* Dictionary::StringFor(std::string_view key) const {
  const Value* v = Find(key);
  return v ? v->AsString() : nullptr;
}

std::optional<std::int64_t> Dictionary::IntegerFor(std::string_view key) const {
  const Value* v = Find(key);
  return v ? v->AsInteger() : std::nullopt;
}

void Dictionary::Set(std::string key, Value value) {
  if (Value* existing = Find(key)) {
    *existing = std::move(value);
    return;
  }
  Append(std::move(key), std::move(value));
}

Value* Dictionary::Insert(std::string key) {
  if (Find(key) != nullptr) return nullptr;
  Append(std::move(key), Value());
  return &entries_.back().second;
}

void Dictionary::Append(std::string key, Value value) {
  entries_.emplace_back(std::move(key), std::move(value));
  if (index_ && 2 * entries_.size() <= index_->slots.size()) {
    index_->Place(entries_.back().first, entries_.size() - 1);
  } else if (index_ || entries_.size() > kIndexFrom) {
    if (!index_) index_ = std::make_unique<Index>();
    index_->Rebuild(entries_, 2 * entries_.size());
  }
}

void Dictionary::Reserve(std::size_t n) {
  entries_.reserve(n);
  if (n > kIndexFrom && (!index_ || index_->slots.size() < 2 * n)) {
    if (!index_) index_ = std::make_unique<Index>();
    index_->Rebuild(entries_, n);
  }
}

std::size_t Dictionary::size() const {
  return entries_.size();
}

const std::vector<std::pair<std::string, Value>>& Dictionary::entries() const {
  return entries_;
}

bool operator==(const Value& a, const Value& b) {
  if (IsNumber(a) && IsNumber(b)) return CompareNumbers(a, b) == 0;
  if (a.kind() != b.kind()) return false;
  switch (a.kind()) {
    case Value::Kind::kString:
      return a.string() == b.string();
    case Value::Kind::kBoolean:
      return a.boolean() == b.boolean();
    case Value::Kind::kDate:
      return a.date().seconds_since_2001 == b.date().seconds_since_2001;
    case Value::Kind::kData:
      return a.data().bytes == b.data().bytes;
    case Value::Kind::kArray:
      return a.array() == b.array();
    case Value::Kind::kDictionary: {
      const Dictionary &x = a.dictionary(), &y = b.dictionary();
      if (x.size() != y.size()) return false;
      for (const auto& [key, value] : x.entries()) {
        const Value* other = y.Find(key);
        if (other == nullptr || !(*other == value)) return false;
      }
      return true;
    }
    default:
      return false;
  }
}

int Compare(const Value& a, const Value& b) {
  return CompareWith(a, b, false);
}
int CaseInsensitiveCompare(const Value& a, const Value& b) {
  return CompareWith(a, b, true);
}

std::optional<std::size_t> IndexOf(const Array& array, const Value& value) {
  auto it = std::find(array.begin(), array.end(), value);
  if (it == array.end()) return std::nullopt;
  return static_cast<std::size_t>(it - array.begin());
}

}  // namespace platform
