#include "platform/plist/file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/scratch_folder.h"

namespace platform {
namespace {

constexpr char kHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
    "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::string Xml(const std::string& body) {
  return kHead + body + "\n</plist>\n";
}

// Builds binary property lists object by object, hostile ones included.
class Bplist {
 public:
  // Appends an encoded object; returns its index.
  int Add(std::string bytes) {
    objects_.push_back(std::move(bytes));
    return static_cast<int>(objects_.size()) - 1;
  }
  void Set(int index, std::string bytes) {
    objects_[static_cast<std::size_t>(index)] = std::move(bytes);
  }
  static std::string Marker(int type, std::size_t count) {
    std::string m;
    if (count < 15) return std::string(1, static_cast<char>(type << 4 | static_cast<int>(count)));
    m += static_cast<char>(type << 4 | 0xF);
    m += '\x12';  // a 4-byte count
    return m + BigEndian(count, 4);
  }
  static std::string BigEndian(std::uint64_t v, int n) {
    std::string s(static_cast<std::size_t>(n), '\0');
    for (int i = n - 1; i >= 0; --i, v >>= 8) s[static_cast<std::size_t>(i)] = static_cast<char>(v);
    return s;
  }
  static std::string Ascii(const std::string& s) { return Marker(0x5, s.size()) + s; }
  static std::string Utf16(const std::u16string& s) {
    std::string out = Marker(0x6, s.size());
    for (char16_t c : s) out += BigEndian(c, 2);
    return out;
  }
  static std::string Int(int size_log2, std::uint64_t hi, std::uint64_t lo) {
    std::string out(1, static_cast<char>(0x10 | size_log2));
    if (size_log2 == 4) return out + BigEndian(hi, 8) + BigEndian(lo, 8);
    return out + BigEndian(lo, 1 << size_log2);
  }
  static std::string DoubleBits(char marker, double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return std::string(1, marker) + BigEndian(bits, 8);
  }
  static std::string Array(const std::vector<int>& refs) {
    std::string out = Marker(0xA, refs.size());
    for (int r : refs) out += BigEndian(static_cast<std::uint64_t>(r), 2);
    return out;
  }
  static std::string Dict(const std::vector<std::pair<int, int>>& entries) {
    std::string out = Marker(0xD, entries.size());
    for (auto& e : entries) out += BigEndian(static_cast<std::uint64_t>(e.first), 2);
    for (auto& e : entries) out += BigEndian(static_cast<std::uint64_t>(e.second), 2);
    return out;
  }

  std::string Build(int top = 0) const {
    std::string out = "bplist00";
    std::vector<std::uint64_t> offsets;
    for (const std::string& o : objects_) {
      offsets.push_back(out.size());
      out += o;
    }
    std::uint64_t table = out.size();
    for (std::uint64_t off : offsets) out += BigEndian(off, 4);
    out += std::string(6, '\0') + '\x04' + '\x02';  // 4-byte offsets, 2-byte references
    return out + BigEndian(objects_.size(), 8) + BigEndian(static_cast<std::uint64_t>(top), 8) +
           BigEndian(table, 8);
  }

