#include "platform/plist_value.h"

#include <utf8proc.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

namespace platform {

namespace {

struct StringHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

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

// Small dictionaries, the most common by far, are searched in order; a hash index is built
// once a dictionary grows past kIndexFrom keys.
struct Dictionary::Impl {
  static constexpr std::size_t kIndexFrom = 16;
  std::vector<std::pair<std::string, Value>> entries;
  std::unordered_map<std::string, std::size_t, StringHash, std::equal_to<>> index;

  void Reindex() {
    index.clear();
    index.reserve(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i) index.emplace(entries[i].first, i);
  }
};

Dictionary::Dictionary() : impl_(std::make_unique<Impl>()) {}
// A moved-from dictionary (impl_ null) copies as an empty one.
Dictionary::Dictionary(const Dictionary& other)
    : impl_(other.impl_ ? std::make_unique<Impl>(*other.impl_) : std::make_unique<Impl>()) {}
Dictionary::Dictionary(Dictionary&& other) noexcept : impl_(std::move(other.impl_)) {}
Dictionary& Dictionary::operator=(const Dictionary& other) {
  if (this != &other)
    impl_ = other.impl_ ? std::make_unique<Impl>(*other.impl_) : std::make_unique<Impl>();
  return *this;
}
Dictionary& Dictionary::operator=(Dictionary&& other) noexcept {
  impl_ = std::move(other.impl_);
  return *this;
}
Dictionary::~Dictionary() = default;

const Value* Dictionary::Find(std::string_view key) const {
  if (!impl_) return nullptr;
  if (impl_->entries.size() <= Impl::kIndexFrom) {
    for (const auto& [k, v] : impl_->entries)
      if (k == key) return &v;
    return nullptr;
  }
  auto it = impl_->index.find(key);
  return it == impl_->index.end() ? nullptr : &impl_->entries[it->second].second;
}

Value* Dictionary::Find(std::string_view key) {
  return const_cast<Value*>(static_cast<const Dictionary*>(this)->Find(key));
}

void Dictionary::Set(std::string key, Value value) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  if (Value* existing = Find(key)) {
    *existing = std::move(value);
    return;
  }
  impl_->entries.emplace_back(std::move(key), std::move(value));
  if (impl_->entries.size() == Impl::kIndexFrom + 1)
    impl_->Reindex();
  else if (impl_->entries.size() > Impl::kIndexFrom + 1)
    impl_->index.emplace(impl_->entries.back().first, impl_->entries.size() - 1);
}

void Dictionary::Reserve(std::size_t n) {
  if (!impl_) impl_ = std::make_unique<Impl>();
  impl_->entries.reserve(n);
}

std::size_t Dictionary::size() const {
  return impl_ ? impl_->entries.size() : 0;
}

const std::vector<std::pair<std::string, Value>>& Dictionary::entries() const {
  static const std::vector<std::pair<std::string, Value>> kEmpty;
  return impl_ ? impl_->entries : kEmpty;
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

}  // namespace platform
