#include "utility/qrb_string.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "tests/scratch_folder.h"

namespace {

using Lines = std::vector<std::string>;

class QRBStringFileTest : public ::testing::Test {
 protected:
  void TearDown() override { MacOSXVersion = 0; }
  std::string Put(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_.File(name), std::ios::binary) << bytes;
    return dir_.File(name);
  }
  std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  const test_support::ScratchFolder dir_{"qrb_string_test"};
};

const std::string kText = "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9F\x98\x80";  // "héllo € 😀"
// The same text in UTF-16 (the emoji as a surrogate pair), without a byte order mark.
const std::string kUtf16LE("h\0\xE9\0l\0l\0o\0 \0\xAC\x20 \0\x3D\xD8\x00\xDE", 20);
const std::string kUtf16BE("\0h\0\xE9\0l\0l\0o\0 \x20\xAC\0 \xD8\x3D\xDE\x00", 20);

TEST_F(QRBStringFileTest, OlderReadFollowsTheByteOrderMark) {
  for (std::int32_t version : {0, 0x103F}) {
    SCOPED_TRACE(version);
    MacOSXVersion = version;
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("le", "\xFF\xFE" + kUtf16LE)), kText);
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("be", "\xFE\xFF" + kUtf16BE)), kText);
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("u8", "\xEF\xBB\xBF" + kText)), kText);
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("plain", kText)), kText);
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("empty", "")), "");
    // Latin-1 without a mark, odd UTF-16, a lone high surrogate: not text.
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("latin1", "caf\xE9")), std::nullopt);
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("odd",
                                                   "\xFF\xFE"
                                                   "a\0b")),
              std::nullopt);
    EXPECT_EQ(QRBString::stringReadingFromFile(Put("lone", std::string("\xFF\xFE\x3D\xD8"
                                                                       "a\0",
                                                                       6))),
              std::nullopt);
  }
}

TEST_F(QRBStringFileTest, NewerReadTakesOnlyUtf8) {
  MacOSXVersion = 0x1040;
  EXPECT_EQ(QRBString::stringReadingFromFile(Put("le", "\xFF\xFE" + kUtf16LE)), std::nullopt);
  EXPECT_EQ(QRBString::stringReadingFromFile(Put("be", "\xFE\xFF" + kUtf16BE)), std::nullopt);
  EXPECT_EQ(QRBString::stringReadingFromFile(Put("latin1", "caf\xE9")), std::nullopt);
  // The mark is dropped, not kept as U+FEFF; one further down is text and stays.
  EXPECT_EQ(QRBString::stringReadingFromFile(Put("u8",
                                                 "\xEF\xBB\xBF"
                                                 "a\xEF\xBB\xBF")),
            "a\xEF\xBB\xBF");
  EXPECT_EQ(QRBString::stringReadingFromFile(Put("nul", std::string("a\0b", 3))),
            std::string("a\0b", 3));
  std::string err;
  EXPECT_EQ(QRBString::stringReadingFromFile(dir_.File("missing"), &err), std::nullopt);
  EXPECT_FALSE(err.empty());
}

TEST_F(QRBStringFileTest, WritesUtf8AtomicallyOnEitherPath) {
  for (std::int32_t version : {0, 0x103F, 0x1040}) {
    SCOPED_TRACE(version);
    MacOSXVersion = version;
    std::string path = Put("out", "old");
    ASSERT_TRUE(QRBString::writeToPath(kText, path));
    EXPECT_EQ(Get(path), kText);
    EXPECT_EQ(QRBString::stringReadingFromFile(path), kText);
    // Bytes that are not UTF-8 are refused and the file stays as it was.
    std::string err;
    EXPECT_FALSE(QRBString::writeToPath("caf\xE9", path, &err));
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(Get(path), kText);
  }
  EXPECT_FALSE(QRBString::writeToPath("x", dir_.File("no/such/folder/file")));
}

