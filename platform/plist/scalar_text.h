// Text forms of property-list scalars as they stand in XML: integers, reals, dates and base64
// data. The reader and the writer share them, so what one writes the other reads back exactly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/plist/value.h"

namespace platform::plist_text {

// Dates we read and write: years 0000 to 9999 of the proleptic Gregorian calendar, in seconds
// since 2001-01-01T00:00:00Z. kLatestDate itself (10000-01-01) is outside.
inline constexpr double kEarliestDate = -63145526400.0;  // 0000-01-01T00:00:00Z
inline constexpr double kLatestDate = 252423993600.0;    // 10000-01-01T00:00:00Z
bool DateInRange(double seconds_since_2001);

// "<integer>" text: optional XML white space around an optional sign and decimal digits, or
// hexadecimal digits after "0x". Leading zeros are decimal. nullopt outside -2^63..2^64-1.
std::optional<Integer> ParseInteger(std::string_view text);
std::string FormatInteger(const Integer& i);
void AppendInteger(const Integer& i, std::string* out);

// "<real>" text: a decimal number, or nan, inf, infinity with an optional sign. Too large a
// magnitude reads as an infinity, as strtod does.
std::optional<double> ParseReal(std::string_view text);
// The shortest text that reads back as the same double; "nan", "+infinity", "-infinity".
std::string FormatReal(double d);
void AppendReal(double d, std::string* out);

// Dates are whole seconds: other readers of property lists cannot parse a fraction of a second
// at all, so none is ever written, and one that is read is dropped (rounded down).
//
// "<date>" text: YYYY-MM-DDTHH:MM:SSZ, with an optional fraction of a second after the seconds.
std::optional<double> ParseDate(std::string_view text);
// The form above, rounded down to the second. Dates out of range are clamped into it (the
// reader never makes one).
std::string FormatDate(double seconds_since_2001);
void AppendDate(double seconds_since_2001, std::string* out);

// Checks "<data>" text (base64 with white space between characters, '=' padding only at the
// end) and returns the number of bytes it stands for.
std::optional<std::size_t> Base64DecodedSize(std::string_view text);
// The bytes such text stands for; nullopt where Base64DecodedSize refuses it.
std::optional<std::string> DecodeBase64(std::string_view text);
// Appends the base64 form of `bytes`, `line_length` characters a line (a multiple of 4), each
// line preceded by `indent` and followed by a newline.
void AppendBase64Lines(std::string_view bytes, std::size_t line_length, std::string_view indent,
                       std::string* out);

}  // namespace platform::plist_text
