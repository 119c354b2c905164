#include "configtool/text_file_edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "configtool/text_edit.h"

namespace configtool {
namespace {

// Reads `text` as a file would be read, at most `limit` bytes a call.
BlockReader FromText(const std::string& text, std::size_t limit = SIZE_MAX) {
  return [&text, limit](std::uint64_t offset, char* buf, std::size_t size) -> long {
    if (offset >= text.size()) return 0;
    const std::size_t n = std::min({size, limit, text.size() - offset});
    std::memcpy(buf, text.data() + offset, n);
    return static_cast<long>(n);
  };
}

struct Edit {
  std::string param, old_value, new_value;
};

// The file after the planned edit, as ChangeTextFile writes it.
std::string Apply(const std::string& text, const TextFileEdit& e) {
  return text.substr(0, e.line_start) + e.lines + text.substr(e.line_end);
}

// Every block size from one byte up gives what the edit of the whole text in memory gives.
void ExpectSameAsInMemory(const std::string& text, const Edit& edit) {
  std::string whole = text;
  const TextEdit expected = EditParameterLine(&whole, edit.param, edit.old_value, edit.new_value);
  for (std::size_t block : {1, 2, 3, 4, 5, 7, 16, 64, 4096}) {
    SCOPED_TRACE(testing::Message() << "block " << block << ", param \"" << edit.param
                                    << "\", text \"" << text << "\"");
    std::optional<TextFileEdit> e =
        PlanTextFileEdit(FromText(text), edit.param, edit.old_value, edit.new_value, block);
    ASSERT_TRUE(e);
    EXPECT_TRUE(e->utf8);
    EXPECT_EQ(e->size, text.size());
    ASSERT_EQ(e->found, expected.found);
    if (!expected.found) continue;
    EXPECT_EQ(e->line_start, expected.line_start);
    EXPECT_EQ(e->line_end, expected.line_end);
    EXPECT_EQ(e->count, expected.count);
    EXPECT_EQ(Apply(text, *e), whole);
  }
}

TEST(TextFileEdit, MatchesTheInMemoryEditAtEveryBlockBoundary) {
  const std::string nel = "\xC2\x85", ls = "\xE2\x80\xA8", ps = "\xE2\x80\xA9";
  const std::vector<std::pair<std::string, Edit>> cases = {
      {"disable = yes\nport = 69\n", {"port", "69", "6969"}},
      {"a = 1\r\nb = 2\r\nport = 3\r\n", {"port", "3", ""}},
      {"x\r\nport 1\r", {"port", "1", "2"}},
      {"x\r", {"\n", "x", "y"}},                          // no LF: not found
      {"a\r\nb 1\r\nc", {"\nb", "1", "22"}},              // the LF of a CR LF starts the name
      {"one\r\ntwo 1\r\nthree", {"1\r\nthr", "e", "E"}},  // the name spans two lines
      {"k" + nel + "v 1" + ls + "w 1" + ps + "z", {"v", "1", "0"}},
      {"v 1" + nel, {"1" + nel.substr(0, 1), "1", "0"}},  // ends inside the terminator
      {"aaaa aaaa\naaaa", {"aaaa", "a", "bb"}},
      {"no final newline k=1", {"k=", "1", "2"}},
      {std::string(100, 'x') + "\nlong line without end k=1 " + std::string(300, 'y'),
       {"k=", "1", "9"}},
      {"caf\xC3\xA9 = \xE2\x98\x83\n", {"\xC3\xA9", "\xE2\x98\x83", "snow"}},
      {"", {"k", "a", "b"}},
      {"text", {"", "t", "x"}},
      {"k 1\nk 1\n", {"k", "1", "2"}},  // only the first line
  };
  for (const auto& [text, edit] : cases) ExpectSameAsInMemory(text, edit);
}

TEST(TextFileEdit, MatchesTheInMemoryEditOnRandomText) {
  // Pieces that meet block edges in every way: line ends of one, two and three bytes, CR LF,
  // characters of two to four bytes.
  const std::vector<std::string> pieces = {"a",        "b",
                                           "k",        "=",
                                           " ",        "\n",
                                           "\r",       "\r\n",
                                           "\xC2\x85", "\xE2\x80\xA8",
                                           "\xC3\xA9", "\xF0\x9F\x98\x80"};
  std::mt19937 rng(20);
  auto random_text = [&](std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += pieces[rng() % pieces.size()];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    const std::string text = random_text(rng() % 40);
    Edit edit{random_text(1 + rng() % 3), random_text(1 + rng() % 2), random_text(rng() % 3)};
    ExpectSameAsInMemory(text, edit);
  }
}

TEST(TextFileEdit, RefusesWhatIsNotUtf8AnywhereAndReportsReadFailures) {
  const std::string tail(5000, 'z');
  for (const std::string& text :
       std::vector<std::string>{"k 1\n" + tail + "\xFF", "\xE2\x98", "k 1\n\xED\xA0\x80\n",
                                "k 1\n" + tail + "\xC3", std::string("k \xF0\x9F\x98") + "x"}) {
    for (std::size_t block : {1, 3, 4096}) {
      std::optional<TextFileEdit> e = PlanTextFileEdit(FromText(text), "k", "1", "2", block);
      ASSERT_TRUE(e);
      EXPECT_FALSE(e->utf8) << block;
      EXPECT_FALSE(e->found);
    }
  }
  // Short reads (as from a pipe-like file) change nothing.
  const std::string text = "a 1\nk 1\n" + tail;
  std::optional<TextFileEdit> e = PlanTextFileEdit(FromText(text, 3), "k", "1", "2", 64);
  ASSERT_TRUE(e && e->found);
  EXPECT_EQ(e->line_start, 4u);
  EXPECT_EQ(e->lines, "k 2\n");

  int calls = 0;
  auto failing = [&](std::uint64_t, char* buf, std::size_t) -> long {
    buf[0] = 'k';
    return ++calls < 3 ? 1 : -1;
  };
  EXPECT_FALSE(PlanTextFileEdit(failing, "kk", "1", "2", 16));
}

// A name found far into a file, past many blocks let go of, and checked to the end.
TEST(TextFileEdit, FindsTheLineFarIntoALargeFile) {
  std::string text;
  for (int i = 0; i < 20000; ++i) text += "filler line " + std::to_string(i) + "\n";
  text += "port = 69\n" + text;
  std::optional<TextFileEdit> e = PlanTextFileEdit(FromText(text), "port", "69", "6969", 1024);
  ASSERT_TRUE(e && e->found);
  EXPECT_EQ(e->lines, "port = 6969\n");
  EXPECT_EQ(e->line_start, text.size() / 2 - 5);
  EXPECT_EQ(e->size, text.size());
}

}  // namespace
}  // namespace configtool