 private:
  std::vector<std::string> objects_;
};

std::string Refused(const std::string& bytes) {
  std::string err;
  std::optional<Value> v = ParsePlist(bytes, &err);
  EXPECT_FALSE(v.has_value());
  EXPECT_FALSE(err.empty());
  return err;
}

Value Parsed(const std::string& bytes) {
  std::string err;
  std::optional<Value> v = ParsePlist(bytes, &err);
  EXPECT_TRUE(v.has_value()) << err;
  return v ? *v : Value();
}

const Value& At(const Value& dict, const char* key) {
  static const Value kMissing;
  const Value* v = dict.dictionary().Find(key);
  EXPECT_NE(v, nullptr) << key;
  return v ? *v : kMissing;
}

// Every kind and the values libplist 2.2 alone would lose, read from XML, written back in the
// exact layout, and read again to the same value.
TEST(PlistFile, XmlRoundTripKeepsEveryKindExactly) {
  const std::string body =
      "<dict>\n"
      "\t<key>zeta &amp; &lt;tag&gt;</key>\n\t<string>caf\xC3\xA9 \xF0\x9F\x98\x80 "
      "a&amp;b</string>\n"
      "\t<key>minus one</key>\n\t<integer>-1</integer>\n"
      "\t<key>max</key>\n\t<integer>18446744073709551615</integer>\n"
      "\t<key>min</key>\n\t<integer>-9223372036854775808</integer>\n"
      "\t<key>big</key>\n\t<integer>9223372036854775808</integer>\n"
      "\t<key>real</key>\n\t<real>0.1</real>\n"
      "\t<key>tiny</key>\n\t<real>5e-324</real>\n"
      "\t<key>inf</key>\n\t<real>-infinity</real>\n"
      "\t<key>nan</key>\n\t<real>nan</real>\n"
      "\t<key>old</key>\n\t<date>1900-01-01T00:00:00Z</date>\n"
      "\t<key>future</key>\n\t<date>2100-06-01T12:30:45Z</date>\n"
      "\t<key>first</key>\n\t<date>0000-01-01T00:00:00Z</date>\n"
      "\t<key>last</key>\n\t<date>9999-12-31T23:59:59Z</date>\n"
      "\t<key>yes</key>\n\t<true/>\n"
      "\t<key>no</key>\n\t<false/>\n"
      "\t<key>empty data</key>\n\t<data>\n\t</data>\n"
      "\t<key>data</key>\n\t<data>\n"
      "\tAAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEy\n"
      "\tMzQ1Njc4OTo7PD0+P0BBQkNE\n"
      "\t</data>\n"
      "\t<key>list</key>\n\t<array>\n\t\t<string></string>\n\t\t<array/>\n\t\t<dict/>\n"
      "\t\t<dict>\n\t\t\t<key>a</key>\n\t\t\t<integer>0</integer>\n\t\t</dict>\n\t</array>\n"
      "</dict>";
  Value v = Parsed(Xml(body));
  ASSERT_TRUE(v.IsDictionary());
  EXPECT_EQ(At(v, "zeta & <tag>").string(), "caf\xC3\xA9 \xF0\x9F\x98\x80 a&b");
  EXPECT_EQ(At(v, "minus one").integer().value, -1);
  EXPECT_FALSE(At(v, "minus one").integer().is_big_unsigned);
  EXPECT_TRUE(At(v, "max").integer().is_big_unsigned);
  EXPECT_EQ(static_cast<std::uint64_t>(At(v, "max").integer().value), UINT64_MAX);
  EXPECT_EQ(At(v, "min").integer().value, INT64_MIN);
  EXPECT_TRUE(At(v, "big").integer().is_big_unsigned);
  EXPECT_EQ(At(v, "tiny").real(), 5e-324);
  EXPECT_TRUE(std::isnan(At(v, "nan").real()));
  EXPECT_EQ(At(v, "old").date().seconds_since_2001, -3187296000.0);
  EXPECT_EQ(At(v, "future").date().seconds_since_2001, 3137229045.0);
  EXPECT_EQ(At(v, "empty data").data().bytes, "");
  std::string bytes;
  for (int i = 0; i < 69; ++i) bytes += static_cast<char>(i);
  EXPECT_EQ(At(v, "data").data().bytes, bytes);

  const std::string xml = PlistToXml(v);
  EXPECT_EQ(xml, Xml(body));
  EXPECT_EQ(Parsed(xml), v);
}

// XML readers turn a raw CR (and CR LF) into LF; a character reference keeps it.
TEST(PlistFile, CarriageReturnsSurviveAWrite) {
  Dictionary d;
  d.Set("key\r\n", Value("line\r\nnext\rlast\r"));
  const Value v(std::move(d));
  const std::string xml = PlistToXml(v);
  EXPECT_EQ(xml.find('\r'), std::string::npos);
  EXPECT_NE(xml.find("<key>key&#13;\n</key>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<string>line&#13;\nnext&#13;last&#13;</string>"), std::string::npos);
  EXPECT_EQ(Parsed(xml), v);
}

TEST(PlistFile, XmlTextFormsReadAsTheyMean) {
  Value v =
      Parsed(Xml("<array><integer>010</integer><integer> 0x1F </integer><integer>+5</integer>"
                 "<real>1E3</real><real>+inf</real><real>.5</real><real>1e999</real></array>"));
  const Array& a = v.array();
  EXPECT_EQ(a[0].integer().value, 10);  // decimal, though libplist reads it as octal
  EXPECT_EQ(a[1].integer().value, 31);
  EXPECT_EQ(a[2].integer().value, 5);
  EXPECT_EQ(a[3].real(), 1000.0);
  EXPECT_EQ(a[4].real(), std::numeric_limits<double>::infinity());
  EXPECT_EQ(a[5].real(), 0.5);
  EXPECT_EQ(a[6].real(), std::numeric_limits<double>::infinity());
  EXPECT_NE(PlistToXml(v).find("<integer>10</integer>"), std::string::npos);
}

TEST(PlistFile, KeyOrderByteOrderMarkAndMarkupAroundValues) {
  const std::string doc =
      "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
      "<!DOCTYPE plist [ <!ENTITY x \"<array>\"> ]>\n<!-- <array> -->\n"
      "<plist version=\"1.0\"><dict><key>b</key><string><![CDATA[<array>]]></string>"
      "<?pi <dict> ?><key>a</key><array><!-- <array> --></array><key>c</key><integer>1</integer>"
      "<key/><dict/><key><![CDATA[<k>]]>&amp;</key ><string/></dict></plist>";
  Value v = Parsed(doc);
  const auto& entries = v.dictionary().entries();
  ASSERT_EQ(entries.size(), 5u);
  EXPECT_EQ(entries[3].first, "");
  EXPECT_TRUE(entries[3].second.dictionary().empty());
  EXPECT_EQ(entries[4].first, "<k>&");
  EXPECT_EQ(entries[4].second, Value(""));
  EXPECT_EQ(entries[0].first, "b");
  EXPECT_EQ(entries[1].first, "a");
  EXPECT_EQ(entries[2].first, "c");
  EXPECT_EQ(entries[0].second.string(), "<array>");
  EXPECT_TRUE(entries[1].second.array().empty());
  const std::string xml = PlistToXml(v);
  EXPECT_LT(xml.find("<key>b</key>"), xml.find("<key>a</key>"));
  EXPECT_LT(xml.find("<key>a</key>"), xml.find("<key>c</key>"));
}

TEST(PlistFile, BinaryRoundTripKeepsWhatLibplistWouldLose) {
  Bplist b;
  int top = b.Add("");
  std::vector<std::pair<int, int>> entries;
  auto entry = [&](const std::string& key, std::string value) {
    entries.push_back({b.Add(Bplist::Ascii(key)), b.Add(std::move(value))});
  };
  entry("u8", Bplist::Int(0, 0, 200));
  entry("u16", Bplist::Int(1, 0, 65535));
  entry("u32", Bplist::Int(2, 0, 4294967295u));
  entry("minus one", Bplist::Int(3, 0, UINT64_MAX));
  entry("max", Bplist::Int(4, 0, UINT64_MAX));
  entry("minus five", Bplist::Int(4, UINT64_MAX, static_cast<std::uint64_t>(-5)));
  entry("float", "\x22" + Bplist::BigEndian(0x3FC00000, 4));  // 1.5f
  entry("double", Bplist::DoubleBits('\x23', 0.1));
  entry("1900", Bplist::DoubleBits('\x33', -3187296000.0));
  entry("2100", Bplist::DoubleBits('\x33', 3137229045.125));  // whole seconds, rounded down
  entry("-0.5", Bplist::DoubleBits('\x33', -0.5));
  entry("true", "\x09");
  entry("data", Bplist::Marker(0x4, 3) + std::string("\0\1\2", 3));
  entry("text", Bplist::Utf16(u"\u00e9\u2603\U0001F600"));
  // A dictionary referred to twice, and one string shared by two keys' values.
  int shared = b.Add(Bplist::Dict({{b.Add(Bplist::Ascii("k")), b.Add(Bplist::Ascii("v"))}}));
  int word = b.Add(Bplist::Ascii("same"));
  entries.push_back({b.Add(Bplist::Ascii("x")), shared});
  entries.push_back({b.Add(Bplist::Ascii("y")), b.Add(Bplist::Array({shared, word, shared}))});
  entries.push_back({b.Add(Bplist::Ascii("z")), word});
  b.Set(top, Bplist::Dict(entries));

  Value v = Parsed(b.Build(top));
  ASSERT_TRUE(v.IsDictionary());
  ASSERT_EQ(v.dictionary().size(), entries.size());
  EXPECT_EQ(v.dictionary().entries()[0].first, "u8");
  EXPECT_EQ(At(v, "u8").integer().value, 200);
  EXPECT_EQ(At(v, "u32").integer().value, 4294967295);
  EXPECT_EQ(At(v, "minus one").integer().value, -1);
  EXPECT_FALSE(At(v, "minus one").integer().is_big_unsigned);
  EXPECT_TRUE(At(v, "max").integer().is_big_unsigned);
  EXPECT_EQ(At(v, "minus five").integer().value, -5);
  EXPECT_EQ(At(v, "float").real(), 1.5);
  EXPECT_EQ(At(v, "1900").date().seconds_since_2001, -3187296000.0);
  EXPECT_EQ(At(v, "2100").date().seconds_since_2001, 3137229045.0);
  EXPECT_EQ(At(v, "-0.5").date().seconds_since_2001, -1.0);
  EXPECT_EQ(At(v, "data").data().bytes, std::string("\0\1\2", 3));
  EXPECT_EQ(At(v, "text").string(), "\xC3\xA9\xE2\x98\x83\xF0\x9F\x98\x80");
  EXPECT_EQ(At(v, "y").array()[2], At(v, "x"));
  EXPECT_EQ(At(v, "z").string(), "same");

  const std::string xml = PlistToXml(v);
  EXPECT_NE(xml.find("<integer>-1</integer>"), std::string::npos);
  EXPECT_NE(xml.find("<integer>18446744073709551615</integer>"), std::string::npos);
  EXPECT_NE(xml.find("<date>1900-01-01T00:00:00Z</date>"), std::string::npos);
  EXPECT_NE(xml.find("<date>2100-06-01T12:30:45Z</date>"), std::string::npos) << xml;
  EXPECT_NE(xml.find("<date>2000-12-31T23:59:59Z</date>"), std::string::npos) << xml;
  EXPECT_EQ(Parsed(xml), v);
}

std::string NestedXml(int depth, const char* open, const char* close, const char* inner) {
  std::string s = kHead;
  for (int i = 0; i < depth - 1; ++i) s += open;
  s += inner;
  for (int i = 0; i < depth - 1; ++i) s += close;
  return s + "</plist>\n";
}

TEST(PlistFile, XmlNestingDeeperThan512IsRefusedBeforeLibplist) {
  Value ok = Parsed(NestedXml(512, "<array>", "</array>", "<array/>"));
  Value* inner = &ok;
  int depth = 1;
  while (!inner->array().empty()) inner = &inner->array()[0], ++depth;
  EXPECT_EQ(depth, 512);
  EXPECT_EQ(Parsed(PlistToXml(ok)), ok);
  Parsed(NestedXml(512, "<dict><key>k</key>", "</dict>", "<dict/>"));

  for (int depth : {513, 100000}) {
    EXPECT_NE(Refused(NestedXml(depth, "<array>", "</array>", "<array/>")).find("deeper than 512"),
              std::string::npos);
    EXPECT_NE(Refused(NestedXml(depth, "<dict><key>k</key>", "</dict>", "<array></array>"))
                  .find("deeper than 512"),
              std::string::npos);
  }
}

// `depth` arrays, each holding the next; the innermost is empty.
std::string NestedBinary(int depth) {
  Bplist b;
  for (int i = 0; i < depth - 1; ++i) b.Add(Bplist::Array({i + 1}));
  b.Add(Bplist::Array({}));
  return b.Build();
}

TEST(PlistFile, BinaryNestingDeeperThan512IsRefusedBeforeLibplist) {
  Value ok = Parsed(NestedBinary(512));
  EXPECT_EQ(Parsed(PlistToXml(ok)), ok);
  EXPECT_NE(Refused(NestedBinary(513)).find("deeper than 512"), std::string::npos);
  EXPECT_NE(Refused(NestedBinary(100000)).find("deeper than 512"), std::string::npos);
}

TEST(PlistFile, HostileBinaryFilesAreRefused) {
  auto one = [](std::string object) {
    Bplist b;
    b.Add(Bplist::Array({1}));
    b.Add(std::move(object));
    return b.Build();
  };
  EXPECT_NE(Refused(one(Bplist::Utf16(u"a\xD800"))).find("surrogate"), std::string::npos);
  EXPECT_NE(Refused(one(Bplist::Ascii(std::string("a\0b", 3)))).find("zero"), std::string::npos);
  EXPECT_NE(Refused(one(Bplist::Int(4, 1, 0))).find("integer"), std::string::npos);
  // Characters XML cannot carry: the file could not be written back faithfully.
  EXPECT_NE(Refused(one(Bplist::Ascii("a\x01"))).find("U+0001, a character XML cannot carry"),
            std::string::npos);
  EXPECT_NE(Refused(one(Bplist::Utf16(u"\x1F"))).find("U+001F"), std::string::npos);
  EXPECT_NE(Refused(one(Bplist::Utf16(u"\uFFFE"))).find("U+FFFE"), std::string::npos);
  EXPECT_NE(Refused(one(Bplist::Utf16(u"a\uFFFF"))).find("U+FFFF"), std::string::npos);
  // An "ASCII" string whose bytes above ASCII are the UTF-8 of a character XML cannot carry.
  EXPECT_NE(Refused(one(Bplist::Ascii("a\xEF\xBF\xBF"))).find("U+FFFF"), std::string::npos);
  EXPECT_NE(Refused(one(Bplist::Ascii("\xC2\x80\xEF\xBF\xBE"))).find("U+FFFE"), std::string::npos);
  EXPECT_NE(Refused(one(Bplist::Ascii("a\xFF"))).find("not valid UTF-8"), std::string::npos);
  EXPECT_EQ(Parsed(one(Bplist::Ascii("caf\xC3\xA9"))), Value(Array{"caf\xC3\xA9"}));
  Bplist control_key;
  control_key.Add(Bplist::Dict({{1, 2}}));
  control_key.Add(Bplist::Ascii("k\x08"));
  control_key.Add(Bplist::Ascii("v"));
  EXPECT_NE(Refused(control_key.Build()).find("U+0008"), std::string::npos);
  EXPECT_EQ(Parsed(one(Bplist::Utf16(u"\t\n\r\uFFFD"))), Value(Array{"\t\n\r\xEF\xBF\xBD"}));
  EXPECT_NE(Refused(one(Bplist::DoubleBits('\x33', 1e300))).find("date"), std::string::npos);
  EXPECT_NE(Refused(one(Bplist::DoubleBits('\x33', NAN))).find("date"), std::string::npos);
  Refused(one(std::string(1, '\0')));                           // null
  Refused(one("\x80\x01"));                                     // UID
  Refused(one(Bplist::Marker(0x4, 1000) + "x"));                // data longer than the file
  Refused(one("\x4F\x13" + Bplist::BigEndian(UINT64_MAX, 8)));  // a count near 2^64
  Refused(one(Bplist::Array({7})));                             // a reference out of range

  Bplist cycle;
  cycle.Add(Bplist::Array({1}));
  cycle.Add(Bplist::Array({0}));
  EXPECT_NE(Refused(cycle.Build()).find("contains itself"), std::string::npos);

  // Twenty-four levels of [x, x] would expand to 2^24 copies in libplist.
  Bplist laugh;
  for (int i = 0; i < 24; ++i) laugh.Add(Bplist::Array({i + 1, i + 1}));
  laugh.Add(Bplist::Ascii("leaf"));
  EXPECT_NE(Refused(laugh.Build()).find("shared"), std::string::npos);

  Bplist keys;
  keys.Add(Bplist::Dict({{1, 2}, {1, 3}}));
  keys.Add(Bplist::Ascii("k"));
  keys.Add(Bplist::Int(0, 0, 1));
  keys.Add(Bplist::Int(0, 0, 2));
  EXPECT_NE(Refused(keys.Build()).find("twice"), std::string::npos);
  keys.Set(0, Bplist::Dict({{2, 1}}));
  EXPECT_NE(Refused(keys.Build()).find("key"), std::string::npos);

  std::string file = one(Bplist::Ascii("x"));
  Refused(file.substr(0, file.size() - 1));  // trailer cut short
  file[file.size() - 26] = 9;                // references of 9 bytes
  Refused(file);
  Refused("bplist01" + file.substr(8));
}

// Where the offset table starts, from a file's trailer.
std::size_t TableStart(const std::string& file) {
  std::size_t table = 0;
  for (std::size_t i = file.size() - 8; i < file.size(); ++i)
    table = table << 8 | static_cast<unsigned char>(file[i]);
  return table;
}

// Objects end where the offset table starts. And where a file has a fault in its structure and
// one in a value (a key given twice, bytes that are not UTF-8), the structural one is named,
// wherever it lies.
TEST(PlistFile, BinaryObjectsEndAtTheOffsetTableAndStructuralFaultsComeFirst) {
  // [object 1], the last object before the table, whose bytes `patch` may then change.
  auto array_of = [](std::string last, const std::function<void(std::string*)>& patch = {}) {
    Bplist b;
    b.Add(Bplist::Array({1}));
    b.Add(std::move(last));
    std::string file = b.Build();
    if (patch) patch(&file);
    return file;
  };
  auto marker = [](char m) {  // the last object, 4 bytes long, gets a new marker
    return [m](std::string* f) { (*f)[TableStart(*f) - 4] = m; };
  };
  Bplist twice;
  twice.Add(Bplist::Dict({{1, 2}, {1, 3}}));
  twice.Add(Bplist::Ascii("k"));
  twice.Add(Bplist::Ascii("v"));
  twice.Add(Bplist::Ascii(std::string("a\0b", 3)));
  Bplist bad_key;
  bad_key.Add(Bplist::Dict({{1, 2}}));
  bad_key.Add(Bplist::Ascii("k\xC3"));
  bad_key.Add(Bplist::Ascii("v"));
  Bplist bad_text;
  bad_text.Add(Bplist::Array({1, 7}));
  bad_text.Add(Bplist::Ascii("\xFF"));

  struct Case {
    const char* what;
    std::string file;
    const char* refusal;  // a part of the reason; null: read, to `value`
    Value value;
  };
  const Case cases[] = {
      {"data ending where the table starts", array_of(Bplist::Marker(0x4, 3) + "xyz"), nullptr,
       Value(Array{Value(Data{"xyz"})})},
      {"a string running into the table",
       array_of(Bplist::Ascii("abc"), marker('\x54')),
       "larger than the file",
       {}},
      {"an integer cut short by the table",
       array_of(Bplist::Ascii("abc"), marker('\x13')),
       "truncated",
       {}},
      {"references running into the table",
       array_of(Bplist::Ascii("abc"), marker('\xA2')),
       "larger than the file",
       {}},
      {"an object starting in the table",
       array_of(Bplist::Ascii("abc"),
                [](std::string* f) {
                  const std::size_t table = TableStart(*f);
                  (*f)[table + 7] = static_cast<char>(table);  // object 1's 4-byte offset
                }),
       "offset out of range",
       {}},
      {"a key twice, then a zero", twice.Build(), "zero", {}},
      {"a key that is not UTF-8", bad_key.Build(), "a key that is not valid UTF-8", {}},
      {"a string that is not UTF-8, then a bad reference", bad_text.Build(), "reference", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.refusal == nullptr) {
      EXPECT_EQ(Parsed(c.file), c.value);
    } else {
      EXPECT_NE(Refused(c.file).find(c.refusal), std::string::npos) << Refused(c.file);
    }
  }
}

TEST(PlistFile, MalformedXmlIsRefused) {
  const char* bodies[] = {
      "<data>QUJD$$RA==</data>",  // libplist decodes bad base64 silently
      "<data>QQ</data>",          // unpadded: libplist gives no bytes
      "<data>QQ==QQ==</data>",    // padding in the middle
      "<integer>18446744073709551616</integer>",
      "<integer>-9223372036854775809</integer>",
      "<integer>12abc</integer>",
      "<integer/>",
      "<real>1.5x</real>",
      "<real>0x1p3</real>",
      "<date>2001-02-29T00:00:00Z</date>",
      "<date>2001-01-01T00:00:00+01:00</date>",
      "<date>2001-01-01 00:00:00Z</date>",
      "<dict><key>a</key></dict>",
      "<dict><key>a</key><key>b</key><true/></dict>",
      "<dict><string>a</string></dict>",
      "<dict><key>a</key><true/><key>a</key><false/></dict>",  // libplist keeps the last
      "<array><key>a</key></array>",                           // libplist reads it as a string
      "<string>a</string><string>b</string>",
      "<foo/>",
      "<string x=\"1\">a</string>",
      "<string>a<b/>c</string>",
      "<array><string>\xFF</string></array>",
      "<string>&#xD800;</string>",
      "<array>",
      "<array><!-- </array>",
      "<array/><?-p?>",
      "",
  };
  for (const char* body : bodies) Refused(Xml(body));
  EXPECT_NE(Refused(Xml(std::string("<string>a\0b</string>", 20))).find("zero byte"),
            std::string::npos);
  Refused("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><plist><string>\xE9</string></plist>");
  // Document type declarations: well-formed ones are read (and not kept), others refused.
  for (const char* doctype : {"<!DOCTYPE plist>",
                              "<!DOCTYPE plist SYSTEM 'x.dtd' [ <!-- it's ] -->"
                              "<?p ]?> <!ENTITY a \"]\"> ]>"})
    EXPECT_EQ(Parsed(doctype + std::string("<plist><true/></plist>")), Value(true));
  for (const char* doctype :
       {"<!DOCTYPE plist PU]BLIC \"x\">", "<!DOCTYPE plist PUBLIC \"a{b\" \"x\">",
        "<!DOCTYPE plist PUBLIC \"a\">", "<!DOCTYPE plist SYSTEM \"x\"\"y\">", "<!DOCTYPE>",
        "<!DOCTYPE plist [ <!ENTITY a 'x'> ", "<!DOCTYPE a><!DOCTYPE a>", "<!ELEMENT a ANY>",
        "<!DOCTYPE plist PUBLIC \"a\tb\" \"x\">"})
    EXPECT_NE(Refused(doctype + std::string("<plist><true/></plist>")).find("declaration"),
              std::string::npos)
        << doctype;
  Refused("");
  Refused("\xEF\xBB\xBF");
  Refused("hello");
}

TEST(PlistFile, IsPlistStringTellsWhatSurvivesAWrite) {
  EXPECT_TRUE(IsPlistString("caf\xC3\xA9 \t\r\n <&> \xEF\xBF\xBD \xF4\x8F\xBF\xBF"));
  for (std::string bad : {std::string("a\0b", 3), std::string("\x01"), std::string("a\x1F"),
                          std::string("\x7F\xEF\xBF\xBE"), std::string("\xEF\xBF\xBF"),
                          std::string("\xC3"), std::string("\xED\xA0\x80")})  // last: a surrogate
    EXPECT_FALSE(IsPlistString(bad)) << bad;
}

// The same values either way; under LeakSanitizer a kept tree is no leak.
TEST(PlistFile, ReaderTreeKeptUntilExitGivesTheSameValue) {
  const std::string xml = Xml("<dict><key>a</key><array><string>x</string><dict/></array></dict>");
  Bplist b;
  b.Add(Bplist::Array({1, 1}));
  b.Add(Bplist::Ascii("shared"));
  for (const std::string& file : {xml, b.Build()}) {
    std::string err;
    std::optional<Value> kept = ParsePlist(file, &err, ReaderTree::kKeepUntilExit);
    ASSERT_TRUE(kept) << err;
    EXPECT_EQ(*kept, Parsed(file));
  }
}

TEST(PlistFile, RootNeedNotBeADictionary) {
  EXPECT_EQ(Parsed(Xml("<string>x</string>")), Value("x"));
  EXPECT_EQ(Parsed("<plist><array/></plist>"), Value(Array{}));
  EXPECT_EQ(PlistToXml(Value(Integer::FromSigned(-7))), Xml("<integer>-7</integer>"));
}

TEST(PlistFile, ReadPlistFileReportsThePathAndRefuses4GiB) {
  const test_support::ScratchFolder dir("plist_file_test");
  const std::string good = dir.File("good.plist"), big = dir.File("big.plist");
  std::ofstream(good) << Xml("<dict><key>k</key><string>v</string></dict>");
  std::string err;
  std::optional<Value> v = ReadPlistFile(good, &err);
  ASSERT_TRUE(v) << err;
  EXPECT_EQ(At(*v, "k"), Value("v"));

  EXPECT_FALSE(ReadPlistFile(dir.File("missing"), &err));
  EXPECT_NE(err.find("/missing"), std::string::npos);
  // A sparse file: refused by its size, never read.
  ASSERT_EQ(truncate(good.c_str(), 0), 0);
  std::ofstream(big).close();
  ASSERT_EQ(truncate(big.c_str(), std::int64_t{1} << 32), 0);
  EXPECT_FALSE(ReadPlistFile(big, &err));
  EXPECT_NE(err.find("4 GiB"), std::string::npos) << err;
  EXPECT_FALSE(ReadPlistFile(good, &err));  // empty
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// A document names other files and hosts in vain: nothing but the file is read (a DTD or an
// entity that were would refuse it, being malformed), entities that expand without end are
// refused at once, and a CDATA section's line ends read as LF.
TEST(PlistFile, NothingButTheFileIsRead) {
  const test_support::ScratchFolder dir("plist_file_external");
  const std::string bad = dir.File("bad.dtd");
  std::ofstream(bad) << "<!ELEMENT oops this is not a DTD";
  const std::string body = "<plist><string>v</string></plist>";
  for (const std::string& doctype :
       {"<!DOCTYPE plist SYSTEM \"" + bad + "\">", "<!DOCTYPE plist SYSTEM \"file://" + bad + "\">",
        "<!DOCTYPE plist [<!ENTITY % p SYSTEM \"" + bad + "\"> %p;]>",
        std::string("<!DOCTYPE plist SYSTEM \"http://127.0.0.1:9/x.dtd\">")})
    EXPECT_EQ(Parsed(doctype + body), Value("v")) << doctype;
  // An external entity used in the text is an entity like any other: refused, never read.
  EXPECT_NE(Refused("<!DOCTYPE plist [<!ENTITY e SYSTEM \"" + bad +
                    "\">]><plist><string>&e;</string></plist>")
                .find("the entity &e;"),
            std::string::npos);

  std::string entities = "<!ENTITY a0 \"lollollollol\">";
  for (int i = 1; i < 12; ++i) {
    std::string refs;
    for (int j = 0; j < 10; ++j) refs += "&a" + std::to_string(i - 1) + ";";
    entities += "<!ENTITY a" + std::to_string(i) + " \"" + refs + "\">";
  }
  for (const std::string& use : {std::string("<plist><string>&a11;</string></plist>"),
                                 std::string("<plist v=\"&a11;\"><string>x</string></plist>")})
    Refused("<!DOCTYPE plist [" + entities + "]>" + use);
  Refused("<!DOCTYPE plist [" + entities + "<!ATTLIST plist v CDATA \"&a11;\">]>" + body);

  EXPECT_EQ(Parsed("<plist><string><![CDATA[a\r\nb\rc]]>&#13;\r\n</string></plist>"),
            Value("a\nb\nc\r\n"));
}

}  // namespace
}  // namespace platform

