// Reading a binary property list ("bplist00") straight into values.
//
// The reader walks the object graph from the top object through the offset table with an
// explicit stack, never recursing, and builds each value as it goes: a dictionary's entries
// and an array's elements are reserved exactly, since the file gives their counts up front.
// An object referred to from several places becomes a copy at each; what that sharing may
// expand to is bounded by the file's size. Refused: what nests deeper than kMaxPlistDepth, a
// container that contains itself, integers outside -2^63..2^64-1, dates outside the years 0000
// to 9999, strings that are not UTF-8 or hold characters XML cannot carry (the file is written
// back as XML), a key given twice, and every object that does not lie whole between the
// header and the offset table.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/value.h"

namespace platform::plist_binary {

// `bytes` starts with "bplist00". Nothing, with the reason in *err, when the file is refused.
std::optional<Value> ReadBinary(std::string_view bytes, std::string* err);

}  // namespace platform::plist_binary
