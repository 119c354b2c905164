#include "platform/bundle/shell_script.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

struct Ended {
  std::optional<std::int64_t> number;
  std::string brief;
  std::string message;
};

Ended RunScript(const std::string& source) {
  Dictionary error = ShellScript(source).executeAndReturnError();
  Ended ended;
  ended.number = error.IntegerFor(NSAppleScriptErrorNumber);
  if (const std::string* s = error.StringFor(NSAppleScriptErrorBriefMessage)) ended.brief = *s;
  if (const std::string* s = error.StringFor(NSAppleScriptErrorMessage)) ended.message = *s;
  if (!error.empty()) {
    EXPECT_EQ(error.size(), 3u);
  }
  return ended;
}

TEST(ShellScript, ErrorDictionaryFromHowTheScriptEnded) {
  struct Case {
    std::string source;
    std::optional<std::int64_t> number;  // nullopt: an empty dictionary
    std::string brief;
    std::string message;
  };
  const Case cases[] = {
      {"", std::nullopt, "", ""},
      {"echo to the output; true", std::nullopt, "", ""},
      {"echo a warning >&2; exit 0", std::nullopt, "", ""},
      {"exit 3", 3, "The script ended with status 3.", ""},
      {"echo first >&2; echo last >&2; exit 255", 255, "last", "first\nlast\n"},
      {"printf 'no newline' >&2; false", 1, "no newline", "no newline"},
      {"printf 'line\\r\\n\\n' >&2; exit 2", 2, "line", "line\r\n\n"},
      {"kill -TERM $$", 128 + 15, "The script ended with status 143.", ""},
      {"nosuchcommand-qrb", 127, "", ""},  // the brief is the shell's own message
  };
  for (const Case& c : cases) {
    Ended e = RunScript(c.source);
    EXPECT_EQ(e.number, c.number) << c.source;
    if (c.source == "nosuchcommand-qrb") {
      EXPECT_NE(e.brief.find("not found"), std::string::npos) << e.brief;
      continue;
    }
    EXPECT_EQ(e.brief, c.brief) << c.source;
    EXPECT_EQ(e.message, c.message) << c.source;
  }
}

TEST(ShellScript, SourceComesOnStandardInputNotInArguments) {
  // The shell's own arguments are only "/bin/sh -s", whatever the script holds.
  Ended e = RunScript("secret=hunter2; tr '\\0' ' ' </proc/$$/cmdline >&2; exit 9");
  EXPECT_EQ(e.number, 9);
  EXPECT_EQ(e.message, "/bin/sh -s ");
}

TEST(ShellScript, LongSourceAndOutputDoNotStall) {
  std::string source;
  for (int i = 0; i < 20000; ++i)
    source += "# a comment line to make the text longer than a pipe\n";
  source += "i=0; while [ $i -lt 3000 ]; do echo out; echo err >&2; i=$((i+1)); done; exit 4\n";
  Ended e = RunScript(source);
  EXPECT_EQ(e.number, 4);
  EXPECT_EQ(e.message.size(), 3000u * 4);
}

TEST(ShellScript, QuotedWordReadsBackExactly) {
  const std::string values[] = {
      "",       "plain",        "it's",       "''", "$(touch /tmp/qrb-quoted)", "`id`", "a;b&c",
      "x\ny\n", "back\\slash'", "  spaces  ", "*",  "\xC3\xA9\t\x01\xFF"};
  for (const std::string& value : values) {
    std::optional<std::string> word = ShellQuotedWord(value);
    ASSERT_TRUE(word) << value;
    Ended e = RunScript("v=" + *word + "\nprintf '%s' \"$v\" >&2; exit 1");
    EXPECT_EQ(e.message, value);
  }
  EXPECT_EQ(ShellQuotedWord(std::string("a\0b", 3)), std::nullopt);
  EXPECT_EQ(ShellQuotedWord("it's"), "'it'\\''s'");
}

}  // namespace
}  // namespace platform
