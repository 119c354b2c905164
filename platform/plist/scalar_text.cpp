#include "platform/plist/scalar_text.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace platform::plist_text {

namespace {

bool IsXmlSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsXmlSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsXmlSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char c = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    if (c != b[i]) return false;
  }
  return true;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* y, unsigned* m, unsigned* d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *d = doy - (153 * mp + 2) / 5 + 1;
  *m = mp < 10 ? mp + 3 : mp - 9;
  *y = static_cast<std::int64_t>(yoe) + era * 400 + (*m <= 2);
}

constexpr std::int64_t kDaysTo2001 = 11323;  // 1970-01-01 to 2001-01-01

// Reads exactly `n` decimal digits at `*s`, advancing it.
bool Digits(std::string_view* s, std::size_t n, unsigned* out) {
  if (s->size() < n) return false;
  unsigned v = 0;
  for (std::size_t i = 0; i < n; ++i) {
    char c = (*s)[i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<unsigned>(c - '0');
  }
  s->remove_prefix(n);
  *out = v;
  return true;
}

bool Expect(std::string_view* s, char c) {
  if (s->empty() || s->front() != c) return false;
  s->remove_prefix(1);
  return true;
}

// What each byte is in <data> text.
enum class Base64Class : unsigned char { kOther, kSymbol, kSpace, kPad };
constexpr auto kBase64Classes = [] {
  std::array<Base64Class, 256> table{};
  for (int c = 0; c < 256; ++c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
        c == '/')
      table[c] = Base64Class::kSymbol;
    else if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
      table[c] = Base64Class::kSpace;
    else if (c == '=')
      table[c] = Base64Class::kPad;
  }
  return table;
}();

}  // namespace

bool DateInRange(double s) {
  return s >= kEarliestDate && s < kLatestDate;
}

std::optional<Integer> ParseInteger(std::string_view text) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  std::uint64_t magnitude = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), magnitude, base);
  if (s.empty() || ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
  if (!negative) return Integer::FromUnsigned(magnitude);
  if (magnitude > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + 1)
    return std::nullopt;
  return Integer::FromSigned(static_cast<std::int64_t>(0 - magnitude));
}

std::string FormatInteger(const Integer& i) {
  std::string out;
  AppendInteger(i, &out);
  return out;
}

void AppendInteger(const Integer& i, std::string* out) {
  char buf[24];
  auto [end, ec] = i.is_big_unsigned
                       ? std::to_chars(buf, buf + sizeof buf, static_cast<std::uint64_t>(i.value))
                       : std::to_chars(buf, buf + sizeof buf, i.value);
  out->append(buf, ec == std::errc() ? end : buf);
}

std::optional<double> ParseReal(std::string_view text) {
  std::string_view s = Trim(text);
  bool negative = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    negative = s.front() == '-';
    s.remove_prefix(1);
  }
  const double sign = negative ? -1.0 : 1.0;
  if (EqualsIgnoringCase(s, "nan"))
    return std::copysign(std::numeric_limits<double>::quiet_NaN(), sign);
  if (EqualsIgnoringCase(s, "inf") || EqualsIgnoringCase(s, "infinity"))
    return sign * std::numeric_limits<double>::infinity();
  // Only plain decimal forms from here on: digits, a point, an exponent.
  if (s.empty() || !((s.front() >= '0' && s.front() <= '9') || s.front() == '.'))
    return std::nullopt;
  double d = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), d, std::chars_format::general);
  if (end != s.data() + s.size()) return std::nullopt;
  if (ec == std::errc::result_out_of_range) {
    // Overflow to infinity or underflow to zero, as strtod rounds them.
    std::string copy(s);
    d = std::strtod(copy.c_str(), nullptr);
  } else if (ec != std::errc()) {
    return std::nullopt;
  }
  return sign * d;
}

std::string FormatReal(double d) {
  std::string out;
  AppendReal(d, &out);
  return out;
}

void AppendReal(double d, std::string* out) {
  if (std::isnan(d)) return out->append("nan"), void();
  if (std::isinf(d)) return out->append(d > 0 ? "+infinity" : "-infinity"), void();
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
  if (ec == std::errc())
    out->append(buf, end);
  else
    out->push_back('0');
}

