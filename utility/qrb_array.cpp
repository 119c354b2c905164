#include "utility/qrb_array.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

namespace QRBArray {

namespace {

// The element's value for the key: null when the element is not a dictionary or lacks the key.
const Value* ValueForKey(const Value& element, std::string_view key) {
  return element.IsDictionary() ? element.dictionary().Find(key) : nullptr;
}

// The stored value receives the equality test, the searched value is its argument; a missing
// value never matches.
bool Matches(const Value& element, const Value& value, std::string_view key) {
  const Value* stored = ValueForKey(element, key);
  return stored != nullptr && *stored == value;
}

}  // namespace

const Value* objectWithValue(const Array& receiver, const Value& value) {
  std::optional<std::size_t> at = platform::IndexOf(receiver, value);
  return at ? &receiver[*at] : nullptr;
}

const Value* objectWithValueForKey(const Array& receiver, const Value& value,
                                   std::string_view key) {
  for (const Value& element : receiver)
    if (Matches(element, value, key)) return &element;
  return nullptr;
}

std::optional<Array> objectsWithValueForKey(const Array& receiver, const Value& value,
                                            std::string_view key) {
  Array found;
  for (const Value& element : receiver)
    if (Matches(element, value, key)) found.push_back(element);
  if (found.empty()) return std::nullopt;
  return found;
}

Array sortedDictionariesUsingKey(const Array& receiver, std::string_view key, long direction) {
  if (key.empty()) return receiver;
  // Each element with its value for the key, looked up once.
  std::vector<std::pair<const Value*, std::size_t>> order;
  order.reserve(receiver.size());
  const Value* first = nullptr;
  for (std::size_t i = 0; i < receiver.size(); ++i) {
    const Value* v = ValueForKey(receiver[i], key);
    if (first == nullptr) first = v;
    order.emplace_back(v, i);
  }
  if (first == nullptr) return receiver;

  // The first value found picks the comparison for all of them.
  int (*compare)(const Value&, const Value&) =
      first->IsString() ? platform::CaseInsensitiveCompare : platform::Compare;
  const bool ascending = direction == -1;
  // Missing values order before every value, so they come first ascending and last
  // descending; equal elements keep the receiver's order either way.
  auto less = [&](const std::pair<const Value*, std::size_t>& a,
                  const std::pair<const Value*, std::size_t>& b) {
    const Value* x = ascending ? a.first : b.first;
    const Value* y = ascending ? b.first : a.first;
    if (x == nullptr || y == nullptr) return x == nullptr && y != nullptr;
    return compare(*x, *y) < 0;
  };
  std::stable_sort(order.begin(), order.end(), less);

  Array sorted;
  sorted.reserve(receiver.size());
  for (const auto& entry : order) sorted.push_back(receiver[entry.second]);
  return sorted;
}

}  // namespace QRBArray
