#include "platform/plist/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace platform {
namespace {

Value Int(std::int64_t v) {
  return Value(Integer::FromSigned(v));
}
Value UInt(std::uint64_t v) {
  return Value(Integer::FromUnsigned(v));
}

TEST(PlistValue, ResultAccessorsGiveNothingForAnotherKind) {
  Dictionary d;
  d.Set("n", Int(-2));
  d.Set("big", UInt(UINT64_MAX));  // the same bits as -1: must not read as -1
  d.Set("s", Value("text"));
  d.Set("real", Value(3.0));
  EXPECT_EQ(d.IntegerFor("n"), -2);
  EXPECT_EQ(d.IntegerFor("big"), std::nullopt);
  EXPECT_EQ(d.IntegerFor("real"), std::nullopt);
  EXPECT_EQ(d.IntegerFor("s"), std::nullopt);
  EXPECT_EQ(d.IntegerFor("missing"), std::nullopt);
  ASSERT_NE(d.StringFor("s"), nullptr);
  EXPECT_EQ(*d.StringFor("s"), "text");
  EXPECT_EQ(d.StringFor("n"), nullptr);
  EXPECT_EQ(d.StringFor("missing"), nullptr);
}

TEST(PlistValue, IndexOfFindsTheFirstEqualElement) {
  const Array a = {Value("-d"), Int(1), Value("-i"), Value(1.0), Value("-i")};
  EXPECT_EQ(IndexOf(a, Value("-i")), 2u);
  EXPECT_EQ(IndexOf(a, Value(1.0)), 1u);  // equal by numeric value
  EXPECT_EQ(IndexOf(a, Value("-s")), std::nullopt);
  EXPECT_EQ(IndexOf(Array{}, Value("-i")), std::nullopt);
}

TEST(PlistValue, NumbersCompareByValueAcrossIntegerAndReal) {
  EXPECT_EQ(Int(1), Value(1.0));
  EXPECT_EQ(UInt(5), Int(5));
  EXPECT_FALSE(Int(-1) == UInt(UINT64_MAX));  // the same 64 bits, different numbers
  EXPECT_FALSE(UInt(UINT64_MAX) == Value(18446744073709551616.0));
  EXPECT_EQ(UInt(std::uint64_t{1} << 63), Value(9223372036854775808.0));
  EXPECT_FALSE(Int(INT64_MAX) == Value(9223372036854775808.0));
  EXPECT_FALSE(Value(true) == Int(1));  // booleans equal only booleans
  EXPECT_EQ(Value(true), Value(true));
  EXPECT_FALSE(Value("1") == Int(1));
  EXPECT_FALSE(Value(Data{"x"}) == Value("x"));
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_EQ(Value(nan), Value(nan));
  EXPECT_FALSE(Value(nan) == Int(0));
  EXPECT_FALSE(Value(nan) == Value(1.0));

  EXPECT_LT(Compare(Int(-1), UInt(UINT64_MAX)), 0);
  EXPECT_GT(Compare(Int(INT64_MIN), Value(-1e300)), 0);
  EXPECT_GT(Compare(UInt(UINT64_MAX), Value(1.8e19)), 0);
  EXPECT_LT(Compare(Value(1.5), Int(2)), 0);
  EXPECT_EQ(Compare(Int(2), Value(2.0)), 0);
  EXPECT_LT(Compare(Value(nan), Value(-std::numeric_limits<double>::infinity())), 0);
}

TEST(PlistValue, OrderingWithinAndAcrossKinds) {
  EXPECT_LT(Compare(Value("B"), Value("a")), 0);  // by code point
  EXPECT_GT(Compare(Value("\xC3\xA9"), Value("z")), 0);
  EXPECT_LT(CaseInsensitiveCompare(Value("a"), Value("B")), 0);
  EXPECT_EQ(CaseInsensitiveCompare(Value("STRASSE"), Value("stra\xC3\x9F"
                                                           "e")),
            0);
  EXPECT_LT(Compare(Value(false), Value(true)), 0);
  EXPECT_LT(Compare(Value(Date{-1}), Value(Date{0.5})), 0);
  EXPECT_LT(Compare(Value(Array{Int(1)}), Value(Array{Int(1), Int(0)})), 0);
  // Kinds never compare equal to one another, and order the same way both ways round.
  const Value kinds[] = {Value("s"),     Int(0),        Value(0.0),     Value(false),
                         Value(Date{0}), Value(Data{}), Value(Array{}), Value(Dictionary{})};
  for (const Value& a : kinds)
    for (const Value& b : kinds) {
      const bool numbers = (a.kind() == Value::Kind::kInteger || a.kind() == Value::Kind::kReal) &&
                           (b.kind() == Value::Kind::kInteger || b.kind() == Value::Kind::kReal);
      if (&a == &b || numbers) continue;
      EXPECT_NE(Compare(a, b), 0);
      EXPECT_EQ(Compare(a, b), -Compare(b, a));
      EXPECT_FALSE(a == b);
    }
}

TEST(PlistValue, DictionariesKeepInsertionOrderAndCompareRegardlessOfIt) {
  Dictionary d;
  d.Set("b", Int(1));
  d.Set("a", Int(2));
  d.Set("c", Int(3));
  d.Set("a", Value("x"));  // replaced in place
  ASSERT_EQ(d.size(), 3u);
  EXPECT_EQ(d.entries()[0].first, "b");
  EXPECT_EQ(d.entries()[1].first, "a");
  EXPECT_EQ(d.entries()[1].second, Value("x"));
  EXPECT_EQ(d.entries()[2].first, "c");
  ASSERT_NE(d.Find("c"), nullptr);
  EXPECT_EQ(*d.Find("c"), Int(3));
  EXPECT_EQ(d.Find("d"), nullptr);

  Dictionary e;
  e.Set("c", Value(3.0));
  e.Set("a", Value("x"));
  e.Set("b", Int(1));
  EXPECT_EQ(Value(d), Value(e));
  e.Set("b", Int(2));
  EXPECT_FALSE(Value(d) == Value(e));
  e.Set("b", Int(1));
  e.Set("z", Int(0));
  EXPECT_FALSE(Value(d) == Value(e));

  // A moved-from dictionary is empty and usable; copies are independent.
  Dictionary moved = std::move(d);
  Dictionary copy = d;  // NOLINT(bugprone-use-after-move)
  EXPECT_TRUE(copy.empty());
  d.Set("k", Int(1));
  EXPECT_EQ(d.size(), 1u);
  Dictionary other = moved;
  other.Set("b", Int(9));
  EXPECT_EQ(*moved.Find("b"), Int(1));
  EXPECT_EQ(*other.Find("b"), Int(9));
}

// Sizes around the switch to the hash index and through several of its rebuilds, with and
// without room made beforehand (then filled through Insert).
TEST(PlistValue, LargeDictionariesFindEveryKeyInOrder) {
  for (int n : {16, 17, 40, 3000}) {
    for (bool reserve : {false, true}) {
      Dictionary d;
      if (reserve) {
        // With room made, Insert's places stay put while the rest are added: filled last.
        d.Reserve(static_cast<std::size_t>(n));
        std::vector<Value*> places;
        for (int i = 0; i < n; ++i) places.push_back(d.Insert("k" + std::to_string(n - 1 - i)));
        EXPECT_EQ(d.Insert("k0"), nullptr);
        for (int i = 0; i < n; ++i) *places[static_cast<std::size_t>(i)] = Int(i);
      } else {
        for (int i = 0; i < n; ++i) d.Set("k" + std::to_string(n - 1 - i), Int(i));
      }
      for (int i = 0; i < n; i += 3) d.Set("k" + std::to_string(i), Value("again"));
      Dictionary copy;
      copy = d;
      d.Set("extra", Int(0));
      ASSERT_EQ(copy.size(), static_cast<std::size_t>(n));
      for (int i = 0; i < n; ++i) {
        EXPECT_EQ(copy.entries()[static_cast<std::size_t>(i)].first,
                  "k" + std::to_string(n - 1 - i));
        const Value* v = copy.Find("k" + std::to_string(i));
        ASSERT_NE(v, nullptr) << n << " " << i;
        EXPECT_EQ(*v, i % 3 == 0 ? Value("again") : Int(n - 1 - i));
      }
      EXPECT_EQ(copy.Find("k" + std::to_string(n)), nullptr);
      EXPECT_EQ(copy.Find("extra"), nullptr);
      EXPECT_NE(d.Find("extra"), nullptr);
      Dictionary moved = std::move(d);
      EXPECT_EQ(moved.size(), static_cast<std::size_t>(n) + 1);
      EXPECT_EQ(d.Find("k0"), nullptr);  // NOLINT(bugprone-use-after-move)
      d.Set("k0", Int(5));
      EXPECT_EQ(*d.Find("k0"), Int(5));
    }
  }
}

TEST(PlistValue, NestedContainersCompareElementwise) {
  Dictionary inner;
  inner.Set("k", Array{Int(1), Value("two")});
  Value a(Array{Value(inner), Value(Data{"\0\1"})});
  Value b = a;
  EXPECT_EQ(a, b);
  b.array()[0].dictionary().Find("k")->array()[1] = Value("Two");
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(Value(Array{Int(1), Int(2)}) == Value(Array{Int(2), Int(1)}));
}

}  // namespace
}  // namespace platform