namespace platform {
namespace {

// Read a block at a time, a large file gives what it gives read whole: the same value, or the
// same refusal and reason, whatever the size of the reads.
TEST(PlistFile, ReadInBlocksAsReadWhole) {
  std::string entries;
  for (int i = 0; i < 5000; ++i)
    entries += "<key>k" + std::to_string(i) + "</key><string>caf\xC3\xA9 \xF0\x9F\x98\x80 " +
               std::to_string(i) + "</string>\n";
  const std::string big = Xml("<dict>" + entries + "<key>last</key><integer>7</integer></dict>");
  ASSERT_GT(big.size(), 200000u);
  std::vector<std::string> files = {
      big,
      "\xEF\xBB\xBF" + big,
      big.substr(0, big.size() - 1) + "\xC3",               // cut short at the end
      big.substr(0, 150000) + "\x01" + big.substr(150001),  // a control character late
      big.substr(0, 150000) + "\xFF" + big.substr(150001),  // not UTF-8, late
      big.substr(0, big.size() - 30) + "&bogus;" + big.substr(big.size() - 30),
      "<?xml version=\"1.0\" encoding=\"us-ascii\"?>" + big.substr(big.find("<!DOCTYPE")),
      "<?xml version=\"1.0\" encoding=\"latin1\"?>" + big.substr(big.find("<!DOCTYPE")),
  };
  for (std::size_t f = 0; f < files.size(); ++f) {
    const std::string& file = files[f];
    std::string whole_err;
    const std::optional<Value> whole = ParsePlist(file, &whole_err);
    EXPECT_EQ(whole.has_value(), f < 2) << f << ": " << whole_err;
    for (std::size_t limit : {std::size_t{1} << 20, std::size_t{4093}, std::size_t{7}}) {
      auto read = [&](std::uint64_t offset, char* buf, std::size_t size) -> long {
        if (offset >= file.size()) return 0;
        const std::size_t n = std::min({size, limit, file.size() - offset});
        std::memcpy(buf, file.data() + offset, n);
        return static_cast<long>(n);
      };
      std::string err;
      const std::optional<Value> blocks = ReadPlistFrom(read, file.size(), &err);
      ASSERT_EQ(blocks.has_value(), whole.has_value()) << f << " " << limit << ": " << err;
      if (whole) {
        EXPECT_EQ(*blocks, *whole);
      } else {
        EXPECT_EQ(err, whole_err) << f << " " << limit;
      }
    }
  }
  // A read that fails says so.
  std::string err;
  EXPECT_FALSE(
      ReadPlistFrom([](std::uint64_t, char*, std::size_t) -> long { return -1; }, 10, &err));
  EXPECT_EQ(err, "cannot read the file");
}

}  // namespace
}  // namespace platform