TEST(QRBStringMacRoman, EncodedReadsUtf8BytesAsMacRoman) {
  // "é" is C3 A9: √ and ©. U+06C0 is DB 80: the euro sign and Ä. U+10000 is F0 90 80 80:
  // the Apple logo U+F8FF, ê, Ä, Ä.
  EXPECT_EQ(QRBString::macEncodedString("\xC3\xA9"), "\xE2\x88\x9A\xC2\xA9");
  EXPECT_EQ(QRBString::macEncodedString("\xDB\x80"), "\xE2\x82\xAC\xC3\x84");
  EXPECT_EQ(QRBString::macEncodedString("\xF0\x90\x80\x80"),
            "\xEF\xA3\xBF\xC3\xAA\xC3\x84\xC3\x84");
  EXPECT_EQ(QRBString::macEncodedString(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(QRBString::macEncodedString("caf\xE9"), std::nullopt);
}

TEST(QRBStringMacRoman, DecodedIsTheInverse) {
  for (std::string s : {std::string("plain"), kText, std::string("\xDB\x80\xC3\xA9\0z", 6)}) {
    auto encoded = QRBString::macEncodedString(s);
    ASSERT_TRUE(encoded);
    EXPECT_EQ(QRBString::macDecodedString(*encoded), s);
  }
}

TEST(QRBStringMacRoman, DecodedIsNullWhenNotPossible) {
  EXPECT_EQ(QRBString::macDecodedString("\xE2\x82\xAC"), std::nullopt);  // € is DB: not UTF-8
  EXPECT_EQ(QRBString::macDecodedString("\xC5\x82"), std::nullopt);      // ł: not Mac OS Roman
  EXPECT_EQ(QRBString::macDecodedString("\xE6\xBC\xA2"), std::nullopt);  // 漢
  EXPECT_EQ(QRBString::macDecodedString("caf\xE9"), std::nullopt);       // not UTF-8 at all
}

TEST(QRBStringMacRoman, DecomposedLettersAreComposedFirst) {
  // "Àé" is CB 8E in Mac OS Roman, the UTF-8 form of U+02CE; decomposed it gives the same.
  EXPECT_EQ(QRBString::macDecodedString("\xC3\x80\xC3\xA9"), "\xCB\x8E");
  EXPECT_EQ(QRBString::macDecodedString("A\xCC\x80"
                                        "e\xCC\x81"),
            "\xCB\x8E");
}

TEST(QRBStringMd5, UpperCaseHexOfTheBytesUpToAZero) {
  EXPECT_EQ(QRBString::md5Hash(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(QRBString::md5Hash("abc"), "900150983CD24FB0D6963F7D28E17F72");
  EXPECT_EQ(QRBString::md5Hash("The quick brown fox jumps over the lazy dog"),
            "9E107D9D372BB6826BD81D3542A419D6");
  EXPECT_EQ(QRBString::md5Hash("\xC3\xA9"), "66DDCD97CFDEABB2F6FB8A999B4BC76F");
  EXPECT_EQ(QRBString::md5Hash(std::string("abc\0def", 7)), QRBString::md5Hash("abc"));
  EXPECT_EQ(QRBString::md5Hash(std::string("\0abc", 4)), QRBString::md5Hash(""));
}

TEST(QRBStringPath, DeletesTheFirstRealComponent) {
  const std::pair<std::string, std::string> cases[] = {
      {"/a/b/c", "/b/c"}, {"/a/b", "/b"}, {"a/b", "b"}, {"a/b/c", "b/c"},  {"/", "/"},
      {"/a", "/a"},       {"a", "a"},     {"", ""},     {"//a//b", "/b"},  {"a//b//c", "b/c"},
      {"/a/b/", "/b/"},   {"/a/", "/a/"}, {"./a", "a"}, {"../x/y", "x/y"},
  };
  for (const auto& [path, expected] : cases) {
    EXPECT_EQ(QRBString::stringByDeletingFirstPathComponent(path), expected) << path;
  }
}

TEST(QRBStringLines, SplitsAtEveryTerminator) {
  const std::pair<std::string, Lines> cases[] = {
      {"", {}},
      {"a", {"a"}},
      {"a\n", {"a", ""}},
      {"a\n\n", {"a", "", ""}},
      {"\n", {"", ""}},
      {"a\r\nb", {"a", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"a\n\rb", {"a", "", "b"}},
      {"a\r", {"a", ""}},
      {"a\xC2\x85"
       "b\xE2\x80\xA8"
       "c\xE2\x80\xA9"
       "d",
       {"a", "b", "c", "d"}},
      // Lead bytes of the long terminators inside other characters: "¢" C2 A2, "€" E2 82 AC,
      // "‧" E2 80 A7.
      {"\xC2\xA2\xE2\x82\xAC\xE2\x80\xA7", {"\xC2\xA2\xE2\x82\xAC\xE2\x80\xA7"}},
      {std::string("x\0y\n", 4), {std::string("x\0y", 3), ""}},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(QRBString::componentsSeparatedByLineSeparators(text), expected);
  }
}

TEST(QRBStringLines, LongTextAcrossBlockBoundaries) {
  // Terminators at every offset of the 16-byte blocks the scan reads at once.
  std::string text;
  Lines expected;
  const char* terminators[] = {"\n", "\r\n", "\r", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"};
  for (int i = 0; i < 200; ++i) {
    std::string line(i % 37, static_cast<char>('a' + i % 26));
    expected.push_back(line);
    text += line + terminators[i % 6];
  }
  expected.push_back("");
  EXPECT_EQ(QRBString::componentsSeparatedByLineSeparators(text), expected);
}

}  // namespace
