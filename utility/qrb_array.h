// Lookups and a sort over arrays of property-list values.
#pragma once

#include <optional>
#include <string_view>

#include "platform/plist/value.h"

namespace QRBArray {

using platform::Array;
using platform::Value;

// The first element equal to `value`, or null. Never a copy: the pointer is into `receiver`.
const Value* objectWithValue(const Array& receiver, const Value& value);

// The first element that is a dictionary whose value for `key` equals `value`, or null.
const Value* objectWithValueForKey(const Array& receiver, const Value& value,
                                   std::string_view key);

// Every such element, in order; nullopt (not an empty array) when none matches.
std::optional<Array> objectsWithValueForKey(const Array& receiver, const Value& value,
                                            std::string_view key);

// The elements sorted by their values for `key`: ascending when direction is -1, descending
// otherwise. Strings compare without regard to case when the first value found is a string.
// The sort is stable; elements without the key come first ascending, last descending.
Array sortedDictionariesUsingKey(const Array& receiver, std::string_view key, long direction);

}  // namespace QRBArray
