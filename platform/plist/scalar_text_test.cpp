#include "platform/plist/scalar_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace platform::plist_text {
namespace {

// Every date in range is written as its whole seconds, rounded down, and reads back as them;
// random bit patterns reach the awkward ones (a few microseconds before 2001, huge fractions).
TEST(PlistScalarText, DatesAreWrittenInWholeSecondsRoundedDown) {
  std::mt19937_64 random(2001);
  std::vector<double> dates = {
      0.0,         -0.5,          0.5,           -3.2186534472676e-5,
      1e-300,      -1e-300,       kEarliestDate, std::nextafter(kLatestDate, 0),
      -3187296000, 3137229045.25, 86399.999999,  -86400.000001};
  while (dates.size() < 20000) {
    std::uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    if (DateInRange(d)) dates.push_back(d);
    dates.push_back(
        std::ldexp(static_cast<double>(random() >> 11), -static_cast<int>(random() % 80)) *
        (random() % 2 ? 1 : -1));
  }
  for (double d : dates) {
    if (!DateInRange(d)) continue;
    std::string text = FormatDate(d);
    std::optional<double> back = ParseDate(text);
    ASSERT_TRUE(back) << text;
    ASSERT_EQ(*back, std::floor(d)) << text;
    ASSERT_EQ(text.find('.'), std::string::npos) << text;
  }
  EXPECT_EQ(FormatDate(0), "2001-01-01T00:00:00Z");
  EXPECT_EQ(FormatDate(-0.25), "2000-12-31T23:59:59Z");
  EXPECT_EQ(FormatDate(43200.5), "2001-01-01T12:00:00Z");
  EXPECT_EQ(FormatDate(kEarliestDate), "0000-01-01T00:00:00Z");
  EXPECT_EQ(FormatDate(1e300), "9999-12-31T23:59:59Z");  // clamped
  // A fraction in the text is checked, then dropped.
  EXPECT_EQ(ParseDate(" 2000-02-29T12:00:00.999Z\n"), -26524800.0 + 43200);
  for (const char* bad : {"2001-01-01T00:00:00", "2001-1-01T00:00:00Z", "2001-01-01T24:00:00Z",
                          "2001-01-01T00:00:60Z", "2100-02-29T00:00:00Z", "2001-01-01T00:00:00.Z",
                          "+2001-01-01T00:00:00Z", "2001-00-01T00:00:00Z"})
    EXPECT_FALSE(ParseDate(bad)) << bad;
}

TEST(PlistScalarText, IntegersCoverMinus2To63Through2To64Less1) {
  EXPECT_EQ(ParseInteger("-9223372036854775808")->value, INT64_MIN);
  EXPECT_FALSE(ParseInteger("-9223372036854775808")->is_big_unsigned);
  EXPECT_TRUE(ParseInteger("18446744073709551615")->is_big_unsigned);
  EXPECT_EQ(ParseInteger("-0x10")->value, -16);
  EXPECT_EQ(ParseInteger("007")->value, 7);
  for (const char* bad : {"", "-", "0x", "1 2", "--1", "- 1", "18446744073709551616",
                          "-9223372036854775809", "1e3", "0b1"})
    EXPECT_FALSE(ParseInteger(bad)) << bad;
  for (Integer i : {Integer::FromSigned(-1), Integer::FromSigned(INT64_MIN),
                    Integer::FromUnsigned(UINT64_MAX), Integer::FromUnsigned(1ull << 63)}) {
    std::optional<Integer> back = ParseInteger(FormatInteger(i));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->value, i.value);
    EXPECT_EQ(back->is_big_unsigned, i.is_big_unsigned);
  }
}

TEST(PlistScalarText, RealsReadBackExactly) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    std::uint64_t bits = random();
    double d;
    std::memcpy(&d, &bits, sizeof d);
    std::optional<double> back = ParseReal(FormatReal(d));
    ASSERT_TRUE(back) << FormatReal(d);
    if (std::isnan(d))
      EXPECT_TRUE(std::isnan(*back));
    else
      ASSERT_EQ(std::memcmp(&*back, &d, sizeof d), 0) << FormatReal(d);  // -0 stays -0
  }
  EXPECT_EQ(FormatReal(std::numeric_limits<double>::infinity()), "+infinity");
  EXPECT_EQ(FormatReal(1.0), "1");
  EXPECT_EQ(ParseReal("-INF"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(ParseReal("1e-400"), 0.0);
  for (const char* bad : {"", "1.5x", "0x1p3", "--1", "e5", "nan(1)", "1,5"})
    EXPECT_FALSE(ParseReal(bad)) << bad;
}

TEST(PlistScalarText, Base64SizesAndLines) {
  EXPECT_EQ(Base64DecodedSize(""), 0u);
  EXPECT_EQ(Base64DecodedSize(" QUJD\n\tRA== "), 4u);
  EXPECT_EQ(Base64DecodedSize("QUI="), 2u);
  for (const char* bad : {"QQ", "Q===", "QQ==QQ==", "QU!D", "QQ=A", "===="})
    EXPECT_FALSE(Base64DecodedSize(bad)) << bad;
  std::string out;
  AppendBase64Lines("hello world", 8, "\t", &out);
  EXPECT_EQ(out, "\taGVsbG8g\n\td29ybGQ=\n");
  out.clear();
  AppendBase64Lines("", 76, "\t", &out);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace platform::plist_text
