#include "utility/qrb_array.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using platform::Array;
using platform::Dictionary;
using platform::Integer;
using platform::Value;

Value Int(std::int64_t i) {
  return Value(Integer::FromSigned(i));
}

Value Dict(std::initializer_list<std::pair<const char*, Value>> entries) {
  Dictionary d;
  for (const auto& [k, v] : entries) d.Set(k, v);
  return Value(std::move(d));
}

// The "id" of each element (or "-" where there is none), to show an order at a glance.
std::string Ids(const Array& a) {
  std::string out;
  for (const Value& v : a) {
    const Value* id = v.IsDictionary() ? v.dictionary().Find("id") : nullptr;
    out += id != nullptr ? id->string() : "-";
  }
  return out;
}

TEST(ObjectWithValue, FirstEqualElementOrNothing) {
  EXPECT_EQ(QRBArray::objectWithValue({}, "-i"), nullptr);
  const Array args = {"/usr/libexec/tftpd", "-i", "-l", "-i", "/private/tftpboot"};
  EXPECT_EQ(QRBArray::objectWithValue(args, "-s"), nullptr);
  EXPECT_EQ(QRBArray::objectWithValue(args, "-I"), nullptr);  // case matters
  // The lower of two equal elements, as a pointer into the receiver.
  EXPECT_EQ(QRBArray::objectWithValue(args, "-i"), &args[1]);

  // Numbers equal by value across integer and real; booleans equal only booleans; a NaN
  // in front does not stand in for the number searched.
  const Array mixed = {true, Value(std::nan("")), Value(2.0), Int(1)};
  EXPECT_EQ(QRBArray::objectWithValue(mixed, Int(2)), &mixed[2]);
  EXPECT_EQ(QRBArray::objectWithValue(mixed, Int(1)), &mixed[3]);
  EXPECT_EQ(QRBArray::objectWithValue(mixed, Value(std::nan(""))), &mixed[1]);
  // Arrays and dictionaries compare by contents, dictionaries regardless of key order.
  const Array nested = {Array{"a"}, Dict({{"x", "1"}, {"y", "2"}})};
  EXPECT_EQ(QRBArray::objectWithValue(nested, Dict({{"y", "2"}, {"x", "1"}})), &nested[1]);
  EXPECT_EQ(QRBArray::objectWithValue(nested, Array{"a"}), &nested[0]);
}

TEST(ObjectWithValueForKey, OnlyDictionariesHoldingTheKeyMatch) {
  const Array records = {
      "name",                     // a string that happens to equal the key
      Array{"name", "tftp"},      // an array holding key and value
      Dict({{"other", "tftp"}}),  // a dictionary without the key
      Dict({{"id", "a"}, {"name", "TFTP"}}),
      Dict({{"id", "b"}, {"name", "tftp"}}),
      Dict({{"id", "c"}, {"name", "tftp"}}),
  };
  EXPECT_EQ(QRBArray::objectWithValueForKey(records, "tftp", "name"), &records[4]);
  EXPECT_EQ(QRBArray::objectWithValueForKey(records, "ftp", "name"), nullptr);
  EXPECT_EQ(QRBArray::objectWithValueForKey({}, "tftp", "name"), nullptr);
  // A dictionary without the key is not found whatever is searched, the empty value too.
  EXPECT_EQ(QRBArray::objectWithValueForKey(records, Value(), "missing"), nullptr);
  EXPECT_EQ(QRBArray::objectWithValueForKey(records, Value(), ""), nullptr);

  // All matches in the receiver's order, a repeated element listed each time; none: nothing.
  Array twice = records;
  twice.push_back(records[4]);
  auto all = QRBArray::objectsWithValueForKey(twice, "tftp", "name");
  ASSERT_TRUE(all);
  EXPECT_EQ(Ids(*all), "bcb");
  EXPECT_EQ(QRBArray::objectsWithValueForKey(records, "ftp", "name"), std::nullopt);
  EXPECT_EQ(QRBArray::objectsWithValueForKey({}, "tftp", "name"), std::nullopt);
}

TEST(SortedDictionaries, CopiesWhenThereIsNothingToSortBy) {
  const Array records = {Dict({{"id", "b"}, {"n", Int(2)}}), "loose",
                         Dict({{"id", "a"}, {"n", Int(1)}})};
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(records, "", -1)), "b-a");
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(records, "absent", -1)), "b-a");
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(records, "absent", 1)), "b-a");
  EXPECT_TRUE(QRBArray::sortedDictionariesUsingKey({}, "n", -1).empty());
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(records, "n", -1)), "-ab");
}

TEST(SortedDictionaries, DirectionAndComparisonFollowTheFirstValue) {
  // Strings first: case is ignored, so "abc" and "ABC" tie and keep their order both ways.
  const Array names = {Dict({{"id", "1"}, {"k", "beta"}}), Dict({{"id", "2"}, {"k", "abc"}}),
                       Dict({{"id", "3"}, {"k", "Alpha"}}), Dict({{"id", "4"}, {"k", "ABC"}}),
                       Dict({{"id", "5"}, {"k", "\xC3\x84rger"}})};  // Ärger after ASCII
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(names, "k", -1)), "24315");
  for (long descending : {0L, 1L, 2L, -2L})
    EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(names, "k", descending)), "51324")
        << descending;

  // Numbers first: compared by value across integers and reals, so "10" follows "9".
  const Array numbers = {Dict({{"id", "a"}, {"k", Int(10)}}), Dict({{"id", "b"}, {"k", 9.5}}),
                         Dict({{"id", "c"}, {"k", Int(-3)}}), Dict({{"id", "d"}, {"k", 9.5}})};
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(numbers, "k", -1)), "cbda");
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(numbers, "k", 1)), "abdc");
}

TEST(SortedDictionaries, MissingValuesAndOtherKindsHaveAPlace) {
  // Elements without the key (or not dictionaries) come first ascending, last descending,
  // in their own order; a value of another kind than the first orders by kind (strings
  // before numbers) rather than failing.
  const Array records = {Dict({{"id", "a"}, {"k", "b"}}),    Dict({{"id", "m"}}),
                         Dict({{"id", "n"}, {"k", Int(1)}}), "loose",
                         Dict({{"id", "c"}, {"k", "A"}}),    Dict({{"id", "o"}, {"k", true}})};
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(records, "k", -1)), "m-cano");
  EXPECT_EQ(Ids(QRBArray::sortedDictionariesUsingKey(records, "k", 1)), "onacm-");
}

}  // namespace
