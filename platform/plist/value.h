// Property-list values: string, integer, real, boolean, date, data, array and dictionary.
// Dictionaries keep their keys in insertion order. Equality follows the usual object equality
// of property lists: same kind and value, integers and reals compare by numeric value, booleans
// equal only booleans, dictionaries compare regardless of key order.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

class Value;
using Array = std::vector<Value>;

// An integer of a property list: any value from -2^63 to 2^64-1.
struct Integer {
  std::int64_t value = 0;        // the value when !is_big_unsigned
  bool is_big_unsigned = false;  // true: the value is static_cast<uint64_t>(value) > INT64_MAX
  static Integer FromSigned(std::int64_t v) { return {v, false}; }
  static Integer FromUnsigned(std::uint64_t v) {
    return {static_cast<std::int64_t>(v), v > static_cast<std::uint64_t>(INT64_MAX)};
  }
};

// A moment in time: seconds since 2001-01-01 00:00:00 UTC, fractions kept.
struct Date {
  double seconds_since_2001 = 0;
};

// Raw bytes.
struct Data {
  std::string bytes;
};

// A dictionary whose keys keep the order in which they were first set. Small dictionaries are
// searched in order; larger ones through a hash index of entry positions.
class Dictionary {
 public:
  Dictionary();
  Dictionary(const Dictionary& other);
  Dictionary(Dictionary&&) noexcept;
  Dictionary& operator=(const Dictionary& other);
  Dictionary& operator=(Dictionary&&) noexcept;
  ~Dictionary();

  // The value under the key, or null.
  const Value* Find(std::string_view key) const;
  Value* Find(std::string_view key);
  // Replaces the value of an existing key in place, or appends a new key.
  void Set(std::string key, Value value);
  // Appends a key not yet present and returns its value, an empty string, to fill in; null
  // when the key is present already. The pointer stays good while the dictionary holds no more
  // keys than Reserve made room for.
  Value* Insert(std::string key);
  // The string or the integer under the key; nothing when the key is missing or holds another
  // kind (see Value::AsString and Value::AsInteger).
  const std::string* StringFor(std::string_view key) const;
  std::optional<std::int64_t> IntegerFor(std::string_view key) const;
  // Makes room for n keys in all.
  void Reserve(std::size_t n);
  std::size_t size() const;
  bool empty() const { return size() == 0; }
  // Entries in insertion order.
  const std::vector<std::pair<std::string, Value>>& entries() const;

 private:
  struct Index;
  // Appends a key known to be new.
  void Append(std::string key, Value value);
  std::vector<std::pair<std::string, Value>> entries_;
  std::unique_ptr<Index> index_;  // null while the dictionary is small
};

class Value {
 public:
  enum class Kind { kString, kInteger, kReal, kBoolean, kDate, kData, kArray, kDictionary };

  Value() : v_(std::string()) {}
  Value(std::string s) : v_(std::move(s)) {}
  Value(const char* s) : v_(std::string(s)) {}
  Value(Integer i) : v_(i) {}
  Value(double d) : v_(d) {}
  Value(bool b) : v_(b) {}
  Value(Date d) : v_(d) {}
  Value(Data d) : v_(std::move(d)) {}
  Value(Array a) : v_(std::move(a)) {}
  Value(Dictionary d) : v_(std::move(d)) {}

  Kind kind() const { return static_cast<Kind>(v_.index()); }
  bool IsString() const { return kind() == Kind::kString; }
  bool IsArray() const { return kind() == Kind::kArray; }
  bool IsDictionary() const { return kind() == Kind::kDictionary; }

  // The string, or null when this is another kind.
  const std::string* AsString() const { return std::get_if<std::string>(&v_); }
  // The integer, or nothing when this is another kind or an integer above INT64_MAX.
  std::optional<std::int64_t> AsInteger() const {
    const Integer* i = std::get_if<Integer>(&v_);
    if (i == nullptr || i->is_big_unsigned) return std::nullopt;
    return i->value;
  }

  // Accessors: the caller checks the kind first.
  const std::string& string() const { return std::get<std::string>(v_); }
  const Integer& integer() const { return std::get<Integer>(v_); }
  double real() const { return std::get<double>(v_); }
  bool boolean() const { return std::get<bool>(v_); }
  const Date& date() const { return std::get<Date>(v_); }
  const Data& data() const { return std::get<Data>(v_); }
  const Array& array() const { return std::get<Array>(v_); }
  Array& array() { return std::get<Array>(v_); }
  const Dictionary& dictionary() const { return std::get<Dictionary>(v_); }
  Dictionary& dictionary() { return std::get<Dictionary>(v_); }

 private:
  std::variant<std::string, Integer, double, bool, Date, Data, Array, Dictionary> v_;
};

// Object equality as described above.
bool operator==(const Value& a, const Value& b);

// The position of the first element equal to `value`, or nothing.
std::optional<std::size_t> IndexOf(const Array& array, const Value& value);

// Ordering for sorts of values of one kind: numbers by value, strings by code point, dates by
// time, booleans false before true. Returns <0, 0 or >0. Values of different kinds order by
// kind (numbers count as one kind).
int Compare(const Value& a, const Value& b);
// Strings compared after Unicode case folding (utf8proc); other kinds as Compare.
int CaseInsensitiveCompare(const Value& a, const Value& b);

}  // namespace platform