std::optional<double> ParseDate(std::string_view text) {
  std::string_view s = Trim(text);
  unsigned year, month, day, hour, minute, second;
  if (!Digits(&s, 4, &year) || !Expect(&s, '-') || !Digits(&s, 2, &month) || !Expect(&s, '-') ||
      !Digits(&s, 2, &day) || !Expect(&s, 'T') || !Digits(&s, 2, &hour) || !Expect(&s, ':') ||
      !Digits(&s, 2, &minute) || !Expect(&s, ':') || !Digits(&s, 2, &second))
    return std::nullopt;
  if (!s.empty() && s.front() == '.') {  // a fraction: checked, then dropped
    std::size_t n = 1;
    while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
    if (n == 1) return std::nullopt;
    s.remove_prefix(n);
  }
  if (s != "Z" || month < 1 || month > 12 || hour > 23 || minute > 59 || second > 59)
    return std::nullopt;
  static constexpr unsigned kDaysIn[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (day < 1 || day > kDaysIn[month - 1] || (month == 2 && day == 29 && !leap))
    return std::nullopt;
  std::int64_t days = DaysFromCivil(year, month, day) - kDaysTo2001;
  return static_cast<double>(days * 86400 + hour * 3600 + minute * 60 + second);
}

std::string FormatDate(double seconds) {
  std::string out;
  AppendDate(seconds, &out);
  return out;
}

void AppendDate(double seconds, std::string* out) {
  if (std::isnan(seconds)) seconds = 0;
  seconds = std::floor(std::clamp(seconds, kEarliestDate, kLatestDate - 1));
  const auto whole = static_cast<std::int64_t>(seconds);
  std::int64_t days = whole >= 0 ? whole / 86400 : -((-whole + 86399) / 86400);
  const auto sec = static_cast<unsigned>(whole - days * 86400);  // 0..86399
  std::int64_t y;
  unsigned m, d;
  CivilFromDays(days + kDaysTo2001, &y, &m, &d);
  char buf[80];
  std::snprintf(buf, sizeof buf, "%04u-%02u-%02uT%02u:%02u:%02uZ",
                static_cast<unsigned>(y) % 10000u, m % 100u, d % 100u, sec / 3600, sec / 60 % 60,
                sec % 60);
  out->append(buf);
}

std::optional<std::size_t> Base64DecodedSize(std::string_view text) {
  std::size_t symbols = 0, padding = 0;
  for (char c : text) {
    switch (kBase64Classes[static_cast<unsigned char>(c)]) {
      case Base64Class::kSpace:
        continue;
      case Base64Class::kPad:
        ++padding;
        break;
      case Base64Class::kSymbol:
        if (padding != 0) return std::nullopt;
        break;
      case Base64Class::kOther:
        return std::nullopt;
    }
    ++symbols;
  }
  if (symbols % 4 != 0 || padding > 2) return std::nullopt;
  return symbols / 4 * 3 - padding;
}

std::optional<std::string> DecodeBase64(std::string_view text) {
  const std::optional<std::size_t> size = Base64DecodedSize(text);
  if (!size) return std::nullopt;
  std::string out;
  out.reserve(*size);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (kBase64Classes[static_cast<unsigned char>(c)] != Base64Class::kSymbol) continue;
    const int v = c >= 'A' && c <= 'Z'   ? c - 'A'
                  : c >= 'a' && c <= 'z' ? c - 'a' + 26
                  : c >= '0' && c <= '9' ? c - '0' + 52
                  : c == '+'             ? 62
                                         : 63;
    bits = bits << 6 | static_cast<std::uint32_t>(v);
    if (++count == 4) {
      out.push_back(static_cast<char>(bits >> 16));
      out.push_back(static_cast<char>(bits >> 8));
      out.push_back(static_cast<char>(bits));
      bits = 0;
      count = 0;
    }
  }
  // A last group cut short by padding: two symbols give one byte, three give two.
  if (count >= 2) out.push_back(static_cast<char>(bits >> (count == 2 ? 4 : 10)));
  if (count == 3) out.push_back(static_cast<char>(bits >> 2));
  return out;
}

void AppendBase64Lines(std::string_view bytes, std::size_t line_length, std::string_view indent,
                       std::string* out) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::size_t groups_per_line = line_length / 4 == 0 ? 1 : line_length / 4;
  auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  std::size_t i = 0, groups = 0;
  while (i < bytes.size()) {
    if (groups == 0) out->append(indent);
    std::size_t left = bytes.size() - i;
    unsigned v = byte(i) << 16 | (left > 1 ? byte(i + 1) << 8 : 0) | (left > 2 ? byte(i + 2) : 0);
    char group[4] = {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63],
                     left > 1 ? kAlphabet[(v >> 6) & 63] : '=', left > 2 ? kAlphabet[v & 63] : '='};
    out->append(group, 4);
    i += left > 3 ? 3 : left;
    if (++groups == groups_per_line || i >= bytes.size()) {
      out->push_back('\n');
      groups = 0;
    }
  }
}

}  // namespace platform::plist_text
