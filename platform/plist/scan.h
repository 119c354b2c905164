// The first pass over a binary property-list file, before libplist sees it.
//
// libplist 2.2 recurses as deep as the file nests, builds whatever a binary file's shared
// references expand to, and hands out integers without their sign and dates clamped to 32
// bits. The scan walks the file without recursion, refuses
// what nests deeper than kMaxPlistDepth and what libplist would misread, and records every value
// in document order (depth first, a dictionary's values in key order) with what libplist loses:
// the exact integer, real and date, the size of strings and data, the number of entries of each
// array and dictionary. The conversion of libplist's nodes takes the values from that record and
// checks the node tree against it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/plist/value.h"

namespace platform::plist_scan {

inline constexpr std::uint64_t kUnknownSize = UINT64_MAX;

struct Token {
  Value::Kind kind = Value::Kind::kString;
  bool boolean = false;
  // Arrays and dictionaries: number of entries. Strings and data: size in bytes once decoded
  // (kUnknownSize where libplist decodes the text itself).
  std::uint64_t size = kUnknownSize;
  union {
    std::int64_t integer_bits;  // with `boolean` meaning is_big_unsigned
    double real;                // reals, and dates in seconds since 2001
  };
  Token() : integer_bits(0) {}
};

struct Scan {
  std::vector<Token> tokens;
};

// `bytes` starts with "bplist00".
bool ScanBinary(std::string_view bytes, Scan* scan, std::string* err);

}  // namespace platform::plist_scan
